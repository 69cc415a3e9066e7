#include "app/storyboard.h"

#include "app/helpwindowcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"

namespace varko {

QWidget* Storyboard::instantiateController(const QString& identifier) const {
    if (identifier == QLatin1String(documentWindowController)) return new DocumentWindowController(tools);
    if (identifier == QLatin1String(logWindowController)) return new LogWindowController(tools);
    if (identifier == QLatin1String(helpWindowController)) return new HelpWindowController;
    return nullptr;
}

}  // namespace varko
