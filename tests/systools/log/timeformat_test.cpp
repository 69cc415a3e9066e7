// Timestamps as macOS's log writes them, and the dates and spans that --start, --end and
// --last take.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "systools/log/timeformat.h"

using namespace varko::logtool;

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
    struct Case {
        const char* zone;
        std::uint64_t usec;
        const char* shown;
    };
    // POSIX zone strings need no zone database; their sign is the opposite of the offset.
    const Case cases[] = {
        {"UTC0", april7, "2021-04-07 17:22:06.123456+0000"},
        {"XXX-1", april7, "2021-04-07 18:22:06.123456+0100"},
        {"XXX+3:30", april7, "2021-04-07 13:52:06.123456-0330"},
        {"XXX-5:45", april7, "2021-04-07 23:07:06.123456+0545"},
        {"XXX-14", april7, "2021-04-08 07:22:06.123456+1400"},
        {"UTC0", 0, "1970-01-01 00:00:00.000000+0000"},
        {"UTC0", 999'999, "1970-01-01 00:00:00.999999+0000"},
        {"UTC0", 253402300799999999, "9999-12-31 23:59:59.999999+0000"},
        // Past year 9999 the column would widen; hostile journal times show as the epoch.
        {"UTC0", 253402300800000000, "1970-01-01 00:00:00.000000+0000"},
        {"UTC0", UINT64_MAX, "1970-01-01 00:00:00.000000+0000"},
    };
    for (const Case& c : cases) {
        const TimeZone zone(c.zone);
        const std::string shown = formatTimestamp(c.usec);
        EXPECT_EQ(shown, c.shown) << c.zone;
        EXPECT_EQ(shown.size(), timestampLength);
    }
}

TEST(TimeFormatTest, DaylightSavingChangesTheOffset) {
    const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(formatTimestamp(april7), "2021-04-07 19:22:06.123456+0200");
    EXPECT_EQ(formatTimestamp(1609459200000000), "2021-01-01 01:00:00.000000+0100");
}

TEST(TimeFormatTest, DatesAreReadAsLocalTime) {
    const TimeZone zone("XXX-1");
    EXPECT_EQ(parseLocalDateTime("2021-04-07 18:22:06"), 1617816126000000u);
    EXPECT_EQ(parseLocalDateTime("2021-04-07"), 1617750000000000u);
    EXPECT_EQ(parseLocalDateTime("2024-02-29 00:00:00"), 1709161200000000u);
    // What formatTimestamp shows reads back to the same second.
    EXPECT_EQ(parseLocalDateTime(formatTimestamp(april7).substr(0, 19)),
              april7 / 1000000 * 1000000);
}

TEST(TimeFormatTest, MalformedDatesAreRefused) {
    const TimeZone zone("UTC0");
    for (const char* bad :
         {"", "2021-04-07 18:22", "2021-04-07T18:22:06", "2021-4-07", "2021-04-07 18:22:06.5",
          "2021-13-01", "2021-00-10", "2021-04-00", "2021-02-29", "2021-04-31",
          "2021-04-07 24:00:00", "2021-04-07 23:60:00", "2021-04-07 23:59:60", "1969-12-31",
          "20x1-04-07", "2021-04-07 18:22:0x", " 2021-04-07", "yesterday"})
        EXPECT_FALSE(parseLocalDateTime(bad)) << bad;
}

TEST(TimeFormatTest, DurationsWithAndWithoutUnit) {
    EXPECT_EQ(parseDuration("2"), 2'000'000u);
    EXPECT_EQ(parseDuration("2s"), 2'000'000u);
    EXPECT_EQ(parseDuration("5m"), 300'000'000u);
    EXPECT_EQ(parseDuration("1h"), 3'600'000'000u);
    EXPECT_EQ(parseDuration("3d"), 259'200'000'000u);
    EXPECT_EQ(parseDuration("0"), 0u);
    for (const char* bad : {"", "s", "-1", "+1", "1w", "1.5h", "1 h", "h1", "1ss",
                            "99999999999999999999", "213503983d"})
        EXPECT_FALSE(parseDuration(bad)) << bad;
}

}  // namespace
