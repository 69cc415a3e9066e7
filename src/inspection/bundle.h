#pragma once

#include <QString>
#include <optional>

#include "format/plist/value.h"

namespace varko {

/// A bundle is any folder; its information dictionary lives in `Contents/Info.plist`,
/// or in `Info.plist` at the top of a flat bundle.
struct Bundle {
    QString path;

    /// The bundle at `path`, or nothing when no folder is there.
    [[nodiscard]] static std::optional<Bundle> open(const QString& path);

    /// The information dictionary. Empty when there is no readable property list,
    /// it is not a dictionary, it is larger than `maxInfoPlistBytes`, or a symbolic
    /// link takes it out of the bundle: a stranger's bundle must not make us read,
    /// and report, a file of the user's.
    [[nodiscard]] plist::Dictionary infoDictionary() const;

    static constexpr qint64 maxInfoPlistBytes = 32 << 20;
};

}  // namespace varko
