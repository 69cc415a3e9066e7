// varko-report's JSON, one item, a scan and a comparison, checked against the schemas
// that ship with it, on apps with every kind of piece, flag and privacy manifest.
#include <filesystem>

#include "cli/clitest.h"
#include "fixtures/componentbundle.h"
#include "fixtures/machowriter.h"
#include "fixtures/pkgwriter.h"
#include "fixtures/xarwriter.h"

namespace {

using namespace varko::examplegen;
namespace fs = std::filesystem;

ComponentApp richApp(const std::string& version, Signing pieceSigning) {
    ComponentApp app;
    app.version = version;
    app.info.set("NSCameraUsageDescription", "Video calls.");
    app.info.set("NSSomethingNewUsageDescription", "Unknown to the table.");
    app.entitlements = entitlementsGranting(
        {"com.apple.security.device.camera", "com.apple.security.get-task-allow"});
    app.privacyManifest =
        privacyManifestText(true, {"t.example"}, {"NSPrivacyCollectedDataTypeEmailAddress"},
                            {{"NSPrivacyAccessedAPICategoryDiskSpace", {"E174.1"}}});
    Piece kit = pieceAt(PieceKind::framework, "Contents/Frameworks/Kit.framework");
    kit.signing = pieceSigning;
    kit.privacyManifest = privacyManifestText(false, {}, {}, {});
    app.pieces = {kit, pieceAt(PieceKind::xpcService, "Contents/XPCServices/Fetch.xpc"),
                  pieceAt(PieceKind::launchAgent, "Contents/Library/LaunchAgents/com.x.plist")};
    app.pieces[1].signing = Signing::otherTeam;
    return app;
}

TEST(SchemaTest, ItemsScansAndComparisonsMatchTheShippedSchemas) {
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    const TestPki pki;
    const fs::path folder = root / "Applications";
    const QString folderPath = QString::fromStdString(folder.string());
    const QString oldPath =
        varko::testing::writeApp(folderPath + "/old", richApp("1.0", Signing::developerId), pki);
    const QString newPath =
        varko::testing::writeApp(folderPath, richApp("2.0", Signing::adhoc), pki);
    ASSERT_TRUE(writeFile(folder / "Tool.pkg", makeXar("", std::nullopt)));
    const auto tool = makeMachO({});
    const auto payload =
        makeCpio({folderEntry("./Foo.app"), fileEntry("./Foo.app/tool", "x", 04755),
                  fileEntry("./bin/tool",
                            std::string(reinterpret_cast<const char*>(tool.data()), tool.size()))},
                 Compression::pbzx);
    ASSERT_TRUE(writeFile(
        folder / "Product.pkg",
        makeFlatPackage({{"A.pkg/PackageInfo", packageInfo("a", "1", "/Applications")},
                         {"A.pkg/Payload", payload},
                         {"A.pkg/Scripts",
                          makeCpio({fileEntry("./postinstall", "exit 0")}, Compression::gzip)}})));

    // The apps' copies live in a private folder under TMPDIR, gone once the run ends.
    const QTemporaryDir scratch;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", scratch.path().toUtf8());
    const auto items = varko::testing::varkoReport(
        {"--json", oldPath, newPath, QString::fromStdString((folder / "Tool.pkg").string()),
         QString::fromStdString((folder / "Product.pkg").string())},
        180000);
    varko::testing::expectSchemaValid("items", items.out);
    const QJsonObject product = QJsonDocument::fromJson(items.out).array().last().toObject();
    EXPECT_EQ(product["payload"]["apps"][0]["path"], "/Applications/Foo.app");
    // Inspected from its copy, which is gone afterwards.
    EXPECT_TRUE(product["payload"]["apps"][0]["verdict"]["state"].isString());
    // A loose tool is judged by its signature alone: Gatekeeper judges apps.
    const QJsonObject looseTool = product["payload"]["apps"][1].toObject();
    EXPECT_EQ(looseTool["kind"], "mach-o");
    EXPECT_EQ(looseTool["signer"], "adhoc");
    EXPECT_EQ(looseTool["valid"], true) << QJsonDocument(looseTool).toJson().toStdString();
    EXPECT_FALSE(looseTool.contains("verdict"));
    EXPECT_EQ(product["payload"]["files"][1]["mode"], "4755");
    EXPECT_EQ(product["payload"]["scripts"][0]["text"], "exit 0");

    // Deeper than a scan looks, so that its record of the cut is checked too.
    fs::path deep = folder;
    for (int depth = 0; depth < 33; ++depth) deep /= "d";
    fs::create_directories(deep);
    const auto scan = varko::testing::varkoReport(
        {"--scan", "--json", "--deep", QString::fromStdString(folder.string())}, 180000);
    // The cut, four items, and the app inside the product archive as an item of its own.
    EXPECT_EQ(scan.out.count('\n'), 6) << scan.err.toStdString();
    const QString inside = QString::fromStdString((folder / "Product.pkg").string());
    EXPECT_TRUE(
        scan.out.contains(QJsonDocument(QJsonObject{{"path", inside + "!/Applications/Foo.app"}})
                              .toJson(QJsonDocument::Compact)
                              .mid(1)
                              .chopped(1)))
        << scan.out.toStdString();
    EXPECT_TRUE(scan.out.startsWith("{\"cut\":{")) << scan.out.left(200).toStdString();
    varko::testing::expectSchemaValid("lines", scan.out);

    const auto diff = varko::testing::varkoReport({"--diff", "--json", oldPath, newPath}, 180000);
    EXPECT_EQ(diff.status, 1) << diff.err.toStdString();
    varko::testing::expectSchemaValid("comparison", diff.out);
    if (oldTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
    EXPECT_TRUE(
        QDir(scratch.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

}  // namespace
