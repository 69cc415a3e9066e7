#include <gtest/gtest.h>

#include <QTemporaryDir>

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
        if ((mask & 3) == 3)
            expected << "--start"
                     << " 2021-04-07 18:22:06 ";
        if ((mask & 12) == 12)
            expected << "--end"
                     << "2021-04-08 01:00:00";
        EXPECT_EQ(queryArguments(base, range), expected) << mask;
    }
}

TEST(LogQuery, DefaultRangeIsTheMinuteBefore) {
    const auto moment = *parseLocalDateTime("2021-04-07 00:00:30");
    const TimeRange range = defaultRange(moment);
    EXPECT_EQ(range.startDate, "2021-04-06");
    EXPECT_EQ(range.startTime, "23:59:30");
    EXPECT_EQ(range.endDate, "2021-04-07");
    EXPECT_EQ(range.endTime, "00:00:30");
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
        {1, true, "log show command returned error number 1"},
        {70, true, "log show command returned error number 70"},
        {0, false, "log show command failed\n"},
    };
    for (const Case& c : cases) {
        log.answer(R"([{"eventMessage":"a"}])", c.status, "bad predicate");
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
            EXPECT_EQ(result.error().message, c.error);
            EXPECT_EQ(result.error().code, ErrorCode::toolFailed);
        }
    }
}

}  // namespace
}  // namespace varko::unifiedlog
