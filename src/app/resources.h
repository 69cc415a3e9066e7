#pragma once

#include <QString>

namespace varko {

/// The path of a resource that ships with Varko, or empty when it is missing: in
/// the bundle's Resources folder on macOS, elsewhere beside the program or in the
/// share/varko folder of its installation.
[[nodiscard]] QString resourcePath(const QString& name);

}  // namespace varko
