#include "app/storyboard.h"

#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"

namespace varko {

QWidget* Storyboard::instantiateController(const QString& identifier) const {
    if (identifier == QLatin1String(documentWindowController)) return new DocumentWindowController(tools);
    if (identifier == QLatin1String(logWindowController)) return new LogWindowController(tools);
    return nullptr;
}

}  // namespace varko
