#pragma once

#include <QStringList>

namespace varko {

/// Window titles that tell apart open items of the same name. `names[i]` is the name
/// that item i's window shows (made visible already) and `paths[i]` where the item is.
/// An item whose name no other has gets an empty title (its name does); the others get
/// their name, " — " and the shortest end of their folder's path that none of the
/// others shares: "Example.app — one" and "Example.app — two" for /path/one and
/// /path/two, the whole folder where nothing shorter will do.
[[nodiscard]] QStringList distinctTitles(const QStringList& names, const QStringList& paths);

}  // namespace varko
