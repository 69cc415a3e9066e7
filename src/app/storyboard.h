#pragma once

#include <functional>

#include "tools/toolset.h"

class QMenu;
class QMenuBar;

namespace varko {

class ComparisonWindow;
class DocumentWindowController;
class HelpWindowController;
class LogWindowController;

/// Makes the application's windows, as the main storyboard would: each with the
/// tool set, its own actions and menus, and the application's menu items added by
/// `addApplicationMenus`. A window keeps its storyboard identifier as its object name.
class Storyboard final {
public:
    /// Adds the application's items to a new window's menu bar, around its File menu.
    using MenuInstaller = std::function<void(QMenuBar& bar, QMenu& fileMenu)>;

    explicit Storyboard(host::ToolSet tools, MenuInstaller addApplicationMenus = {})
        : tools(std::move(tools)), addApplicationMenus(std::move(addApplicationMenus)) {}

    static constexpr auto documentWindowController = "Document Window Controller";
    static constexpr auto logWindowController = "Log Window Controller";
    static constexpr auto helpWindowController = "Help Window Controller";
    static constexpr auto comparisonWindow = "Comparison Window";

    [[nodiscard]] DocumentWindowController* instantiateDocumentWindow() const;
    /// The tools that every window it makes is given.
    [[nodiscard]] const host::ToolSet& toolSet() const { return tools; }
    [[nodiscard]] LogWindowController* instantiateLogWindow() const;
    [[nodiscard]] HelpWindowController* instantiateHelpWindow() const;
    [[nodiscard]] ComparisonWindow* instantiateComparisonWindow() const;

private:
    template <class Window>
    Window* finish(Window* window, const char* identifier) const;

    host::ToolSet tools;
    MenuInstaller addApplicationMenus;
};

}  // namespace varko
