#include "cli/clitest.h"
#include "fixtures/bundlewriter.h"
#include "fixtures/machowriter.h"
#include "format/plist/plist.h"

namespace {

using namespace varko::testing;
using CliRun = ProgramRun;

TEST(VarkoReportTest, ANameThatSpellsTheFindingsTicksNone) {
    QTemporaryDir dir;
    const QStringList names = {
        "source=Notarized source=Apple source=Mac App source=Developer flags=0x1.app",
        "x\nsource=Notarized Developer ID\nCodeDirectory v=20500 flags=0x10000(runtime)\n.app"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString app = dir.filePath(name);
        copyExample(app);
        const CliRun r = varkoReport({"--json", app});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QJsonObject o = firstItem(r.out);
        // The tools did echo the name; their own fields say ad hoc and rejected.
        EXPECT_TRUE(o["assessmentText"].toString().contains("source=Notarized"));
        expectHas(o["checks"], R"({"isNotarizedCheck": false, "isAppleCheck": false,
                                   "isAppStoreCheck": false, "isDevIDCheck": false})");
#ifdef __APPLE__
        // The example is hardened; a name that writes a second CodeDirectory line
        // leaves no way to tell which is codesign's, so then nothing is claimed.
        EXPECT_EQ(o["checks"]["isHardenedCheck"].toBool(), !name.contains("CodeDirectory"));
#else
        // The stand-in shows the name's line feeds as pictures: it writes no line of its own.
        EXPECT_TRUE(o["checks"]["isHardenedCheck"].toBool());
#endif
        // Nor can the name write a line of the report that looks like its own.
        const QString report = o["report"].toString();
        EXPECT_TRUE(report.startsWith("App path: " + dir.path() + "/"));
        EXPECT_EQ(report.section('\n', 1, 1), "app ID: com.example.varko.Example");
    }
}

TEST(VarkoReportTest, AToolThatCrashesIsSaidInWordsAndFailsTheRun) {
    const CliRun r = reportWithCrashingTools({example});
    const QString out = QString::fromUtf8(r.out);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("a signature tool gave no answer"));
    for (const char* said : {"Failed, error = 6 (The tool crashed (signal 6, aborted).)",
                             "⛔️ spctl error 6\n[The tool crashed (signal 6, aborted).]\n"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(said))) << said << "\nin:\n"
                                                           << out.toStdString();
}

TEST(VarkoReportTest, JsonCarriesTheRecordTheChecksAndTheWholeText) {
    const CliRun text = varkoReport({example});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    const QString report = QString::fromUtf8(text.out);
    EXPECT_TRUE(report.startsWith("App path: ")) << report.toStdString();
    for (const char* part :
         {"app ID: com.example.varko.Example\n", "NSCameraUsageDescription : ",
          "NSBluetoothAlwaysUsageDescription : ", "com.apple.security.device.audio-input : 1\n",
          "com.apple.private.tcc.allow : (\n    kTCCServiceCamera,\n", "\nApp signature check:\n",
          "\ncodesign check:\n"})
        EXPECT_TRUE(report.contains(part)) << part;
    EXPECT_TRUE(report.endsWith("\n"));

    const CliRun r = varkoReport({"--json", example});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_EQ(doc.array().size(), 1);
    const QJsonObject o = doc.array().first().toObject();
    // The whole-app keys: an ad hoc app is rejected, and what it may use is by service.
    expectHasFile(o, "example-item.json");
    // Every key of the shipped schema, each of its type: the 34 checks among them.
    expectSchemaValid("items", r.out);
    EXPECT_EQ(o["report"].toString(), report);

    ASSERT_EQ(o["components"].toArray().size(), 1);
    const QJsonObject main = o["components"][0].toObject();
    expectHasFile(main, "example-main-component.json");
    EXPECT_TRUE(main["usageKeys"].toArray().contains("NSCameraUsageDescription"));
    EXPECT_TRUE(main["privacyServices"].toArray().contains("kTCCServiceCamera"));
    expectHasFile(serviceOf(o, "kTCCServiceCamera"), "example-camera.json");
}

TEST(VarkoReportTest, BadItemsAreNamedAndTheRestStillProcessed) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("gone.app"), notes = dir.filePath("notes.txt");
    QFile junk(dir.filePath("Junk.pkg"));
    ASSERT_TRUE(QFile(notes).open(QIODevice::WriteOnly) && junk.open(QIODevice::WriteOnly));
    const CliRun r = varkoReport({"--json", missing, example, notes});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(missing.toUtf8())) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(notes.toUtf8()));
    ASSERT_EQ(QJsonDocument::fromJson(r.out).array().size(), 1);

    EXPECT_EQ(varkoReport({}).status, 2);

    // Bytes that are no installer package: rejected in words, and no success.
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    const CliRun pkg = varkoReport({"--json", junk.fileName()});
    EXPECT_EQ(pkg.status, 2);
    EXPECT_TRUE(pkg.err.contains(": not a valid installer package: malformed xar archive"))
        << pkg.err.toStdString();
    const QJsonValue verdict = firstItem(pkg.out)["verdict"];
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
    const QJsonObject item = firstItem(r.out);
    expectHas(item, R"({"pubCamera": true, "pubMike": true})");
    EXPECT_EQ(item["components"][0]["flags"].toArray(), QJsonArray{"entitlements-mismatch"});
}

TEST(VarkoReportTest, HostileTextsStayValidJson) {
    QTemporaryDir dir;
    const QString app = makeBundle(
        dir, "Q\"uote\\s.app",
        xmlPlist("<key>CFBundleIdentifier</key><string>\"}]\\u0000\n\t😀</string>\n"
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
