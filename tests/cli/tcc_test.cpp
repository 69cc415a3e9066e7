// varko-report --tcc: a privacy database's grants beside what the example app declares, in
// text and in JSON that the shipped schema accepts; a database that is none refused.
#include <QProcess>

#include "cli/clitest.h"
#include "support/tccdatabase.h"

namespace {

using namespace varko;
using namespace varko::testing;

const QString validator = QStringLiteral(VARKO_SOURCE_DIR "/tests/cli/validatejson.py");

TEST(TccCli, GrantsBesideWhatTheAppDeclares) {
    QTemporaryDir dir;
    const QString db = dir.filePath("TCC.db");
    const QJsonArray rows{
        QJsonArray{"kTCCServiceCamera", "com.example.varko.Example", 0, 2, 2,
                   csreqHex("identifier \"com.example.varko.Example\""), 1709294400, ""},
        QJsonArray{"kTCCServiceMicrophone", "com.example.varko.Example", 0, 2, 6,
                   csreqHex("identifier \"com.example.varko.Other\""), 1709294400, ""}};
    writeTccDatabase(db, {{"layout", "current"}, {"rows", rows}});

    const ProgramRun text = varkoReport({"--tcc", db, example});
    EXPECT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(
        "  Camera (kTCCServiceCamera): declared, allowed; allowed (the user answered a prompt, "
        "2024-03-01 12:00:00 UTC): granted to this build\n"))
        << text.out.toStdString();
    EXPECT_TRUE(
        text.out.contains("Microphone (kTCCServiceMicrophone): declared, entitled; "
                          "allowed (a device management (MDM) profile, 2024-03-01 "
                          "12:00:00 UTC): granted to code signed differently\n"));

    const ProgramRun json = varkoReport({"--json", "--tcc=" + db, example}, 120000);
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    QJsonObject camera;
    for (const QJsonValue& s : firstItem(json.out)["privacyServices"].toArray())
        if (s["service"] == "kTCCServiceCamera") camera = s.toObject();
    expectHas(camera, QJsonDocument::fromJson(R"({"granted": [{
        "authorization": "allowed", "authValue": 2, "authReason": 2, "lastModified": 1709294400,
        "client": "com.example.varko.Example", "clientType": "bundleID",
        "appleEventsTarget": null, "build": "thisBuild", "buildText": "granted to this build",
        "reason": "the user answered a prompt",
        "codeRequirement": "identifier \"com.example.varko.Example\""}]})")
                          .object());
    const QString out = dir.filePath("out.json");
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(json.out) == json.out.size() && f.flush());
    QProcess validate;
    validate.start("python3",
                   {validator, QStringLiteral(VARKO_SOURCE_DIR "/resources/schema"), "items", out});
    ASSERT_TRUE(validate.waitForFinished(60000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();

    const ProgramRun none = varkoReport({"--tcc", example + "/Contents/Info.plist", example});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.err.endsWith("Info.plist: not a SQLite database\n")) << none.err.toStdString();
    EXPECT_TRUE(none.out.isEmpty());
}

}  // namespace
