#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>
#include <utility>

#include "app/storyboard.h"

namespace varko {

class DocumentWindowController;

/// Opens items as documents, one window each: from the Open dialog, Open Recent,
/// drops, the command line and the platform's file-open events. An item that is
/// already open brings its window forward.
class DocumentController final : public QObject {
    Q_OBJECT
public:
    explicit DocumentController(Storyboard storyboard, QObject* parent = nullptr);
    /// Calls off the containers still being written out.
    ~DocumentController() override;

    /// Opens the item, or tells the user why it can't be opened. Returns its window.
    /// Where the platform profile says so, a disk image or zip archive is written out off
    /// the GUI thread and each app in it gets a window later, titled "App.app — Image.dmg",
    /// which keeps the written-out copy for as long as it lives; nothing is returned then.
    DocumentWindowController* openDocument(const QString& path);
    /// Opens the items of one request (a hand-over, a drop, the Open dialog's selection) as
    /// `openDocument` does, but opens at most `maxNewWindows` new windows, and tells in one
    /// alert every item it did not open and why. Returns the last window opened or brought
    /// forward, if any.
    DocumentWindowController* openDocuments(const QStringList& paths);

    /// The Open dialog, in which `.app` folders are chosen like files.
    void showOpenDialog(QWidget* parent);

    [[nodiscard]] QStringList recentDocuments() const;
    void clearRecentDocuments();
    [[nodiscard]] QList<DocumentWindowController*> windows() const;

    static constexpr int maxRecentDocuments = 10;
    /// Each window reads its item with up to four threads and keeps what it read: a hostile
    /// item can cost tens of megabytes. One request may name hundreds of them, so it opens
    /// this many and names the rest as not opened; Scan Folder is the way to look at many.
    static constexpr qsizetype maxNewWindows = 8;
    /// The refusals an alert names one by one; the rest it counts.
    static constexpr qsizetype maxNamedRefusals = 10;

signals:
    void recentDocumentsChanged();
    /// A document's window was opened or brought forward.
    void documentShown(DocumentWindowController* window);
    /// The message shown when an item could not be opened (for tests).
    void openRefused(const QString& message);
    /// A disk image or zip archive was written out and its apps' windows opened, if any.
    void containerOpened(const QString& path);

private:
    /// One request's new windows so far, and what it could not open.
    struct Request {
        qsizetype opened = 0;
        QStringList reasons;
        QStringList notOpened;  ///< past `maxNewWindows`
    };
    DocumentWindowController* open(const QString& path, Request& request);
    /// A new window reading the app or package at `path`, known by `key`; for an app in a
    /// container, `shownFolder` names the container in place of the folder it was written to.
    DocumentWindowController* openWindow(
        const QString& key, const QString& path, const QString& typeName, const QString& title,
        const std::optional<std::pair<QString, QString>>& shownFolder = std::nullopt);
    /// Starts writing out a disk image or zip archive, unless its apps are open already.
    void openContainer(const QString& path, const QString& key);
    void tell(const Request& request);
    void noteRecent(const QString& path);
    /// Tells windows of items with the same name apart by their folders.
    void retitleWindows();

    Storyboard storyboard;
    QHash<QString, QPointer<DocumentWindowController>> windowsByKey;
    /// The containers being written out now, by key.
    QSet<QString> expanding;
    std::shared_ptr<std::atomic<bool>> cancelExpanding = std::make_shared<std::atomic<bool>>(false);
};

/// The identity of an item on disk, so that two spellings of one path open one window.
[[nodiscard]] QString documentKey(const QString& path);

}  // namespace varko
