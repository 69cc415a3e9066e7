#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QToolButton;

namespace varko {

class DocumentController;

/// The window that Varko shows on a desktop without a menu bar of its own while no
/// document is open: Open…, the recent items, Open Log Browser and a place to drop
/// items. It closes itself as soon as a document's window is shown.
class StartWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StartWindow)
public:
    /// `open` and `openLogBrowser` are the application's own menu actions, so that the
    /// buttons are enabled, hidden and explained exactly as those items are.
    StartWindow(DocumentController& documents, QAction* open, QAction* openLogBrowser,
                QWidget* parent = nullptr);

    /// Shows what the launch found amiss, in a line that doesn't block; empty hides it.
    void showNotice(const QString& text);

    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

    QToolButton* openButton = nullptr;
    QToolButton* logBrowserButton = nullptr;
    /// One entry per recent item, newest first; a click opens it.
    QListWidget* recentList = nullptr;
    QLabel* dropZone = nullptr;
    QLabel* notice = nullptr;

private:
    void fillRecentList();

    DocumentController& documents;
    QLabel* noRecent = nullptr;
    QMenu* file = nullptr;
};

}  // namespace varko
