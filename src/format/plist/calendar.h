#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/expected.h"

// Gregorian dates against the property-list epoch, 2001-01-01 00:00:00 UTC.
namespace varko::plist::detail {

struct CivilTime {
    std::int64_t year = 2001;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

/// The whole second at or before `secondsSince2001`. Values beyond a few million
/// years, and NaN, are clamped so the result stays printable and readable again.
[[nodiscard]] CivilTime civilFromSeconds(double secondsSince2001);

/// `YYYY-MM-DDTHH:MM:SSZ`, the only date form XML property lists hold. An error is placed
/// at the start of `text`; the caller knows where that lies.
[[nodiscard]] Expected<double> parseIsoDate(std::string_view text);

[[nodiscard]] std::string formatIsoDate(double secondsSince2001);

/// `YYYY-MM-DD HH:MM:SS +0000`, as the platform describes dates.
[[nodiscard]] std::string formatDescriptionDate(double secondsSince2001);

}  // namespace varko::plist::detail
