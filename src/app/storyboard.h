#pragma once

#include <QString>
#include <QWidget>

#include "tools/toolset.h"

namespace varko {

/// Makes the application's window controllers by their identifiers, as the main
/// storyboard would.
class Storyboard final {
public:
    explicit Storyboard(tools::ToolSet tools) : tools(std::move(tools)) {}

    static constexpr auto documentWindowController = "Document Window Controller";
    static constexpr auto logWindowController = "Log Window Controller";
    static constexpr auto helpWindowController = "Help Window Controller";

    /// A new window controller, or null for an unknown identifier.
    [[nodiscard]] QWidget* instantiateController(const QString& identifier) const;

private:
    tools::ToolSet tools;
};

}  // namespace varko
