#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "fixtures/bundlewriter.h"
#include "fixtures/machowriter.h"
#include "format/plist/plist.h"
#include "support/faketool.h"
#include "support/programrun.h"

namespace {

const QString binDir = QStringLiteral(VARKO_BIN_DIR);
const QString example = binDir + "/../examples/Example.app";

using CliRun = varko::testing::ProgramRun;

CliRun varkoReport(const QStringList& args) {
    return varko::testing::runTool("varko-report", args);
}

TEST(VarkoReportTest, ExampleReportShowsItsFindings) {
    const CliRun r = varkoReport({example});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString text = QString::fromUtf8(r.out);
    EXPECT_TRUE(text.startsWith("App path: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("app ID: com.example.varko.Example\n"));
    EXPECT_TRUE(text.contains("NSCameraUsageDescription : "));
    EXPECT_TRUE(text.contains("NSBluetoothAlwaysUsageDescription : "));
    EXPECT_TRUE(text.contains("com.apple.security.device.audio-input : 1\n"));
    EXPECT_TRUE(text.contains("com.apple.private.tcc.allow : (\n    kTCCServiceCamera,\n"));
    EXPECT_TRUE(text.contains("\nApp signature check:\n"));
    EXPECT_TRUE(text.contains("\ncodesign check:\n"));
    EXPECT_TRUE(text.endsWith("\n"));
}

/// Copies a whole folder; the example bundle under another name.
void copyTree(const QString& from, const QString& to) {
    QProcess cp;
    cp.start("cp", {"-R", from, to});
    ASSERT_TRUE(cp.waitForFinished(60000));
    ASSERT_EQ(cp.exitCode(), 0);
}

TEST(VarkoReportTest, ANameThatSpellsTheFindingsTicksNone) {
    QTemporaryDir dir;
    const QStringList names = {
        "source=Notarized source=Apple source=Mac App source=Developer flags=0x1.app",
        "x\nsource=Notarized Developer ID\nCodeDirectory v=20500 flags=0x10000(runtime)\n.app"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString app = dir.filePath(name);
        copyTree(example, app);
        const CliRun r = varkoReport({"--json", app});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QJsonObject o = QJsonDocument::fromJson(r.out).array().first().toObject();
        // The tools did echo the name; their own fields say ad hoc and rejected.
        EXPECT_TRUE(o["assessmentText"].toString().contains("source=Notarized"));
        const QJsonObject checks = o["checks"].toObject();
        for (const char* check :
             {"isNotarizedCheck", "isAppleCheck", "isAppStoreCheck", "isDevIDCheck"})
            EXPECT_FALSE(checks[check].toBool()) << check;
#ifdef __APPLE__
        // The example is hardened; a name that writes a second CodeDirectory line
        // leaves no way to tell which is codesign's, so then nothing is claimed.
        EXPECT_EQ(checks["isHardenedCheck"].toBool(), !name.contains("CodeDirectory"));
#else
        // The stand-in shows the name's line feeds as pictures: it writes no line of its own.
        EXPECT_TRUE(checks["isHardenedCheck"].toBool());
#endif
        // Nor can the name write a line of the report that looks like its own.
        EXPECT_TRUE(o["report"].toString().startsWith("App path: " + dir.path() + "/"));
        EXPECT_FALSE(o["report"].toString().section('\n', 0, 0).contains("\n"));
        EXPECT_EQ(o["report"].toString().section('\n', 1, 1), "app ID: com.example.varko.Example");
    }
}

TEST(VarkoReportTest, AToolThatCrashesIsSaidInWordsAndFailsTheRun) {
    // varko-report finds its tools beside itself: here, tools that crash.
    const varko::testing::FakeTools tools;
    ASSERT_TRUE(QFile::copy(binDir + "/varko-report", tools.path("varko-report")));
    for (const char* tool : {"varko-codesign", "varko-spctl"}) tools.script(tool, "kill -ABRT $$");
    const CliRun r = varko::testing::runTool(tools.path("varko-report"), {example});
    const QString out = QString::fromUtf8(r.out);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("a signature tool gave no answer"));
    EXPECT_TRUE(out.contains("Failed, error = 6 (The tool crashed (signal 6, aborted).)"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("⛔️ spctl error 6\n[The tool crashed (signal 6, aborted).]\n"))
        << out.toStdString();
}

TEST(VarkoReportTest, JsonCarriesTheRecordTheChecksAndTheWholeText) {
    const CliRun text = varkoReport({example});
    const CliRun r = varkoReport({"--json", example});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(doc.isArray());
    ASSERT_EQ(doc.array().size(), 1);
    const QJsonObject o = doc.array().first().toObject();
    EXPECT_EQ(o["type"].toString(), "com.apple.application-bundle");
    EXPECT_TRUE(o["isApp"].toBool());
    EXPECT_FALSE(o["isPackage"].toBool());
    EXPECT_EQ(o["bundleID"].toString(), "com.example.varko.Example");
    EXPECT_EQ(o["sdk"].toString(), "macosx11.1");
    EXPECT_TRUE(o["pubMike"].toBool());
    EXPECT_FALSE(o["pubCamera"].toBool());
    EXPECT_TRUE(o["privCamera"].toBool());
    EXPECT_TRUE(o["privLiverpool"].toBool());
    const QJsonObject checks = o["checks"].toObject();
    EXPECT_EQ(checks.size(), 34);
    EXPECT_TRUE(checks["tensixteenCheck"].toBool());
    EXPECT_TRUE(checks["cameraCheck"].toBool());
    EXPECT_TRUE(checks["pubMicrophoneCheck"].toBool());
    EXPECT_FALSE(checks["locationCheck"].toBool());
    for (const char* key : {"path", "version", "build", "usageStrings", "entitleList",
                            "assessmentText", "signatureText", "report", "mike", "aevent"})
        EXPECT_TRUE(o[key].isString()) << key;
    EXPECT_EQ(o["report"].toString(), QString::fromUtf8(text.out));

    // The whole-app keys: an ad hoc app is rejected, and what it may use is by service.
    const QJsonObject verdict = o["verdict"].toObject();
    EXPECT_EQ(verdict["state"].toString(), "rejected");
    EXPECT_EQ(verdict["reason"].toString(), "no usable signature");
    EXPECT_EQ(verdict["signer"].toString(), "ad hoc");
    EXPECT_TRUE(verdict["teamIdentifier"].isNull());
    EXPECT_EQ(verdict["notarization"].toString(), "unknown");
    const QJsonArray components = o["components"].toArray();
    ASSERT_EQ(components.size(), 1);
    const QJsonObject main = components.first().toObject();
    EXPECT_EQ(main["path"].toString(), "Contents/MacOS/Example");
    EXPECT_EQ(main["kind"].toString(), "main-executable");
    EXPECT_EQ(main["signer"].toString(), "adhoc");
    EXPECT_TRUE(main["valid"].toBool());
    EXPECT_TRUE(main["errorCode"].isNull());
    EXPECT_TRUE(main["usageKeys"].toArray().contains("NSCameraUsageDescription"));
    EXPECT_TRUE(main["privacyServices"].toArray().contains("kTCCServiceCamera"));
    EXPECT_TRUE(main["privacyManifest"].isNull());
    QJsonObject camera;
    for (const QJsonValue service : o["privacyServices"].toArray())
        if (service["service"] == "kTCCServiceCamera") camera = service.toObject();
    EXPECT_TRUE(camera["known"].toBool());
    EXPECT_EQ(camera["usageKeys"].toArray(), QJsonArray{"NSCameraUsageDescription"});
    EXPECT_EQ(camera["allowances"].toArray(), QJsonArray{"com.apple.private.tcc.allow"});
    EXPECT_TRUE(camera["components"].toArray().isEmpty());
}

TEST(VarkoReportTest, BadItemsAreNamedAndTheRestStillProcessed) {
    QTemporaryDir dir;
    QFile notes(dir.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    const QString missing = dir.filePath("gone.app");
    const CliRun r = varkoReport({"--json", missing, example, notes.fileName()});
    EXPECT_EQ(r.status, 2);
    const QString err = QString::fromUtf8(r.err);
    EXPECT_TRUE(err.contains(missing)) << err.toStdString();
    EXPECT_TRUE(err.contains(notes.fileName()));
    const QJsonDocument doc = QJsonDocument::fromJson(r.out);
    ASSERT_EQ(doc.array().size(), 1);

    EXPECT_EQ(varkoReport({}).status, 2);

    // Bytes that are no installer package: rejected in words, and no success.
    QFile junk(dir.filePath("Junk.pkg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    const CliRun pkg = varkoReport({"--json", junk.fileName()});
    EXPECT_EQ(pkg.status, 2);
    EXPECT_TRUE(pkg.err.contains(": not a valid installer package: malformed xar archive"))
        << pkg.err.toStdString();
    const QJsonObject verdict =
        QJsonDocument::fromJson(pkg.out).array().first()["verdict"].toObject();
    EXPECT_EQ(verdict["state"].toString(), "rejected");
    EXPECT_TRUE(verdict["reason"].toString().startsWith("this is not a valid installer package: "));
}

// The entitlement stage reads varko-codesign's answer, so the DER form raises its flags.
TEST(VarkoReportTest, TheDerFormOfEntitlementsRaisesThePrivacyFlagsAndDisagreementIsFlagged) {
    QTemporaryDir dir;
    namespace gen = varko::examplegen;
    const auto plistOf = [](const std::string& body) {
        return "<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
    };
    const std::string camera = "<key>com.apple.security.device.camera</key>";
    gen::MachOOptions o;
    o.signature->entitlements = plistOf(camera + "<false/>");
    o.signature->derEntitlements = gen::derEntitlements(
        *varko::plist::parse(
             plistOf(camera + "<true/><key>com.apple.security.device.microphone</key><true/>"))
             ->dictionary());
    const QString app = dir.filePath("Der.app");
    ASSERT_TRUE(gen::writeBundle(app.toStdString(),
                                 plistOf("<key>CFBundleExecutable</key><string>Der</string>"),
                                 "Der", gen::makeMachO(o)));
    const CliRun r = varkoReport({"--json", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject item = QJsonDocument::fromJson(r.out).array().first().toObject();
    EXPECT_TRUE(item["pubCamera"].toBool());
    EXPECT_TRUE(item["pubMike"].toBool());
    const QJsonObject main = item["components"].toArray().first().toObject();
    EXPECT_EQ(main["flags"].toArray(), QJsonArray{"entitlements-mismatch"});
}

TEST(VarkoReportTest, HostileTextsStayValidJson) {
    QTemporaryDir dir;
    const QString app = varko::testing::makeBundle(
        dir, "Q\"uote\\s.app",
        varko::testing::xmlPlist(
            "<key>CFBundleIdentifier</key><string>\"}]\\u0000\n\t😀</string>\n"
            "<key>NSCameraUsageDescription</key><string>&lt;/script&gt;\"</string>\n"));
    const CliRun r = varkoReport({"--json", app});
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    const QJsonObject o = doc.array().first().toObject();
    EXPECT_EQ(o["camera"].toString(), "</script>\"");
    EXPECT_TRUE(o["bundleID"].toString().contains("😀"));
    EXPECT_TRUE(o["path"].toString().endsWith("Q\"uote\\s.app"));
}

}  // namespace
