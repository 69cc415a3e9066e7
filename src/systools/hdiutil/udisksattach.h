#pragma once

#include <QString>
#include <vector>

#include "format/expected.h"

namespace varko::hdiutil {

/// One row of what `hdiutil attach` prints: a device, what it holds, and where it
/// is mounted (empty when it is not).
struct AttachedDevice {
    QString device;
    QString content;  ///< the file system type, or empty for a partitioned whole disk
    QString mountPoint;
};

/// The row as hdiutil prints it: the device padded to 20 columns, a tab, the content
/// cut or padded to 31, a tab, the mount point.
[[nodiscard]] QByteArray attachLine(const AttachedDevice& row);

/// Attaches `image` read-only as a loop device through `udisksctl` (udisks2), which
/// lets an ordinary user of the desktop session do so, and mounts its file system or
/// each of its partitions. Rows come whole disk first. Every udisksctl run is bounded
/// in time and output. When nothing could be mounted the loop device is given back
/// and the error (toolFailed) carries udisks' own words.
[[nodiscard]] Expected<std::vector<AttachedDevice>> attachWithUdisks(const QString& udisksctl,
                                                                     const QString& image);

/// The file system type that /proc/self/mountinfo gives for `device`, or empty.
[[nodiscard]] QString mountedType(const QString& device);

}  // namespace varko::hdiutil
