// Asking the log tool: the probe of whether it can answer here at all, and the queries of the
// log window, their ranges and the tool's own messages.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>
#include <optional>

#include "format/casetable.h"
#include "logs/dedysfunction.h"
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
        const std::uint64_t at = checked ? 4 : checked.error().offset;  // 4: none
        const std::string wrong = at < 4 ? boxes[at] : checked ? "-" : "elsewhere";
        EXPECT_EQ(wrong, row[4]) << row[0] << ' ' << row[1] << " to " << row[2] << ' ' << row[3];
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

using testing::FakeTool;

class Probe : public ::testing::Test {
protected:
    deDysfunction probe(const QByteArray& idOutput, const QByteArray& logOutput = {},
                        int logStatus = 0) {
        FakeTool id(dir, "id"), log(dir, "log");
        id.answer(idOutput);
        log.answer(logOutput, logStatus);
        host::PlatformProfile profile = host::PlatformProfile::macOS();
        profile.logStoreFolder = dir.filePath("Persist");
        profile.logTimesyncFolder = dir.filePath("timesync");
        deDysfunction p(host::ToolSet::withPrograms({{QLatin1String(host::idPath), id.program()},
                                                     {QLatin1String(host::logPath), log.program()}})
                            .withProfile(profile));
        p.userName = [] { return QStringLiteral("jane doe"); };
        return p;
    }
    QTemporaryDir dir;
};

TEST_F(Probe, AdministratorsGroupAnywhereButNotInsideNumbers) {
    EXPECT_TRUE(probe("20 12 61 80 33 98\n").isAdminUser());
    EXPECT_TRUE(probe("80\n").isAdminUser());
    // The last group keeps id's line feed; it must still count.
    EXPECT_TRUE(probe("20 12 80\n").isAdminUser());
    EXPECT_FALSE(probe("20 180 800 8 0\n").isAdminUser());
    EXPECT_FALSE(probe("").isAdminUser());
    EXPECT_FALSE(probe("20  12 80x\n").isAdminUser());
    // The user name reaches id as one argument.
    EXPECT_EQ(FakeTool(dir, "id").arguments(), (QStringList{"-G", "jane doe"}));
}

TEST_F(Probe, StoreFoldersMustHoldSomething) {
    const deDysfunction p = probe("");
    EXPECT_FALSE(p.hasLogFiles());
    QDir().mkpath(dir.filePath("Persist"));
    EXPECT_FALSE(p.hasLogFiles());
    ASSERT_TRUE(QFile(dir.filePath("Persist/.hidden")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(p.hasLogFiles());
    // A file where the folder belongs holds nothing, even with bytes in it.
    ASSERT_TRUE(testing::writeFile(dir.filePath("timesync"), "x"));
    EXPECT_FALSE(p.hasTimesyncFiles());
}

TEST_F(Probe, LogEntriesNeedAStatusOfZeroAndALineFeed) {
    EXPECT_EQ(probe("", "one line\n").logEntries(), LogEntries::found);
    EXPECT_EQ(probe("", "").logEntries(), LogEntries::none);
    EXPECT_EQ(probe("", "no feed").logEntries(), LogEntries::none);
    EXPECT_EQ(probe("", "a\nb\n", 1).logEntries(), LogEntries::none);
}

QByteArray entries(const QList<QByteArray>& stamps) {
    QByteArray json = "[";
    for (const QByteArray& s : stamps) json += (json.size() > 1 ? "," : "") + s;
    return json + "]";
}

TEST_F(Probe, TimeFormatLooksAtTheFirstElevenElements) {
    const QByteArray good = R"({"timestamp":"2021-04-07 18:22:06.123456+0100"})";
    const QByteArray shortStamp = R"({"timestamp":"2021-04-07 18:22:06.123456"})";
    EXPECT_TRUE(probe("", entries({good, good, good})).hasCorrectTimeFormat());
    EXPECT_FALSE(probe("", entries({shortStamp, shortStamp, shortStamp})).hasCorrectTimeFormat());
    QList<QByteArray> thirteen(11, shortStamp);
    thirteen << good << good;
    EXPECT_FALSE(probe("", entries(thirteen)).hasCorrectTimeFormat());
    QList<QByteArray> eleven(10, shortStamp);
    eleven << good;
    EXPECT_TRUE(probe("", entries(eleven)).hasCorrectTimeFormat());
    EXPECT_TRUE(probe("", entries({"5", good})).hasCorrectTimeFormat());
    EXPECT_FALSE(probe("", entries({R"({"timestamp":5})", "{}"})).hasCorrectTimeFormat());
    EXPECT_FALSE(probe("", "[]").hasCorrectTimeFormat());
    EXPECT_FALSE(
        probe("", R"({"timestamp":"2021-04-07 18:22:06.123456+0100"})").hasCorrectTimeFormat());
    EXPECT_FALSE(probe("", entries({good}) + " x").hasCorrectTimeFormat());
    EXPECT_FALSE(probe("", entries({good}), 1).hasCorrectTimeFormat());
}

TEST_F(Probe, TwelveHourClockFailsWithoutRunningTheTool) {
    FakeTool log(dir, "log");
    log.answer(R"([{"timestamp":"2021-04-07 18:22:06.123456+0100"}])");
    deDysfunction p(host::ToolSet::withPrograms({{QLatin1String(host::logPath), log.program()}}));
    for (const char* twelveHour : {"2021-04-07 6:22:06 PM", "2021-04-07 6:22:06 pm"}) {
        p.roundTripLocalTime = [twelveHour](const QString&) {
            return std::optional<QString>(twelveHour);
        };
        EXPECT_FALSE(p.hasCorrectTimeFormat()) << twelveHour;
    }
    EXPECT_FALSE(log.ran());
    p.roundTripLocalTime = [](const QString& s) { return std::optional<QString>(s); };
    EXPECT_TRUE(p.hasCorrectTimeFormat());
    EXPECT_EQ(log.arguments(), (QStringList{"show", "--style", "json", "--last", "2"}));
}

TEST_F(Probe, OwnClockRoundTripIsTwentyFourHour) {
    const deDysfunction p(host::ToolSet::withPrograms({}));
    EXPECT_EQ(p.roundTripLocalTime("2021-04-07 18:22:06"),
              std::optional<QString>("2021-04-07 18:22:06"));
}

// The journal's log answers by span (the fifth argument); each span asked is noted.
deDysfunction journalProbe(const QTemporaryDir& dir, const QString& answers, int status = 0) {
    FakeTool log(dir, "log");
    log.answer(
        "[]", status, {},
        "echo \"$5\" >> '" + dir.filePath("spans") + "'\ncase \"$5\" in " + answers + " esac");
    deDysfunction p(
        host::ToolSet::withPrograms({{QLatin1String(host::logPath), log.program()}})
            .withProfile(host::PlatformProfile::journal(
                {dir.filePath("var"), dir.filePath("run"), dir.filePath("machine-id"), "jane"})));
    p.roundTripLocalTime = [](const QString& s) { return std::optional<QString>(s); };
    return p;
}

QStringList spansAsked(const QTemporaryDir& dir) {
    if (!QFile::exists(dir.filePath("spans"))) return {};
    const QByteArray spans = testing::readFile(dir.filePath("spans"));
    QFile::remove(dir.filePath("spans"));
    return QString::fromLatin1(spans).split(u'\n', Qt::SkipEmptyParts);
}

TEST_F(Probe, AJournalsTimesCountOnlyWhenEntriesWereRead) {
    // Idle: nothing in any span, and nothing to say against the format.
    EXPECT_TRUE(journalProbe(dir, "").hasCorrectTimeFormat());
    EXPECT_EQ(spansAsked(dir), (QStringList{"2", "1m", "1h"}));
    // Unreadable: the entries question tells it; the format is not blamed.
    EXPECT_TRUE(journalProbe(dir, "", 1).hasCorrectTimeFormat());
    EXPECT_EQ(spansAsked(dir), QStringList{"2"});
    // The first span with entries decides, good or bad.
    const QString good =
        R"(1m) echo '[{"timestamp":"2021-04-07 18:22:06.123456+0100"}]'; exit 0;;)";
    EXPECT_TRUE(journalProbe(dir, good).hasCorrectTimeFormat());
    EXPECT_EQ(spansAsked(dir), (QStringList{"2", "1m"}));
    const QString bad = R"(2) echo '[{"timestamp":"04/07/2021 6:22:06 PM"}]'; exit 0;;)";
    EXPECT_FALSE(journalProbe(dir, bad).hasCorrectTimeFormat());
    EXPECT_EQ(spansAsked(dir), QStringList{"2"});
    // Output cut at the cap still shows its first entries.
    const QString flood =
        R"(2) printf '['; while :; do printf '{"timestamp":"2021-04-07 18:22:06.123456+0100"},'; done;;)";
    EXPECT_TRUE(journalProbe(dir, flood).hasCorrectTimeFormat());
}

TEST_F(Probe, ToolThatCannotStartIsANo) {
    deDysfunction p(
        host::ToolSet::withPrograms({{QLatin1String(host::idPath), dir.filePath("missing")},
                                     {QLatin1String(host::logPath), dir.filePath("missing")}}));
    EXPECT_FALSE(p.isAdminUser());
    EXPECT_EQ(p.logEntries(), LogEntries::none);
    EXPECT_FALSE(p.hasCorrectTimeFormat());
}

}  // namespace
}  // namespace varko::unifiedlog
