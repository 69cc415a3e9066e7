#include "logs/ui/logwindowcontroller.h"

#include "logs/ui/logviewcontroller.h"

namespace varko {

LogWindowController::LogWindowController(tools::ToolSet tools, QWidget* parent) : QMainWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    resize(1000, 640);
}

}  // namespace varko
