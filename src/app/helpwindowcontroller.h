#pragma once

#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;

namespace varko {

class HelpViewController;

/// A help window; its content is a `HelpViewController`. It finds text in the help;
/// it has nothing to save, copy or zoom, so its menus hold those items disabled, as
/// every window's menus read alike. Items dropped on it are for the application to
/// open.
class HelpWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpWindowController)
public:
    explicit HelpWindowController(QWidget* parent = nullptr);
    [[nodiscard]] HelpViewController* viewController() const { return content; }
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

signals:
    /// Items dropped onto the window, for the document controller to open.
    void itemsDropped(const QStringList& paths);

protected:
private:
    HelpViewController* content = nullptr;
    QMenu* file = nullptr;
};

/// Adds the File, Edit and View menus of a window with nothing to act on to `bar`:
/// `close` (null: a disabled Close), and every other item disabled. Returns the File
/// menu.
QMenu* addInertWindowMenus(QMenuBar& bar, QAction* close);

}  // namespace varko
