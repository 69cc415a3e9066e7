#include "app/storyboard.h"

#include <QMenuBar>

#include "app/helpwindowcontroller.h"
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
    return finish(new DocumentWindowController(tools), documentWindowController);
}

LogWindowController* Storyboard::instantiateLogWindow() const {
    return finish(new LogWindowController(tools), logWindowController);
}

HelpWindowController* Storyboard::instantiateHelpWindow() const {
    return finish(new HelpWindowController, helpWindowController);
}

}  // namespace varko
