#include "signing/dates.h"

#include <cstdio>
#include <ctime>

namespace varko::signing {

std::string codesignDate(std::int64_t secondsSince1970) {
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t t = static_cast<time_t>(secondsSince1970);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return "?";
    const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %d, %d at %d:%02d:%02d %s", months[tm.tm_mon], tm.tm_mday,
                  tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

std::string pkgutilDate(std::int64_t secondsSince1970) {
    const time_t t = static_cast<time_t>(secondsSince1970);
    struct tm tm {};
    if (!gmtime_r(&t, &tm)) return "?";
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buf;
}

}  // namespace varko::signing
