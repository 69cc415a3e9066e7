#pragma once

#include <optional>
#include <string_view>

#include "format/expected.h"

// Qt-free, so that the fuzz build reads timestamps as the log browser does.

namespace varko::unifiedlog {

/// Microseconds since 1970-01-01 00:00:00 UTC; the same type as Qt's qint64.
using Microseconds = long long;

/// A date and time of the proleptic Gregorian calendar with every field in range.
struct CivilTime {
    unsigned year, month, day, hour, minute, second;
};

/// "yyyy-MM-dd HH:mm:ss" at the start of `text`; nothing when a field is missing or
/// out of range, such as 29 February of a common year.
[[nodiscard]] Expected<CivilTime> readCivilTime(std::string_view text);

/// Seconds from 1970-01-01 00:00:00 to `time`, both read in the same zone.
[[nodiscard]] long long secondsSinceEpoch(const CivilTime& time);

/// Reads the log tool's timestamps, "yyyy-MM-dd HH:mm:ss.SSSSSSZZZ" in the POSIX
/// locale: exactly 31 characters such as "2021-04-07 18:22:06.123456+0100". The
/// offset in the text decides the zone. Anything else, including impossible dates
/// and times, gives nothing: the platform's formatters are strict too.
[[nodiscard]] Expected<Microseconds> parseLongTimestamp(std::string_view text);

}  // namespace varko::unifiedlog
