// Timestamps as macOS's log writes them, and the dates and spans that --start, --end and
// --last take.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "format/casetable.h"
#include "systools/log/timeformat.h"

using namespace varko::logtool;
using varko::testing::caseTable;

namespace {

/// Sets TZ for one test and puts the old one back.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (saved.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved.c_str(), 1);
        tzset();
    }

private:
    std::string saved;
};

constexpr std::uint64_t april7 = 1617816126123456;  // 2021-04-07 17:22:06.123456 UTC

TEST(TimeFormatTest, LocalTimeWithOffsetInThirtyOneCharacters) {
    for (const auto& [zoneName, usec, shown] : caseTable<3>("timestamps.txt")) {
        const TimeZone zone(zoneName.c_str());
        const std::string formatted = formatTimestamp(std::stoull(usec));
        EXPECT_EQ(formatted, shown) << zoneName;
        EXPECT_EQ(formatted.size(), timestampLength);
    }
}

TEST(TimeFormatTest, DaylightSavingChangesTheOffset) {
    const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(formatTimestamp(april7), "2021-04-07 19:22:06.123456+0200");
    EXPECT_EQ(formatTimestamp(1609459200000000), "2021-01-01 01:00:00.000000+0100");
}

TEST(TimeFormatTest, DatesAndDurationsAreReadOrRefused) {
    const TimeZone zone("XXX-1");
    for (const auto& [kind, text, usec] : caseTable<3>("times.txt")) {
        const auto read = kind == "date" ? parseLocalDateTime(text) : parseDuration(text);
        EXPECT_EQ(read ? std::to_string(*read) : "refused", usec) << kind << " " << text;
    }
    // What formatTimestamp shows reads back to the same second.
    EXPECT_EQ(parseLocalDateTime(formatTimestamp(april7).substr(0, 19)),
              april7 / 1000000 * 1000000);
}

}  // namespace
