#pragma once

#include <QMainWindow>

#include "tools/toolset.h"

namespace varko {

class LogViewController;

/// A log browser window; its content is a `LogViewController`.
class LogWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogWindowController)
public:
    explicit LogWindowController(tools::ToolSet tools = tools::ToolSet::system(), QWidget* parent = nullptr);

    [[nodiscard]] LogViewController* viewController() const { return content; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    LogViewController* content = nullptr;
};

}  // namespace varko
