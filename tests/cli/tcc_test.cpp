// varko-report --tcc: a privacy database's grants beside what the example app declares, in
// text and in JSON that the shipped schema accepts; a database that is none refused.
#include "cli/clitest.h"
#include "support/tccdatabase.h"

namespace {

using namespace varko;
using namespace varko::testing;

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
    expectHasFile(serviceOf(firstItem(json.out), "kTCCServiceCamera"),
                  "example-camera-granted.json");
    expectSchemaValid("items", json.out);

    const ProgramRun none = varkoReport({"--tcc", example + "/Contents/Info.plist", example});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.err.endsWith("Info.plist: not a SQLite database\n")) << none.err.toStdString();
    EXPECT_TRUE(none.out.isEmpty());
}

}  // namespace
