#pragma once

#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;

namespace varko {

class HelpViewController;

/// A help window; its content is a `HelpViewController`. It has nothing to save or
/// zoom, so its menus hold those items disabled, as every window's menus read alike.
class HelpWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpWindowController)
public:
    explicit HelpWindowController(QWidget* parent = nullptr);
    [[nodiscard]] HelpViewController* viewController() const { return content; }
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

private:
    HelpViewController* content = nullptr;
    QMenu* file = nullptr;
};

/// Adds the File and View menus of a window with nothing to save or zoom to `bar`:
/// `close` (null: a disabled Close) and disabled Save Report…, Bigger and Smaller.
/// Returns the File menu.
QMenu* addInertWindowMenus(QMenuBar& bar, QAction* close);

}  // namespace varko
