#include "systools/log/timeformat.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace varko::logtool {

namespace {

constexpr std::uint64_t usecPerSecond = 1'000'000;

/// Exactly `digits` decimal digits at `text[at]`.
[[nodiscard]] std::optional<int> digitsAt(std::string_view text, std::size_t at, int digits) {
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string formatTimestamp(std::uint64_t usec) {
    const std::uint64_t seconds = usec / usecPerSecond;
    const auto micro = static_cast<unsigned>(usec % usecPerSecond);
    std::tm local{};
    // Year 9999 ends before 2^38 seconds; beyond that localtime would widen the column.
    const auto clock = static_cast<std::time_t>(seconds);
    const bool shown = seconds < (std::uint64_t{1} << 38) && localtime_r(&clock, &local) &&
                       local.tm_year + 1900 >= 0 && local.tm_year + 1900 <= 9999;
    if (!shown) return "1970-01-01 00:00:00.000000+0000";
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%06u%c%02ld%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, micro, offsetMinutes < 0 ? '-' : '+',
                  (absolute / 60) % 100, absolute % 60);
    return out;
}

Expected<std::uint64_t> parseLocalDateTime(std::string_view text) {
    const Error bad{0, "not a local date and time \"yyyy-MM-dd HH:mm:ss\" or a date \"yyyy-MM-dd\"",
                    ErrorCode::malformed};
    if (text.size() != 10 && text.size() != 19) return bad;
    if (text[4] != '-' || text[7] != '-') return bad;
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    std::optional<int> hour = 0, minute = 0, second = 0;
    if (text.size() == 19) {
        if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return bad;
        hour = digitsAt(text, 11, 2);
        minute = digitsAt(text, 14, 2);
        second = digitsAt(text, 17, 2);
    }
    if (!year || !month || !day || !hour || !minute || !second) return bad;
    if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 ||
        *minute > 59 || *second > 59)
        return bad;
    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    // mktime rolls 31 April into 1 May; a date it had to move did not exist.
    if (seconds < 0 || local.tm_mday != *day || local.tm_mon != *month - 1) return bad;
    return static_cast<std::uint64_t>(seconds) * usecPerSecond;
}

Expected<std::uint64_t> parseDuration(std::string_view text) {
    const Error bad{0, "not N with an optional s, m, h or d", ErrorCode::malformed};
    if (text.empty() || text.size() > 20) return bad;
    std::uint64_t unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
    }
    if (unit == 0)
        unit = 1;
    else
        text.remove_suffix(1);
    std::uint64_t count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return bad;
    const std::uint64_t perUnit = unit * usecPerSecond;
    if (count > UINT64_MAX / perUnit) return bad;
    return count * perUnit;
}

}  // namespace varko::logtool
