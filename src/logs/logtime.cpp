#include "logs/logtime.h"

#include <chrono>
#include <ctime>
#include <limits>

namespace varko::unifiedlog {

namespace {

constexpr qint64 microsPerSecond = 1'000'000;

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Offset of local time from UTC at the given moment, from the C library's zone.
qint64 localOffsetSeconds(qint64 utcSeconds) {
    const std::time_t t = std::time_t(utcSeconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}

void put2(char16_t* out, unsigned value) {
    out[0] = char16_t(u'0' + value / 10 % 10);
    out[1] = char16_t(u'0' + value % 10);
}

struct Broken {
    qint64 year;
    unsigned month, day, hour, minute, second;
};

Broken breakDown(qint64 localSeconds) {
    const qint64 days = floorDiv(localSeconds, 86400);
    const qint64 secs = localSeconds - days * 86400;
    // civil_from_days (Howard Hinnant), the inverse of the reading in logtimestamp.cpp.
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const qint64 y = qint64(yoe) + era * 400 + (m <= 2);
    return {y, m, d, unsigned(secs / 3600), unsigned(secs / 60 % 60), unsigned(secs % 60)};
}

}  // namespace

void ShortTimeFormatter::formatInto(Microseconds time, char16_t* out) const {
    const qint64 seconds = floorDiv(time, microsPerSecond);
    const qint64 minute = floorDiv(seconds, 60);
    if (minute != cachedMinute) {
        cachedOffsetSeconds = localOffsetSeconds(seconds);
        cachedMinute = minute;
    }
    const Broken b = breakDown(seconds + cachedOffsetSeconds);
    const auto millis = unsigned((time - seconds * microsPerSecond) / 1000);
    put2(out, unsigned(((b.year % 100) + 100) % 100));
    out[2] = u'-';
    put2(out + 3, b.month);
    out[5] = u'-';
    put2(out + 6, b.day);
    out[8] = u' ';
    put2(out + 9, b.hour);
    out[11] = u':';
    put2(out + 12, b.minute);
    out[14] = u':';
    put2(out + 15, b.second);
    out[17] = u'.';
    out[18] = char16_t(u'0' + millis / 100);
    put2(out + 19, millis % 100);
}

QString ShortTimeFormatter::format(Microseconds time) const {
    QString text(21, Qt::Uninitialized);
    formatInto(time, reinterpret_cast<char16_t*>(text.data()));
    return text;
}

QString formatLocalDateTime(Microseconds time) {
    const qint64 seconds = floorDiv(time, microsPerSecond);
    const Broken b = breakDown(seconds + localOffsetSeconds(seconds));
    return QString::asprintf("%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(b.year),
                             b.month, b.day, b.hour, b.minute, b.second);
}

Expected<Microseconds> parseLocalDateTime(std::string_view text) {
    const Error bad{0, "not a local date and time \"yyyy-MM-dd HH:mm:ss\"", ErrorCode::malformed};
    if (text.size() != 19) return bad;
    const auto civil = readCivilTime(text);
    if (!civil) return bad;
    std::tm local{};
    local.tm_year = int(civil->year) - 1900;
    local.tm_mon = int(civil->month) - 1;
    local.tm_mday = int(civil->day);
    local.tm_hour = int(civil->hour);
    local.tm_min = int(civil->minute);
    local.tm_sec = int(civil->second);
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t == std::time_t(-1) && !(local.tm_year == 69 && local.tm_mday == 31)) return bad;
    return qint64(t) * microsPerSecond;
}

Microseconds now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace varko::unifiedlog
