#include "logs/ui/logwindowcontroller.h"

#include "logs/ui/logviewcontroller.h"
#include "ui/windowmenus.h"

namespace varko {

LogWindowController::LogWindowController(host::ToolSet tools, QWidget* parent)
    : QMainWindow(parent) {
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    file = addWindowMenus(*this, content, &LogViewController::savelogButtonAction,
                          &LogViewController::incFontSize, &LogViewController::decFontSize);
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    resize(1000, 640);
}

void LogWindowController::closeEvent(QCloseEvent* event) {
    // The application keeps closed log windows; their entries need not stay too.
    content->releaseLogs();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
