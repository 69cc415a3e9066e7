#pragma once

#include <QMainWindow>

namespace varko {

class HelpViewController;

/// A help window; its content is a `HelpViewController`.
class HelpWindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpWindowController)
public:
    explicit HelpWindowController(QWidget* parent = nullptr);
    [[nodiscard]] HelpViewController* viewController() const { return content; }

private:
    HelpViewController* content = nullptr;
};

}  // namespace varko
