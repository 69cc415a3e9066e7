// varko-report on disk images and zip archives: each app inside reported under the
// container's name, the copy it was read from never named; what can't be opened said.
#include <filesystem>

#include "cli/clitest.h"
#include "fixtures/exampleapp.h"
#include "fixtures/machowriter.h"
#include "fixtures/udifwriter.h"
#include "fixtures/zipwriter.h"

namespace {

using namespace varko::examplegen;
namespace fs = std::filesystem;

/// A zip of `entries` at `path`.
void writeZipFile(const fs::path& path, const std::vector<ZipEntry>& entries) {
    ASSERT_TRUE(writeFile(path, writeZip(entries)));
}

TEST(ContainerReportTest, EachAppInsideIsReportedUnderTheContainersName) {
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    fs::create_directories(root / "volume");
    ASSERT_TRUE(writeExampleApp(root / "volume").ok());
    if (!writeDiskImage(root / "volume", root / "Installer.dmg")) {
        GTEST_SKIP() << "genisoimage is needed to make disk images";
    }
    const ZipEntry plist{"A.app/Contents/Info.plist", "<plist/>", 0100644, 0, 0, false};
    writeZipFile(root / "Apps.zip", {plist});
    writeZipFile(root / "Empty.zip", {{"readme", "x", 0100644, 0, 0, false}});
    writeZipFile(root / "Hostile.zip", {plist, {"../x", "x", 0100644, 0, 0, false}});
    const QString dmg = dir.filePath("Installer.dmg"), zip = dir.filePath("Apps.zip");

    const auto json = varko::testing::varkoReport({"--json", dmg, zip}, 180000);
    EXPECT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray items = QJsonDocument::fromJson(json.out).array();
    ASSERT_EQ(items.size(), 2);
    varko::testing::expectHas(
        items[0],
        QJsonObject{{"path", dmg + "/Example.app"},
                    {"isApp", true},
                    {"container", QJsonObject{{"path", dmg}, {"pathInside", "Example.app"}}}});
    EXPECT_EQ(items[1]["path"], zip + "/A.app");
    EXPECT_FALSE(json.out.contains("varko-pkg-")) << "the copy's path leaked";
    varko::testing::expectSchemaValid("items", json.out);

    const auto text = varko::testing::varkoReport({dmg}, 180000);
    EXPECT_TRUE(text.out.contains(("App path: " + dmg + "/Example.app\n").toUtf8()))
        << text.out.toStdString();

    const struct {
        const char* file;
        const char* said;
    } refused[] = {{"Empty.zip", "Empty.zip: no app inside"},
                   {"Hostile.zip", "Varko won't open “Hostile.zip”"}};
    for (const auto& r : refused) {
        const auto run = varko::testing::varkoReport({dir.filePath(r.file)});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.contains(r.said)) << run.err.toStdString();
    }

    // A deep scan lists the apps inside as items, says which containers it couldn't open,
    // and leaves no copy behind; a plain scan doesn't look inside.
    const auto deep = varko::testing::varkoReport({"--scan", "--deep", dir.path()}, 180000);
    EXPECT_EQ(deep.status, 2) << deep.err.toStdString();
    QStringList lines = QString::fromUtf8(deep.out).split(u'\n', Qt::SkipEmptyParts);
    for (QString& line : lines) line = line.section(u' ', 0, 0);
    EXPECT_EQ(lines,
              (QStringList{zip + "/A.app", dir.filePath("Empty.zip"), dir.filePath("Hostile.zip"),
                           dmg + "/Example.app", dir.filePath("volume/Example.app")}))
        << deep.out.toStdString();
    EXPECT_FALSE(deep.out.contains("varko-pkg-")) << "the copy's path leaked";
    const auto shallow = varko::testing::varkoReport({"--scan", dir.path()}, 180000);
    EXPECT_EQ(shallow.out.count('\n'), 1) << shallow.out.toStdString();
}

}  // namespace
