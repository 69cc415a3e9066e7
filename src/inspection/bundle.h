#pragma once

#include <QString>
#include <optional>

#include "format/expected.h"
#include "format/plist/value.h"

namespace varko {

/// A bundle is any folder; its information dictionary lives in `Contents/Info.plist`,
/// or in `Info.plist` at the top of a flat bundle.
struct Bundle {
    QString path;

    /// The bundle at `path`, or nothing when no folder is there.
    [[nodiscard]] static Expected<Bundle> open(const QString& path);

    /// The information dictionary, or why it could not be read: no property list
    /// (missing), one that is not a dictionary (malformed) or is larger than
    /// `maxInfoPlistBytes`, a FIFO or device, or a symbolic link that takes it out
    /// of the bundle (a stranger's bundle must not make us read a file of the user's).
    [[nodiscard]] Expected<plist::Dictionary> readInfoDictionary() const;
    /// The same, empty when it could not be read.
    [[nodiscard]] plist::Dictionary infoDictionary() const;

    static constexpr qint64 maxInfoPlistBytes = 32 << 20;
};

}  // namespace varko
