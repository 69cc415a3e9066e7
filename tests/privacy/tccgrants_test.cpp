// Privacy databases of both layouts made by Python's sqlite3, with csreqs compiled by our own
// requirement compiler: each service judged against a signed app, the file left exactly as it
// was, and hostile ones refused in words.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <filesystem>

#include "fixtures/componentbundle.h"
#include "overview/datafile.h"
#include "privacy/tccgrants.h"
#include "support/files.h"
#include "support/tccdatabase.h"

using namespace varko;
using namespace varko::examplegen;
using privacy::BuildMatch;
namespace fs = std::filesystem;

namespace {

QJsonArray row(const char* service, const QString& client, int type, int auth, int reason,
               const QJsonValue& requirement, qint64 modified, const char* target = "") {
    return {service, client, type, auth, reason, requirement, modified, target};
}

TEST(TccGrantsTest, EachServiceJudgedAgainstTheBuildAndTheFileLeftAsItWas) {
    QTemporaryDir dir;
    const TestPki pki;
    ComponentApp app;
    app.name = "Cam";
    app.identifier = "com.example.cam";
    const auto written = writeComponentApp(dir.path().toStdString(), app, pki);
    ASSERT_TRUE(written) << written.error().message;
    const QString executable = QString::fromStdString((*written / "Contents/MacOS/Cam").string());
    const QString ours = varko::testing::csreqHex(
        "identifier \"com.example.cam\" and certificate leaf[subject.OU] = "
        "TEAM123456");
    const QString theirs = varko::testing::csreqHex(
        "identifier \"com.example.cam\" and certificate "
        "leaf[subject.OU] = OTHER98765");
    const QJsonArray rows{
        row("kTCCServiceCamera", "com.example.cam", 0, 2, 2, ours, 1709294400),
        row("kTCCServiceMicrophone", "com.example.cam", 0, 0, 3, theirs, 1709294401),
        row("kTCCServicePhotos", "com.example.cam", 0, 3, 2, "fade0c0000000010", 1709294402),
        row("kTCCServiceAccessibility", executable, 1, 2, 4, QJsonValue(), 1709294403),
        row("kTCCServiceAppleEvents", "com.example.cam", 0, 2, 2, ours, 1709294404,
            "com.apple.finder"),
        row("kTCCServiceCamera", "com.example.other", 0, 2, 2, QJsonValue(), 1709294405),
    };
    for (const char* layout : {"current", "allowed"}) {
        SCOPED_TRACE(layout);
        const bool current = std::string_view(layout) == "current";
        // Characters a URI would take for its own: the name must still reach SQLite whole.
        const QString db = dir.filePath(QString("T?C#C %1%25.db").arg(layout));
        varko::testing::writeTccDatabase(db,
                                         {{"layout", layout}, {"rows", rows}, {"wal", current}});
        const QByteArray before = varko::testing::readFile(db);
        const auto read = privacy::readTccDatabase(db.toStdString());
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_EQ(read->schema,
                  current ? privacy::TccSchema::current : privacy::TccSchema::allowed);
        const auto granted = privacy::grantsFor(*read, *written, pki.anchors(), jan2024);
        ASSERT_TRUE(granted) << granted.error().message;
        EXPECT_EQ(granted->bundleIdentifier, "com.example.cam");
        // Each grant: its service, authorization, build match, time, reason and target.
        std::string said;
        for (const privacy::Grant& g : granted->grants)
            said += g.row.service + " | " + privacy::authorizationName(g.row.authValue) + " | " +
                    privacy::matchName(g.match) + " | " +
                    std::to_string(g.row.lastModified.value_or(-1)) + " | " +
                    (g.row.authReason ? privacy::reasonText(*g.row.authReason) : "-") + " | " +
                    g.row.indirectObject + "\n";
        varko::testing::expectDataFile(said, current ? "grants-current.txt" : "grants-allowed.txt");
        EXPECT_EQ(granted->grants[0].requirementText,
                  "identifier \"com.example.cam\" and certificate leaf[subject.OU] = TEAM123456");
        EXPECT_EQ(privacy::matchText(granted->grants[1]), "denied to code signed differently");
        // Under Apple's roots the test signer is nobody: what its certificates say is unknown.
        const auto apple =
            privacy::grantsFor(*read, *written, signing::TrustAnchors::apple(), jan2024);
        ASSERT_TRUE(apple);
        EXPECT_EQ(apple->grants[0].match, BuildMatch::undecided);
        EXPECT_EQ(varko::testing::readFile(db), before);
        for (const char* beside : {"-journal", "-wal", "-shm"})
            EXPECT_FALSE(QFile::exists(db + beside)) << beside;
    }
    EXPECT_EQ(privacy::utcText(1709294400), "2024-03-01 12:00:00 UTC");
    EXPECT_EQ(privacy::reasonText(2), "the user answered a prompt");
}

TEST(TccGrantsTest, WhatIsNoPrivacyDatabaseIsRefusedInWords) {
    QTemporaryDir dir;
    // Each case names the database, what maketcc.py writes into it (none: the file holds text) and
    // the words its refusal starts with.
    const QJsonArray cases =
        QJsonDocument::fromJson(varko::testing::testData("not-privacy-databases.json")).array();
    ASSERT_EQ(cases.size(), 8);
    for (const QJsonValue& c : cases) {
        const std::string says = c["says"].toString().toStdString();
        SCOPED_TRACE(says);
        const QString db = dir.filePath(c["name"].toString());
        if (c["database"].isObject()) {
            varko::testing::writeTccDatabase(db, c["database"].toObject());
        } else {
            ASSERT_TRUE(varko::testing::writeFile(db, QByteArray(4096, 'x')));
        }
        const auto read = privacy::readTccDatabase(db.toStdString());
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().message.substr(0, says.size()), says);
    }
    const auto missing = privacy::readTccDatabase(dir.filePath("absent.db").toStdString());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::missing);
}

}  // namespace
