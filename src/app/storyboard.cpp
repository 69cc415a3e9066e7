#include "app/storyboard.h"

#include <QMenuBar>

#include "app/comparewith.h"
#include "app/helpwindowcontroller.h"
#include "app/privacydatabase.h"
#include "compare/ui/comparisonwindow.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"

namespace varko {

template <class Window>
Window* Storyboard::finish(Window* window, const char* identifier) const {
    window->setObjectName(QLatin1String(identifier));
    if (addApplicationMenus) addApplicationMenus(*window->menuBar(), *window->fileMenu());
    return window;
}

DocumentWindowController* Storyboard::instantiateDocumentWindow() const {
    auto* window = new DocumentWindowController(tools);
    addCompareWith(*window, *this);
    addOpenPrivacyDatabase(*window);
    return finish(window, documentWindowController);
}

LogWindowController* Storyboard::instantiateLogWindow() const {
    return finish(new LogWindowController(tools), logWindowController);
}

ComparisonWindow* Storyboard::instantiateComparisonWindow() const {
    return finish(new ComparisonWindow(tools), comparisonWindow);
}

HelpWindowController* Storyboard::instantiateHelpWindow() const {
    return finish(new HelpWindowController, helpWindowController);
}

}  // namespace varko
