#include <gtest/gtest.h>

#include "inspection/document.h"
#include "inspection/itemtype.h"
#include "support/faketool.h"

using namespace varko;
using varko::testing::FakeTool;
using varko::testing::makeBundle;
using varko::testing::xmlPlist;

namespace {

TEST(DocumentTest, TypeNameDecidesAppOrPackageExactly) {
    QTemporaryDir dir;
    FakeTool codesign(dir, "codesign");
    codesign.answer(xmlPlist("<key>com.apple.security.device.camera</key><true/>"));
    const auto tools = host::ToolSet::withPrograms({{host::codesignPath, codesign.program()}});
    const QUrl app = QUrl::fromLocalFile(makeBundle(dir, "A.app", xmlPlist("")));

    // One document read as each type in turn: each read replaces the record whole.
    Document doc;
    EXPECT_TRUE(doc.isApp);
    EXPECT_FALSE(doc.isPackage);
    EXPECT_EQ(doc.theInfo, nullptr);
    auto previous = doc.theInfo;

    struct Case {
        QString type;
        bool isApp;
        bool isPackage;
        bool toolRuns;
    };
    for (const Case& c : {Case{applicationBundleType, true, false, true},
                          Case{installerPackageType, false, true, false},
                          Case{"com.apple.Application-Bundle", false, false, false},
                          Case{"public.folder", false, false, false}}) {
        SCOPED_TRACE(c.type.toStdString());
        codesign.answer(xmlPlist("<key>com.apple.security.device.camera</key><true/>"));
        EXPECT_TRUE(doc.readFromURL(app, c.type, tools));
        EXPECT_EQ(doc.isApp, c.isApp);
        EXPECT_EQ(doc.isPackage, c.isPackage);
        ASSERT_NE(doc.theInfo, nullptr);
        EXPECT_EQ(doc.theInfo->url, app);
        EXPECT_EQ(doc.theInfo->pubCamera, c.toolRuns);
        EXPECT_EQ(codesign.ran(), c.toolRuns);
        EXPECT_NE(doc.theInfo, previous);
        previous = doc.theInfo;
    }
}

TEST(ItemTypeTest, MapsFoldersAndFilesBySuffixIgnoringCase) {
    QTemporaryDir dir;
    const auto mkdir = [&](const QString& name) {
        QDir().mkpath(dir.filePath(name));
        return dir.filePath(name);
    };
    const auto touch = [&](const QString& name) {
        EXPECT_TRUE(varko::testing::writeFile(dir.filePath(name)));
        return dir.filePath(name);
    };
    EXPECT_EQ(itemTypeForPath(mkdir("A.app")).typeName, applicationBundleType);
    EXPECT_EQ(itemTypeForPath(mkdir("B.APP")).typeName, applicationBundleType);
    EXPECT_EQ(itemTypeForPath(dir.filePath("A.app") + "/").typeName, applicationBundleType);
    EXPECT_EQ(itemTypeForPath(touch("I.pkg")).typeName, installerPackageType);
    EXPECT_EQ(itemTypeForPath(touch("J.Pkg")).typeName, installerPackageType);
    EXPECT_EQ(itemTypeForPath(mkdir("Old.pkg")).typeName, installerPackageType);

    for (const QString& refused : {touch("file.app"), touch("notes.txt"), mkdir("plain")}) {
        const ItemType type = itemTypeForPath(refused);
        EXPECT_FALSE(type.accepted()) << refused.toStdString();
        EXPECT_TRUE(type.error.contains("neither an app bundle")) << type.error.toStdString();
        EXPECT_TRUE(type.error.contains(refused));
    }
    const ItemType missing = itemTypeForPath(dir.filePath("gone.app"));
    EXPECT_FALSE(missing.accepted());
    EXPECT_TRUE(missing.error.contains("does not exist"));
}

}  // namespace
