#pragma once

#include <QString>

#include "format/expected.h"

namespace varko::host {

/// Replaces `fileName` with the bytes, or leaves an existing file as it was: the
/// data goes to a temporary file that is renamed over the old one only when every
/// byte was written. Refuses to replace anything but a regular file (a device, a
/// FIFO). Fails with the system's reason in words.
[[nodiscard]] Expected<void> writeFileAtomically(const QString& fileName, const char* data,
                                                 qint64 size);

}  // namespace varko::host
