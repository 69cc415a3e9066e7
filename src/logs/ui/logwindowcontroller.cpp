#include "logs/ui/logwindowcontroller.h"

#include "logs/ui/logviewcontroller.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

LogWindowController::LogWindowController(host::ToolSet tools, QWidget* parent)
    : QMainWindow(parent) {
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    LogOutputView* lines = content->outputTextbox;
    file = addWindowMenus(*this, content, &LogViewController::savelogButtonAction,
                          &LogViewController::incFontSize, &LogViewController::decFontSize,
                          {.copy = [lines] { lines->copy(); },
                           .selectAll = [lines] { lines->selectAll(); },
                           .actualSize = [this] { content->resetFontSize(); }});
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    fitToScreen(*this, {1000, 620});
}

void LogWindowController::closeEvent(QCloseEvent* event) {
    // The application keeps closed log windows; their entries need not stay too.
    content->releaseLogs();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
