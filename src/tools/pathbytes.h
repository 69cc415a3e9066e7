#pragma once

#include <QByteArray>
#include <QString>

namespace varko::host {

// A file name is bytes, and a stranger's need not be UTF-8. Qt's own decoding would
// turn each bad byte into U+FFFD and name a file that does not exist, so paths are
// decoded here with every byte that is not part of valid UTF-8 kept as a lone
// surrogate U+DC80–U+DCFF, which valid text never holds, and encoded back exactly.

/// The system's bytes of a path as text, losing nothing.
[[nodiscard]] QString pathFromSystem(QByteArrayView bytes);
/// The exact bytes that `pathFromSystem` was given.
[[nodiscard]] QByteArray pathToSystem(QStringView path);

}  // namespace varko::host
