// varko-report --diff as scripts run it: its exit statuses, its text and its JSON.
#include <QDir>
#include <QFile>

#include "cli/clitest.h"
#include "fixtures/componentbundle.h"

namespace {

using namespace varko::examplegen;
using namespace varko::testing;

class DiffTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    /// Two versions of an app: the second signed by another team, with a helper more.
    std::pair<QString, QString> twoVersions() {
        static const TestPki pki;
        ComponentApp app;
        app.info.set("NSCameraUsageDescription", "Scans codes.");
        const QString before = writeApp(dir.filePath("old"), app, pki);
        app.signing = Signing::otherTeam;
        app.pieces.push_back(pieceAt(PieceKind::helper, "Contents/MacOS/tool"));
        return {before, writeApp(dir.filePath("new"), app, pki)};
    }
};

TEST_F(DiffTest, TheSameAppTwiceHasNoChangesAndExitsZero) {
    const ProgramRun r = varkoReport({"--diff", example, example});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "No changes.\n");

    const ProgramRun json = varkoReport({"--json", "--diff", example, example});
    EXPECT_EQ(json.status, 0);
    expectHas(QJsonDocument::fromJson(json.out).object(),
              R"({"changes": [], "old": {"bundleID": "com.example.varko.Example"}})");
}

TEST_F(DiffTest, ChangesAreListedMostSeriousFirstAndExitOne) {
    const auto [before, after] = twoVersions();
    const ProgramRun r = varkoReport({"--diff", before, after});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(r.out),
              "[high] Team ID: TEAM123456 → OTHER98765\n"
              "[low] Component Contents/MacOS/tool: added: helper\n");

    const ProgramRun json = varkoReport({"--json", "--diff", before, after});
    EXPECT_EQ(json.status, 1);
    const QJsonObject o = QJsonDocument::fromJson(json.out).object();
    EXPECT_EQ(o.keys(), (QStringList{"changes", "new", "old", "schemaVersion"}))
        << json.out.toStdString();
    // Each item's object is what --json prints for it alone.
    expectHas(o, QJsonObject{{"schemaVersion", 1},
                             {"old", QJsonObject{{"schemaVersion", 1}, {"path", before}}},
                             {"new", QJsonObject{{"path", after}}}});
    EXPECT_TRUE(o["new"]["components"].isArray());
    ASSERT_EQ(o["changes"].toArray().size(), 2);
    expectHas(o["changes"][0], R"({"what": "teamIdentifier", "key": "", "old": "TEAM123456",
        "new": "OTHER98765", "component": "", "severity": "high"})");
    EXPECT_EQ(o["changes"][0].toObject().size(), 6);
    expectHas(o["changes"][1], R"({"what": "component", "component": "Contents/MacOS/tool",
                                   "severity": "low"})");
}

TEST_F(DiffTest, TroubleExitsTwo) {
    const QString plain = dir.filePath("notes.txt");
    ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));
    for (const QStringList& args : {QStringList{"--diff", example, dir.filePath("missing.app")},
                                    QStringList{"--diff", plain, example}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ProgramRun r = varkoReport(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.err.isEmpty());
    }

    // An item that could not be read is compared for what it is worth, but is no answer.
    const QString bare = dir.filePath("Bare.app"), junk = dir.filePath("Junk.pkg");
    ASSERT_TRUE(QDir().mkpath(bare + "/Contents") && QFile(junk).open(QIODevice::WriteOnly));
    for (const QString& item : {bare, junk}) {
        const ProgramRun r = varkoReport({"--diff", item, item});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "No changes.\n");
        EXPECT_TRUE(r.err.startsWith("varko-report: " + item.toUtf8() + ": could not be read: "))
            << r.err.toStdString();
    }

    // A signature tool that gives no answer leaves the comparison in doubt.
    const ProgramRun r = reportWithCrashingTools({"--diff", example, example});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("a signature tool gave no answer")) << r.err.toStdString();
}

}  // namespace
