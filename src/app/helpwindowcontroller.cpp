#include "app/helpwindowcontroller.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>

#include "app/helpviewcontroller.h"
#include "ui/droppedpaths.h"
#include "ui/findbar.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

HelpWindowController::HelpWindowController(QWidget* parent) : QMainWindow(parent) {
    content = new HelpViewController(this);
    setCentralWidget(content);
    WindowActions actions{.close = [this] { close(); }};
    findThrough(actions, content->findBar);
    file = addStandardMenus(*menuBar(), *this, actions);
    setWindowTitle(tr("Varko Help"));
    connect(new ItemDrops(*this), &ItemDrops::itemsDropped, this,
            &HelpWindowController::itemsDropped);
    fitToScreen(*this, {720, 680});
}

QMenu* addInertWindowMenus(QMenuBar& bar, QAction* close) {
    WindowActions actions;
    if (close != nullptr) actions.close = [close] { close->trigger(); };
    return addStandardMenus(bar, close != nullptr ? static_cast<QObject&>(*close) : bar, actions);
}

}  // namespace varko
