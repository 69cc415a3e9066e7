#include <gtest/gtest.h>

#include <optional>

#include "logs/dedysfunction.h"
#include "support/faketool.h"

namespace varko::unifiedlog {
namespace {

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
    QFile regular(dir.filePath("timesync"));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly) && regular.write("x") == 1 && regular.flush());
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
    QFile f(dir.filePath("spans"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList spans = QString::fromLatin1(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    f.remove();
    return spans;
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
