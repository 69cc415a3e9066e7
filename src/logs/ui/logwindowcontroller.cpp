#include "logs/ui/logwindowcontroller.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "logs/ui/logviewcontroller.h"
#include "ui/windowmenus.h"

namespace varko {

namespace {

QStringList localPaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

}  // namespace

LogWindowController::LogWindowController(host::ToolSet tools, QWidget* parent)
    : QMainWindow(parent) {
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    file = addWindowMenus(*this, content, &LogViewController::savelogButtonAction,
                          &LogViewController::incFontSize, &LogViewController::decFontSize);
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    setAcceptDrops(true);
    resize(1000, 640);
}

void LogWindowController::dragEnterEvent(QDragEnterEvent* event) {
    if (!localPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void LogWindowController::dropEvent(QDropEvent* event) {
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    emit itemsDropped(paths);
}

void LogWindowController::closeEvent(QCloseEvent* event) {
    // The application keeps closed log windows; their entries need not stay too.
    content->releaseLogs();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
