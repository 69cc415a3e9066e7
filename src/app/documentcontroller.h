#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

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

    /// Opens the item, or tells the user why it can't be opened. Returns its window.
    DocumentWindowController* openDocument(const QString& path);
    void openDocuments(const QStringList& paths);

    /// The Open dialog, in which `.app` folders are chosen like files.
    void showOpenDialog(QWidget* parent);

    [[nodiscard]] QStringList recentDocuments() const;
    void clearRecentDocuments();
    [[nodiscard]] QList<DocumentWindowController*> windows() const;

    static constexpr int maxRecentDocuments = 10;

signals:
    void recentDocumentsChanged();
    /// A document's window was opened or brought forward.
    void documentShown(DocumentWindowController* window);
    /// The message shown when an item could not be opened (for tests).
    void openRefused(const QString& message);

private:
    void noteRecent(const QString& path);
    /// Tells windows of items with the same name apart by their folders.
    void retitleWindows();

    Storyboard storyboard;
    QHash<QString, QPointer<DocumentWindowController>> open;
};

/// The identity of an item on disk, so that two spellings of one path open one window.
[[nodiscard]] QString documentKey(const QString& path);

}  // namespace varko
