#include "app/storyboard.h"

#include "report/ui/documentwindowcontroller.h"

namespace varko {

QWidget* Storyboard::instantiateController(const QString& identifier) const {
    if (identifier == QLatin1String(documentWindowController)) return new DocumentWindowController(tools);
    return nullptr;
}

}  // namespace varko
