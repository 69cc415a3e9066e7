#pragma once

#include <QString>

namespace varko {

class ApplicationsModel;

/// The Applications window's pane on one item, as HTML: who signed it and the verdict,
/// then every privacy service it may use with declared, entitled and allowed in words.
/// Every text the item controls is escaped and has its control characters made visible.
[[nodiscard]] QString itemDetailsHtml(const ApplicationsModel& model, int row);

}  // namespace varko
