#pragma once

#include <QMainWindow>

#include "tools/toolset.h"

class QMenu;

namespace varko {

class LogViewController;

/// A log browser window; its content is a `LogViewController`. The window owns the
/// actions that work on it and the menus that hold them.
class LogWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogWindowController)
public:
    explicit LogWindowController(host::ToolSet tools, QWidget* parent = nullptr);

    [[nodiscard]] LogViewController* viewController() const { return content; }
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

signals:
    /// Local items dropped onto the window, for the document controller to open.
    void itemsDropped(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    LogViewController* content = nullptr;
    QMenu* file = nullptr;
};

}  // namespace varko
