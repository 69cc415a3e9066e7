// Entries as JSON and as text: escaping, bad UTF-8, and that what we write parses; timestamps
// as macOS's log writes them, and the dates and spans that --start, --end and --last take.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <cstdlib>
#include <ctime>

#include "format/casetable.h"
#include "systools/log/jsonformat.h"
#include "systools/log/textformat.h"
#include "systools/log/timeformat.h"
#include "systools/log/utf8.h"

using namespace varko::logtool;
using varko::testing::caseTable;
using varko::testing::dataFile;

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

std::string json(std::string_view text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

TEST(JsonFormatTest, EscapesAsNSJSONSerializationDoes) {
    for (const auto& [text, escaped] : caseTable<2>("json_escapes.txt"))
        EXPECT_EQ(json(text), escaped) << text;
}

TEST(JsonFormatTest, ValidUtf8PassesAndEachBadSequenceIsOneReplacement) {
    EXPECT_EQ(json("caf\xC3\xA9 \xF0\x9F\x8E\x89 \xE2\x82\xAC"),
              "\"caf\xC3\xA9 \xF0\x9F\x8E\x89 \xE2\x82\xAC\"");
    for (const auto& [bytes, shown] : caseTable<2>("bad_utf8.txt")) {
        EXPECT_EQ(json(bytes), "\"" + shown + "\"") << bytes;
        EXPECT_EQ(sanitizeUtf8(bytes, 1024), shown);
    }
}

TEST(JsonFormatTest, SanitizingCutsOnCharacterBoundariesAndMarksTheCut) {
    for (const auto& [text, bound, kept] : caseTable<3>("sanitized.txt"))
        EXPECT_EQ(sanitizeUtf8(text, std::stoul(bound)), kept) << text << " " << bound;
    EXPECT_EQ(sanitizeUtf8(std::string(100000, 'x'), 65536).size(), 65536u);
}

LogRecord sample() {
    LogRecord r;
    r.timestampUsec = 1617816126123456;
    r.machTimestamp = 5'000'000'000;
    r.traceID = 7;
    r.threadID = 0x1590e;
    r.processID = 200;
    r.messageType = MessageType::Info;
    r.processImagePath = "/usr/sbin/tccd";
    r.subsystem = "com.apple.TCC";
    r.category = "access";
    r.eventMessage = "say \"hi\"\n\tto caf\xC3\xA9 \xFF";
    r.bootUUID = "01234567-89AB-CDEF-0123-456789ABCDEF";
    return r;
}

TEST(JsonFormatTest, ArrayOfEntriesParsesWithMacOSKeys) {
    const TimeZone zone("XXX-1");
    std::string out;
    appendJsonEntry(out, sample(), true);
    LogRecord kernel;
    kernel.processImagePath = "/kernel";
    appendJsonEntry(out, kernel, false);
    appendJsonEnd(out, true);
    // Every key and value in the order and form that macOS's log show writes them.
    EXPECT_EQ(out, dataFile("entries.json"));
    simdjson::dom::parser parser;
    simdjson::dom::element doc;
    EXPECT_EQ(parser.parse(out).get(doc), simdjson::SUCCESS) << out;
}

TEST(TextFormatTest, ColumnsLineUpWithTheHeader) {
    const TimeZone zone("XXX-1");
    std::string out;
    appendTextHeader(out);
    LogRecord r = sample();
    r.eventMessage = "bell\a here\nsecond line";
    appendTextEntry(out, r);
    EXPECT_EQ(out, dataFile("text_entry.txt"));
}

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
