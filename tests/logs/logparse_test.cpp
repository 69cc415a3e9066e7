#include <gtest/gtest.h>

#include <QByteArray>
#include <string>

#include "format/casetable.h"
#include "logs/loglist.h"

namespace varko::unifiedlog {
namespace {

std::unique_ptr<LogList> parse(QByteArray json) {
    return std::make_unique<LogList>(json);
}

QByteArray entry(const QByteArray& subsystem, const QByteArray& image,
                 const QByteArray& message = "m") {
    return R"({"timestamp":"2021-04-07 18:22:06.123456+0100","subsystem":")" + subsystem +
           R"(","processImagePath":")" + image + R"(","eventMessage":")" + message + R"("})";
}

TEST(LogParse, ClassificationTableInOrder) {
    const char* names[] = {"Other", "Tcc", "LaunchServices", "Securityd"};
    for (const auto& [subsystem, image, type, label] :
         varko::testing::caseTable<4>("categories.txt")) {
        SCOPED_TRACE(subsystem + " " + image);
        const auto list = parse("[" + entry(subsystem.c_str(), image.c_str()) + "]");
        ASSERT_EQ(list->children.size(), 1u);
        EXPECT_EQ(names[int(list->children[0].type)], type);
        EXPECT_EQ(list->children[0].subsystem(), QString::fromStdString(label));
    }
}

TEST(LogParse, MissingAndNonTextKeysTakeTheDefaults) {
    const auto before = now();
    const auto list = parse(R"([{"eventMessage":"only"},{},{"subsystem":7,"processImagePath":null,
        "eventMessage":["x"],"timestamp":12},{"eventMessage":""},
        {"timestamp":"2021-04-07 18:22:06.123456"}])");
    ASSERT_EQ(list->children.size(), 5u);
    const LogEntry& only = list->children[0];
    EXPECT_EQ(only.subsystem(), "[other]    ");
    EXPECT_EQ(only.type, LogCategory::Other);
    EXPECT_EQ(only.eventMessage, "only");
    EXPECT_GE(only.timestamp, before);  // the time of parsing
    EXPECT_EQ(list->children[1].eventMessage, "[nil]      ");
    EXPECT_EQ(list->children[2].eventMessage, "[nil]      ");
    EXPECT_EQ(list->children[2].subsystem(), "[other]    ");
    EXPECT_EQ(list->children[3].eventMessage, "");   // an empty message stays empty
    EXPECT_GE(list->children[4].timestamp, before);  // no offset: unreadable
}

TEST(LogParse, MessagesPastTheBoundEndWithWhatWasCut) {
    const QByteArray message(qsizetype(maxMessageBytes) + 1000, 'm');
    const auto list = parse(R"([{"eventMessage":")" + message + R"("}])");
    ASSERT_EQ(list->children.size(), 1u);
    EXPECT_EQ(list->children[0].eventMessage,
              QString(qsizetype(maxMessageBytes), u'm') +
                  QString::fromUtf8(" \u2026[1000 more bytes not shown]"));
    EXPECT_EQ(list->longestLine, 21 + 1 + 11 + 1 + list->children[0].eventMessage.size());
}

TEST(LogParse, EscapesAndSurrogatePairsDecode) {
    const auto list = parse(
        R"([{"eventMessage":"q\" b\\ s\/ t\t n\n u\u00fc e\ud83d\ude00","subsystem":"com.apple\u002eTCC"}])");
    ASSERT_EQ(list->children.size(), 1u);
    EXPECT_EQ(list->children[0].eventMessage,
              QString::fromUtf8("q\" b\\ s/ t\t n\n u\u00fc e\U0001F600"));
    EXPECT_EQ(list->children[0].type, LogCategory::Tcc);
    EXPECT_EQ(list->children[0].lineFeeds, 1u);
}

TEST(LogParse, LastDuplicateKeyWins) {
    const auto list = parse(R"([{"subsystem":"com.apple.TCC","subsystem":"com.apple.securityd"},
        {"eventMessage":"first","eventMessage":5}])");
    ASSERT_EQ(list->children.size(), 2u);
    EXPECT_EQ(list->children[0].type, LogCategory::Securityd);
    EXPECT_EQ(list->children[1].eventMessage, "[nil]      ");
}

TEST(LogParse, TimestampsHonourTheirOffsetAndAreStrict) {
    const auto t = [](const char* text) { return parseLongTimestamp(text); };
    ASSERT_TRUE(t("2021-04-07 18:22:06.123456+0000"));
    EXPECT_EQ(*t("2021-04-07 18:22:06.123456+0000"), 1617819726123456);
    EXPECT_EQ(*t("2021-04-07 18:22:06.123456-0500") - *t("2021-04-07 18:22:06.123456+0000"),
              qint64(5) * 3600 * 1000000);
    EXPECT_EQ(*t("2024-02-29 00:00:00.000000+0530"), *t("2024-02-28 18:30:00.000000+0000"));
    for (const auto& [bad] : varko::testing::caseTable<1>("bad_timestamps.txt"))
        EXPECT_FALSE(t(bad.c_str())) << bad;
}

TEST(LogParse, LargeDocumentsParseInSlicesAndWalkOnWhereACutIsWrong) {
    // Over the slice size, and with "},{" inside strings and nested arrays where a
    // slice would be cut: the result must equal that of a plain walk.
    QByteArray json = "[";
    const QByteArray filler(3000, 'x');
    for (int i = 0; i < 6000; ++i) {
        if (i > 0) json += ',';
        if (i % 700 == 0) {
            json += R"({"eventMessage":"tricky },{ text )" + QByteArray::number(i) +
                    R"(","backtrace":[{"a":1},{"b":2}]})";
        } else {
            json += R"({"subsystem":"com.apple.TCC","eventMessage":")" + QByteArray::number(i) +
                    R"(","pad":")" + filler + "\"}";
        }
    }
    json += "]";
    const auto list = parse(json);
    ASSERT_EQ(list->children.size(), 6000u);
    EXPECT_EQ(list->children[0].eventMessage, "tricky },{ text 0");
    EXPECT_EQ(list->children[5999].eventMessage, "5999");
    EXPECT_EQ(list->children[1400].eventMessage, "tricky },{ text 1400");
    for (std::size_t i = 1; i < 6000; ++i)
        if (i % 700 != 0) {
            ASSERT_EQ(list->children[i].eventMessage, QString::number(i));
        }
    EXPECT_EQ(list->summary.skipped, 0u);

    // A fault far behind the first slices costs only its element.
    QByteArray broken = json;
    broken.insert(json.indexOf(R"({"subsystem":"com.apple.TCC","eventMessage":"4001")"),
                  R"({"eventMessage":"\q"},)");
    const auto withFault = parse(broken);
    EXPECT_EQ(withFault->children.size(), 6000u);
    EXPECT_EQ(withFault->summary.skipped, 1u);
    EXPECT_EQ(withFault->children[4001].eventMessage, "4001");

    // Cut short anywhere, the entries before the cut are there.
    const auto cut = parse(json.left(json.size() / 2));
    EXPECT_TRUE(cut->summary.truncated);
    ASSERT_GT(cut->children.size(), 2900u);
    EXPECT_EQ(cut->children[2900].eventMessage, "2900");
}

}  // namespace
}  // namespace varko::unifiedlog
