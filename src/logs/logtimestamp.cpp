#include "logs/logtimestamp.h"

namespace varko::unifiedlog {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
constexpr long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)(doe)-719468;
}

constexpr bool isLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr unsigned daysInMonth(unsigned y, unsigned m) {
    constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Reads exactly `count` ASCII digits at `pos`.
std::optional<unsigned> digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos > text.size() || count > text.size() - pos) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + unsigned(text[i] - '0');
    }
    return value;
}

}  // namespace

Expected<CivilTime> readCivilTime(std::string_view text) {
    const Error bad{0, "not a date and time \"yyyy-MM-dd HH:mm:ss\"", ErrorCode::malformed};
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return bad;
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2),
               h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s) return bad;
    if (*mo < 1 || *mo > 12 || *d < 1 || *d > daysInMonth(*y, *mo) || *h > 23 || *mi > 59 ||
        *s > 59)
        return bad;
    return CivilTime{*y, *mo, *d, *h, *mi, *s};
}

long long secondsSinceEpoch(const CivilTime& c) {
    return daysFromCivil(c.year, c.month, c.day) * 86400 + (long long)(c.hour) * 3600 +
           c.minute * 60 + c.second;
}

Expected<Microseconds> parseLongTimestamp(std::string_view text) {
    const Error bad{0, "not a timestamp \"yyyy-MM-dd HH:mm:ss.uuuuuu+zzzz\"", ErrorCode::malformed};
    if (text.size() != 31 || text[19] != '.' || (text[26] != '+' && text[26] != '-')) return bad;
    const auto civil = readCivilTime(text);
    const auto fraction = digits(text, 20, 6);
    const auto offsetHours = digits(text, 27, 2), offsetMinutes = digits(text, 29, 2);
    if (!civil || !fraction || !offsetHours || !offsetMinutes || *offsetMinutes > 59 ||
        *offsetHours > 23)
        return bad;
    long long offset = (long long)(*offsetHours) * 3600 + *offsetMinutes * 60;
    if (text[26] == '-') offset = -offset;
    return (secondsSinceEpoch(*civil) - offset) * 1'000'000 + *fraction;
}

}  // namespace varko::unifiedlog
