#include "logs/ui/logwindowcontroller.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "logs/ui/logviewcontroller.h"
#include "ui/droppedpaths.h"
#include "ui/findbar.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

LogWindowController::LogWindowController(host::ToolSet tools, QWidget* parent)
    : QMainWindow(parent) {
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    LogOutputView* lines = content->outputTextbox;
    WindowActions more{.copy = [lines] { lines->copy(); },
                       .selectAll = [lines] { lines->selectAll(); },
                       .actualSize = [this] { content->resetFontSize(); }};
    findThrough(more, content->findBar);
    file = addWindowMenus(*this, content, &LogViewController::savelogButtonAction,
                          &LogViewController::incFontSize, &LogViewController::decFontSize, more);
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    connect(new ItemDrops(*this), &ItemDrops::itemsDropped, this,
            &LogWindowController::itemsDropped);
    fitToScreen(*this, {1000, 620});
}

void LogWindowController::closeEvent(QCloseEvent* event) {
    // The application keeps closed log windows; their entries need not stay too.
    content->releaseLogs();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
