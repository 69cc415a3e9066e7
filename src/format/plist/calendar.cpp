#include "format/plist/calendar.h"

#include <cmath>
#include <cstdio>

namespace varko::plist::detail {

namespace {

constexpr std::int64_t secondsPerDay = 86400;
// Days from 1970-01-01 to 2001-01-01.
constexpr std::int64_t epochDays = 11323;
// About three million years either way: far beyond any real date, small enough
// that every conversion below stays within 64-bit arithmetic.
constexpr double clampSeconds = 1e14;
constexpr std::int64_t maxYear = 9'999'999;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's method).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, CivilTime& t) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = yoe + era * 400 + (t.month <= 2);
}

bool isLeap(std::int64_t y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

int daysInMonth(std::int64_t y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

std::string formatYear(std::int64_t year) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%04lld", year < 0 ? "-" : "",
                  static_cast<long long>(year < 0 ? -year : year));
    return buf;
}

}  // namespace

CivilTime civilFromSeconds(double s) {
    if (std::isnan(s)) s = 0;
    s = std::floor(std::fmax(-clampSeconds, std::fmin(clampSeconds, s)));
    const auto total = static_cast<std::int64_t>(s);
    std::int64_t days = total / secondsPerDay;
    std::int64_t rest = total % secondsPerDay;
    if (rest < 0) {
        rest += secondsPerDay;
        --days;
    }
    CivilTime t;
    civilFromDays(days + epochDays, t);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

Expected<double> parseIsoDate(std::string_view text) {
    const auto notADate = [] {
        return Error{0, "date is not of the form YYYY-MM-DDTHH:MM:SSZ", ErrorCode::malformed};
    };
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++pos;
    std::int64_t year = 0;
    const std::size_t yearStart = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && year <= maxYear) {
        year = year * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos - yearStart < 4 || year > maxYear) return notADate();
    if (negative) year = -year;
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const std::string_view rest = text.substr(pos);
    if (rest.size() != 16 || rest[0] != '-' || rest[3] != '-' || rest[6] != 'T' || rest[9] != ':' ||
        rest[12] != ':' || rest[15] != 'Z')
        return notADate();
    if (!digits(rest, 1, 2, month) || !digits(rest, 4, 2, day) || !digits(rest, 7, 2, hour) ||
        !digits(rest, 10, 2, minute) || !digits(rest, 13, 2, second))
        return notADate();
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return notADate();
    const std::int64_t days = daysFromCivil(year, month, day) - epochDays;
    return static_cast<double>(days * secondsPerDay + hour * 3600 + minute * 60 + second);
}

std::string formatIsoDate(double s) {
    const CivilTime t = civilFromSeconds(s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "-%02d-%02dT%02d:%02d:%02dZ", t.month, t.day, t.hour, t.minute,
                  t.second);
    return formatYear(t.year) + buf;
}

std::string formatDescriptionDate(double s) {
    const CivilTime t = civilFromSeconds(s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "-%02d-%02d %02d:%02d:%02d +0000", t.month, t.day, t.hour,
                  t.minute, t.second);
    return formatYear(t.year) + buf;
}

}  // namespace varko::plist::detail
