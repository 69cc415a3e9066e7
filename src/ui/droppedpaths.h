#pragma once

#include <QStringList>

class QMimeData;

namespace varko {

/// The local paths among dropped URLs: what every Varko window opens when items are
/// dropped on it.
[[nodiscard]] QStringList droppedPaths(const QMimeData* mime);

}  // namespace varko
