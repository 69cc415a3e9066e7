#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>
#include <optional>

#include "format/casetable.h"
#include "logs/logquery.h"
#include "support/faketool.h"

namespace varko::unifiedlog {
namespace {

TEST(LogQuery, ARangeGoesOnOnlyWhenBothOfItsBoxesHoldText) {
    const QStringList base{"show"};
    for (int mask = 0; mask < 16; ++mask) {
        const TimeRange range{mask & 1 ? " 2021-04-07" : "", mask & 2 ? "18:22:06 " : "",
                              mask & 4 ? "2021-04-08" : "", mask & 8 ? "01:00:00" : ""};
        QStringList expected = base;
        if ((mask & 3) == 3) expected += {"--start", " 2021-04-07 18:22:06 "};
        if ((mask & 12) == 12) expected += {"--end", "2021-04-08 01:00:00"};
        EXPECT_EQ(queryArguments(base, range), expected) << mask;
    }
}

TEST(LogQuery, ARangeIsCheckedBeforeTheToolIsAsked) {
    const std::string boxes[] = {"startDate", "startTime", "endDate", "endTime"};
    for (const auto& row : varko::testing::caseTable<5>("range_checks.txt")) {
        const auto q = [&](int i) { return QString::fromStdString(row[i]); };
        const Expected<void> checked = checkRange({q(0), q(1), q(2), q(3)});
        const std::uint64_t at = checked ? 0 : checked.error().offset;
        EXPECT_EQ(checked  ? "-"
                  : at < 4 ? boxes[at]
                           : "elsewhere",
                  row[4])
            << q(0).toStdString() << ' ' << row[1] << " to " << row[2] << ' ' << row[3];
    }
    // A box's controls are shown, not obeyed, and a long text is cut.
    const std::string said =
        checkRange({"2026\n" + QString(100, u'9'), "10:00:00", "", ""}).error().message;
    EXPECT_EQ(said.find('\n'), std::string::npos);
    EXPECT_LT(said.size(), 120U);
}

TEST(LogQuery, DefaultRangeIsTheMinuteBefore) {
    const auto moment = *parseLocalDateTime("2021-04-07 00:00:30");
    const TimeRange r = defaultRange(moment);
    EXPECT_EQ(QStringList({r.startDate, r.startTime, r.endDate, r.endTime}).join(' '),
              "2021-04-06 23:59:30 2021-04-07 00:00:30");
}

TEST(LogQuery, ParsesOnlyOnSuccessAndOtherwiseSaysWhyInTheWindowsWords) {
    QTemporaryDir dir;
    testing::FakeTool log(dir, "log");
    struct Case {
        int status;
        bool present;
        const char* error;  ///< nothing for a list of one entry
    } cases[] = {
        {0, true, nullptr},
        {1, true, "log show command returned error number 1\nbad predicate"},
        {70, true, "log show command returned error number 70\nbad predicate"},
        {0, false, "log show command failed\n"},
    };
    for (const Case& c : cases) {
        log.answer(R"([{"eventMessage":"a"}])", c.status, "bad predicate\n");
        const QString program = c.present ? log.program() : dir.filePath("none");
        const auto set = host::ToolSet::withPrograms({{QLatin1String(host::logPath), program}});
        const Expected<LogQueryResult> result = runLogQuery(set, {"show", "one arg with spaces"});
        if (c.error == nullptr) {
            ASSERT_TRUE(result) << result.error().message;
            EXPECT_EQ(result->list->children.size(), 1u);
            EXPECT_FALSE(result->truncated);
            EXPECT_EQ(log.arguments(), (QStringList{"show", "one arg with spaces"}));
        } else {
            ASSERT_FALSE(result) << c.status;
            if (c.present) {
                EXPECT_EQ(result.error().message, c.error);
            } else {
                // A tool that cannot start is named with the reason.
                EXPECT_EQ(result.error().message.rfind(c.error, 0), 0u);
                EXPECT_GT(result.error().message.size(), std::strlen(c.error));
            }
            EXPECT_EQ(result.error().code, ErrorCode::toolFailed);
        }
    }
}

TEST(LogQuery, TheToolsOwnMessageIsShownSafelyAndBounded) {
    for (const auto& [err, shown] : varko::testing::caseTable<2>("tool_messages.txt"))
        EXPECT_EQ(toolMessage(QByteArray::fromStdString(err)), QString::fromStdString(shown))
            << err;
    EXPECT_EQ(toolMessage("kept", true), QStringLiteral("kept\u2026"));

    QByteArray many;
    for (int i = 0; i < 50; ++i) many += "line " + QByteArray::number(i) + "\n";
    const QString lines = toolMessage(many);
    EXPECT_EQ(lines.count(u'\n'), maxToolMessageLines - 1);
    EXPECT_TRUE(lines.endsWith(QStringLiteral("line 19\u2026"))) << qPrintable(lines);

    // One long line of characters outside the BMP is cut between them, never inside one.
    QByteArray wide;
    for (int i = 0; i < 3000; ++i) wide += "\xf0\x9f\x98\x80";
    const QString cut = toolMessage("x" + wide);
    EXPECT_LE(cut.size(), maxToolMessageChars + 1);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_FALSE(cut[cut.size() - 2].isHighSurrogate());
}

TEST(LogQuery, StatusThenTheToolsMessageAndAFloodCostsNoMoreThanItsBound) {
    QTemporaryDir dir;
    testing::FakeTool log(dir, "log");
    const auto set = host::ToolSet::withPrograms({{QLatin1String(host::logPath), log.program()}});
    log.answer({}, 64, "varko-log: --end \"07:00:00 PM\" is no time\n");
    Expected<LogQueryResult> result = runLogQuery(set, {"show"});
    ASSERT_FALSE(result);
    EXPECT_EQ(
        result.error().message,
        "log show command returned error number 64\nvarko-log: --end \"07:00:00 PM\" is no time");

    // Megabytes on standard error are read and dropped; the message stays short.
    log.answer({}, 64, {}, "head -c 5000000 /dev/zero | tr '\\0' x >&2");
    result = runLogQuery(set, {"show"});
    ASSERT_FALSE(result);
    const std::string& message = result.error().message;
    EXPECT_EQ(message.rfind("log show command returned error number 64\nxxx", 0), 0u);
    EXPECT_LT(message.size(), 3u * maxToolMessageChars);
    EXPECT_TRUE(QString::fromStdString(message).endsWith(QChar(0x2026)));

    // Words on standard error beside a success change nothing.
    log.answer(R"([{"eventMessage":"a"}])", 0, "warning: slow\n");
    result = runLogQuery(set, {"show"});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->list->children.size(), 1u);
}

TEST(LogQuery, TheRangeInWordsForTheTitle) {
    for (const auto& row : varko::testing::caseTable<5>("range_words.txt")) {
        const auto q = [&](int i) { return QString::fromStdString(row[i]); };
        EXPECT_EQ(rangeText({q(0), q(1), q(2), q(3)}), q(4)) << row[4];
    }
}

}  // namespace
}  // namespace varko::unifiedlog
