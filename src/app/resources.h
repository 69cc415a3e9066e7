#pragma once

#include <QString>

#include "format/expected.h"

namespace varko {

/// The path of a resource that ships with Varko: in the bundle's Resources folder
/// on macOS, elsewhere beside the program or in the share/varko folder of its
/// installation. A resource found nowhere is `ErrorCode::missing`.
[[nodiscard]] Expected<QString> resourcePath(const QString& name);

}  // namespace varko
