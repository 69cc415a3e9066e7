#include "report/ui/documentwindowcontroller.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "report/ui/viewcontroller.h"

namespace varko {

DocumentWindowController::DocumentWindowController(tools::ToolSet tools, QWidget* parent)
    : QMainWindow(parent), content(new ViewController(std::move(tools), this)) {
    setCentralWidget(content);
    setAcceptDrops(true);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(760, 860);
}

void DocumentWindowController::setDocument(std::shared_ptr<Document> document, const QString& title) {
    doc = std::move(document);
    setWindowTitle(title);
    setWindowFilePath(doc && doc->theInfo ? doc->theInfo->path() : QString());
}

QStringList droppedPaths(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

void DocumentWindowController::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void DocumentWindowController::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    emit itemsDropped(paths);
}

}  // namespace varko
