#pragma once

#include <QString>
#include <QtGlobal>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>

#include "logs/logtimestamp.h"

namespace varko::unifiedlog {

static_assert(std::is_same_v<Microseconds, qint64>);

/// Writes "yy-MM-dd HH:mm:ss.SSS" in the system's time zone, fraction truncated to
/// milliseconds as the platform's formatter does.
class ShortTimeFormatter final {
public:
    [[nodiscard]] QString format(Microseconds time) const;
    /// The same text as UTF-16 code units written to `out`, which holds 21 of them.
    void formatInto(Microseconds time, char16_t* out) const;

private:
    // Log entries come in runs from the same minute; asking the C library for the
    // zone offset of each would dominate a redisplay of a million lines.
    mutable qint64 cachedMinute = std::numeric_limits<qint64>::min();
    mutable qint64 cachedOffsetSeconds = 0;
};

/// Local date and time "yyyy-MM-dd HH:mm:ss" of a moment, in the system's time zone.
[[nodiscard]] QString formatLocalDateTime(Microseconds time);

/// Reads "yyyy-MM-dd HH:mm:ss" as a local date and time; nothing when it isn't one.
[[nodiscard]] Expected<Microseconds> parseLocalDateTime(std::string_view text);

/// The current moment.
[[nodiscard]] Microseconds now();

}  // namespace varko::unifiedlog
