#pragma once

#include <QString>

#include "format/expected.h"

namespace varko::hdiutil {

/// What the image file's own bytes say about whether this system can read it.
enum class ImageFormat {
    /// Apple's Universal Disk Image Format: the volume's blocks sit in Apple's own
    /// chunk table (mostly compressed), which only macOS's disk image driver decodes.
    Udif,
    /// Anything else: a raw disk or volume, an ISO. The kernel decides whether it
    /// knows the file system on it.
    Other,
};

/// Looks at the last 512 bytes of `path` for UDIF's "koly" trailer (magic "koly",
/// big-endian version 4 and header size 512, as Apple's DiskImages writes it).
/// Fails (missing, refused or unreadable) when `path` is not a readable regular file.
[[nodiscard]] Expected<ImageFormat> readImageFormat(const QString& path);

}  // namespace varko::hdiutil
