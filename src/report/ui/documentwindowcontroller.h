#pragma once

#include <QFuture>
#include <QMainWindow>
#include <QUrl>
#include <memory>

#include "inspection/document.h"
#include "tools/toolset.h"

class QMenu;
class QMimeData;
class QThreadPool;

namespace varko {

class ViewController;

/// An item being read on a pool of its own, which may start before its window is built so
/// that the two overlap. The window that takes it over owns the pool and calls the reading
/// off when it closes.
struct DocumentReading {
    QUrl url;
    QFuture<std::shared_ptr<Document>> read;
    QThreadPool* pool = nullptr;
    host::CancelFlag cancel;
};

/// Starts reading the item at `url` as `typeName`.
[[nodiscard]] DocumentReading startReading(const host::ToolSet& tools, const QUrl& url,
                                           const QString& typeName);

/// The window of one document; its content is a `ViewController`, which finds the
/// record through this window's document. The window owns the actions that work on
/// it (Close, Save Report…, Compare With…, Copy, Select All, Find, the text sizes) and the menus
/// that hold them.
class DocumentWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DocumentWindowController)
public:
    explicit DocumentWindowController(host::ToolSet tools, QWidget* parent = nullptr);
    ~DocumentWindowController() override;

    /// `title` is the item's name, shown unless `setDistinctTitle` gave another.
    void setDocument(std::shared_ptr<Document> document, const QString& title);
    /// The title to show instead of the item's name, which another window also has;
    /// empty for the item's name again.
    void setDistinctTitle(const QString& title);
    /// The item's name, whatever the window's title shows besides.
    [[nodiscard]] const QString& documentTitle() const { return itemTitle; }
    /// Reads the item off the window's thread. The window shows at once in its busy
    /// state and gets the document only when its record is complete, so a bundle
    /// that is slow or never finishes reading cannot freeze it.
    void readDocument(const QUrl& url, const QString& typeName, const QString& title);
    /// The same for a reading already started, which the window takes over.
    void readDocument(DocumentReading started, const QString& title);
    [[nodiscard]] bool isReading() const { return reading; }
    [[nodiscard]] Document* document() const { return doc.get(); }
    [[nodiscard]] ViewController* viewController() const { return content; }
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

signals:
    /// Items dropped onto the window, for the document controller to open.
    void itemsDropped(const QStringList& paths);
    /// The document read by `readDocument` has arrived and the view shows it.
    void documentRead();
    /// File › Compare With… was chosen, for the application to ask for the other version.
    void compareWithRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setTitle(const QString& title);
    void stopReading();

    std::shared_ptr<Document> doc;
    QString itemTitle;
    QString distinctTitle;
    host::ToolSet tools;
    ViewController* content = nullptr;
    QMenu* file = nullptr;
    bool reading = false;
    QThreadPool* readingPool = nullptr;
    host::CancelFlag readingCancel;
};

}  // namespace varko
