#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "logs/logquery.h"
#include "support/faketool.h"

namespace varko::logs {
namespace {

TEST(LogQuery, BaseCommandIsTheSixArguments) {
    const QStringList base = baseCommand();
    ASSERT_EQ(base.size(), 6);
    EXPECT_EQ(base[2].size(), 244);
    EXPECT_EQ(base, (QStringList{"show", "--predicate", QString::fromLatin1(logPredicate), "--style", "json", "--info"}));
}

TEST(LogQuery, EveryCombinationOfEmptyBoxes) {
    const QStringList base = baseCommand();
    for (int mask = 0; mask < 16; ++mask) {
        const TimeRange range{mask & 1 ? " 2021-04-07" : "", mask & 2 ? "18:22:06 " : "", mask & 4 ? "2021-04-08" : "",
                              mask & 8 ? "01:00:00" : ""};
        QStringList expected = base;
        if ((mask & 3) == 3) expected << "--start" << " 2021-04-07 18:22:06 ";
        if ((mask & 12) == 12) expected << "--end" << "2021-04-08 01:00:00";
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

TEST(LogQuery, RunsTheToolAndParsesOnlyOnSuccess) {
    QTemporaryDir dir;
    testing::FakeTool log(dir, "log");
    const auto set = tools::ToolSet::withPrograms({{QLatin1String(tools::logPath), log.program()}});

    log.answer(R"([{"eventMessage":"a"}])");
    LogQueryResult result = runLogQuery(set, {"show", "one arg with spaces"});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.status, 0);
    ASSERT_TRUE(result.list);
    EXPECT_EQ(result.list->children.size(), 1u);
    EXPECT_EQ(log.arguments(), (QStringList{"show", "one arg with spaces"}));

    log.answer(R"([{"eventMessage":"a"}])", 1, "bad predicate");
    result = runLogQuery(set, {});
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.list);

    result = runLogQuery(tools::ToolSet::withPrograms({{QLatin1String(tools::logPath), dir.filePath("none")}}), {});
    EXPECT_FALSE(result.started);
}

}  // namespace
}  // namespace varko::logs
