#include <gtest/gtest.h>

#include "inspection/info.h"
#include "support/faketool.h"

using namespace varko;
using varko::testing::FakeTool;
using varko::testing::makeBundle;
using varko::testing::xmlPlist;

namespace {

class InfoTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeTool codesign{dir, "codesign"};

    tools::ToolSet toolSet() const { return tools::ToolSet::withPrograms({{tools::codesignPath, codesign.program()}}); }

    Info inspect(const QString& path, bool isApp = true) {
        return Info(QUrl::fromLocalFile(path), isApp, toolSet());
    }

    Info inspectWithEntitlements(const QByteArray& toolOutput, int status = 0) {
        codesign.answer(toolOutput, status);
        return inspect(makeBundle(dir, "E.app", xmlPlist("")));
    }

    static void expectUntouched(const Info& info) {
        EXPECT_EQ(info.bundleID, "");
        EXPECT_EQ(info.version, "[none]");
        EXPECT_EQ(info.build, "[none]");
        EXPECT_EQ(info.sdk, "[none]");
        for (const QString* usage : {&info.calendars, &info.contacts, &info.photos, &info.reminders,
                                     &info.sysadmin, &info.location, &info.camera, &info.mike, &info.aevent})
            EXPECT_EQ(*usage, "[]");
        EXPECT_EQ(info.usageStrings, "");
    }

    static std::vector<bool> flags(const Info& i) {
        return {i.pubCalendars, i.pubContacts, i.pubReminders, i.pubPhotos, i.pubLocation,
                i.pubCamera, i.pubMike, i.pubAEvent, i.privCalendars, i.privContacts,
                i.privReminders, i.privPhotos, i.privLiverpool, i.privCamera, i.privMike};
    }
    static bool noFlags(const Info& i) {
        for (bool f : flags(i))
            if (f) return false;
        return true;
    }
};

const QByteArray entitlements = xmlPlist(
    "<key>com.apple.security.device.camera</key><true/>\n"
    "<key>com.apple.private.tcc.allow</key><array><string>kTCCServiceCamera</string></array>\n");

TEST_F(InfoTest, PackageAndNonBundlesKeepInitialValuesAndRunNoTool) {
    codesign.answer(entitlements);
    QFile pkg(dir.filePath("Installer.pkg"));
    ASSERT_TRUE(pkg.open(QIODevice::WriteOnly));
    pkg.close();
    const QString app = makeBundle(dir, "A.app", xmlPlist("<key>CFBundleIdentifier</key><string>x</string>"));

    struct Case { QString path; bool isApp; bool hasBundle; };
    for (const Case& c : {Case{pkg.fileName(), false, false}, Case{app, false, true},
                          Case{dir.filePath("Missing.app"), true, false},
                          Case{makeBundle(dir, "NoPlist.app", std::nullopt), true, true}}) {
        SCOPED_TRACE(c.path.toStdString());
        const Info info = inspect(c.path, c.isApp);
        EXPECT_EQ(info.path(), c.path);
        EXPECT_EQ(info.bundle.has_value(), c.hasBundle);
        EXPECT_FALSE(info.theDict.has_value());
        expectUntouched(info);
        EXPECT_EQ(info.entitleList, "[none]");
        EXPECT_TRUE(info.entitleData.isEmpty());
        EXPECT_TRUE(noFlags(info));
        EXPECT_EQ(info.theCodesignParams, QStringList({"--display", "--entitlements", ":-"}));
    }
    EXPECT_FALSE(codesign.ran());
}

TEST_F(InfoTest, EmptyDictionaryStillRunsTheEntitlementStage) {
    codesign.answer(entitlements);
    const QString app = makeBundle(dir, "Empty.app", xmlPlist(""));
    const Info info = inspect(app);
    ASSERT_TRUE(info.theDict.has_value());
    expectUntouched(info);
    EXPECT_TRUE(codesign.ran());
    EXPECT_EQ(info.theCodesignParams, QStringList({"--display", "--entitlements", ":-", app}));
    EXPECT_TRUE(info.pubCamera);
}

TEST_F(InfoTest, ReadsIdentityAndUsageKeysAndListsEveryUsageKey) {
    codesign.answer({});
    const QString app = makeBundle(dir, "U.app", xmlPlist(
        "<key>CFBundleIdentifier</key><string>com.example.u</string>\n"
        "<key>CFBundleVersion</key><integer>7</integer>\n"  // not a text: ignored
        "<key>CFBundleShortVersionString</key><string>2.0</string>\n"
        "<key>DTSDKName</key><string>macosx10.15</string>\n"
        "<key>NSCameraUsageDescription</key><string>To scan codes.</string>\n"
        "<key>NSMicrophoneUsageDescription</key><string></string>\n"
        "<key>NSBluetoothAlwaysUsageDescription</key><string>To pair.</string>\n"
        "<key>nscontactsusagedescription</key><string>lower case</string>\n"
        "<key>NSLocationUsageDescription</key><string>[]</string>\n"
        "<key>NSFooUsageDescriptions</key><array><string>a b</string><string>c</string></array>\n"));
    const Info info = inspect(app);
    EXPECT_EQ(info.bundleID, "com.example.u");
    EXPECT_EQ(info.version, "2.0");
    EXPECT_EQ(info.build, "[none]");
    EXPECT_EQ(info.sdk, "macosx10.15");
    EXPECT_EQ(info.camera, "To scan codes.");
    EXPECT_EQ(info.mike, "");
    EXPECT_EQ(info.contacts, "[]");
    EXPECT_EQ(info.location, "[]");  // indistinguishable from an absent key, by design
    EXPECT_EQ(info.usageStrings,
              "NSCameraUsageDescription : To scan codes.\n"
              "NSMicrophoneUsageDescription : \n"
              "NSBluetoothAlwaysUsageDescription : To pair.\n"
              "NSLocationUsageDescription : []\n"
              "NSFooUsageDescriptions : (\n    \"a b\",\n    c\n)\n");
}

TEST_F(InfoTest, EachFailureOfTheEntitlementStageLeavesItsText) {
    const QByteArray notUtf8("\xff\xfe<plist>", 9);
    struct Case { const char* name; QByteArray out; int status; QString list; bool keepsData; };
    const Case cases[] = {
        {"exit status 1", entitlements, 1, "Failed, error = 1", false},
        {"exit status 70", "", 70, "Failed, error = 70", false},
        {"not UTF-8", notUtf8, 0, "\nNo property list returned.", true},
        {"not a plist", "garbage <<", 0, "garbage <<\nNo property list returned.", true},
        {"empty output", "", 0, "\nNo property list returned.", true},
        {"empty dictionary", xmlPlist(""), 0,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict/>\n</plist>\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Info info = inspectWithEntitlements(c.out, c.status);
        EXPECT_EQ(info.entitleList, c.list);
        EXPECT_EQ(info.entitleData, c.keepsData ? c.out : QByteArray());
        EXPECT_TRUE(noFlags(info));
    }
}

TEST_F(InfoTest, ToolThatCannotStartIsRecordedAsSuch) {
    const QString app = makeBundle(dir, "E.app", xmlPlist(""));
    const Info info(QUrl::fromLocalFile(app), true,
                    tools::ToolSet::withPrograms({{tools::codesignPath, dir.filePath("no-such-tool")}}));
    EXPECT_TRUE(info.entitleList.startsWith("Failed, error = ")) << info.entitleList.toStdString();
    EXPECT_TRUE(info.entitleList.contains("could not be started")) << info.entitleList.toStdString();
    EXPECT_TRUE(info.entitleData.isEmpty());
    EXPECT_TRUE(noFlags(info));
}

TEST_F(InfoTest, ListsEveryEntitlementAndRaisesOnlyExactMatches) {
    const Info info = inspectWithEntitlements(xmlPlist(
        "<key>com.apple.security.device.camera</key><false/>\n"
        "<key>com.apple.security.device.audio-input</key><true/>\n"
        "<key>com.apple.security.device.microphone</key><false/>\n"
        "<key>com.apple.security.personal-information.calendars.extra</key><true/>\n"
        "<key>com.apple.security.personal-information.photos-library</key><integer>1</integer>\n"
        "<key>com.apple.private.tcc.allow</key><array>\n"
        "<string>kTCCServiceLiverpool</string><string>kTCCServiceFuture</string>"
        "<string>kTCCServicecamera</string><integer>3</integer></array>\n"
        "<key>com.apple.security.automation.apple-events</key><true/>\n"));
    EXPECT_EQ(info.entitleList,
              "com.apple.security.device.camera : 0\n"
              "com.apple.security.device.audio-input : 1\n"
              "com.apple.security.device.microphone : 0\n"
              "com.apple.security.personal-information.calendars.extra : 1\n"
              "com.apple.security.personal-information.photos-library : 1\n"
              "com.apple.private.tcc.allow : (\n"
              "    kTCCServiceLiverpool,\n    kTCCServiceFuture,\n    kTCCServicecamera,\n    3\n)\n"
              "com.apple.security.automation.apple-events : 1\n");
    // A false microphone entry after a true audio input doesn't lower the shared flag.
    const std::vector<bool> expected{false, false, false, false, false, false, true, true,
                                     false, false, false, false, true, false, false};
    EXPECT_EQ(flags(info), expected);
}

TEST_F(InfoTest, EveryServiceAndEntitlementReachesItsOwnFlag) {
    const Info info = inspectWithEntitlements(xmlPlist(
        "<key>com.apple.security.personal-information.calendars</key><true/>\n"
        "<key>com.apple.security.personal-information.addressbook</key><true/>\n"
        "<key>com.apple.security.personal-information.reminders</key><true/>\n"
        "<key>com.apple.security.personal-information.photos-library</key><true/>\n"
        "<key>com.apple.security.personal-information.location</key><true/>\n"
        "<key>com.apple.security.device.camera</key><true/>\n"
        "<key>com.apple.security.device.microphone</key><true/>\n"
        "<key>com.apple.security.automation.apple-events</key><true/>\n"
        "<key>com.apple.private.tcc.allow</key><array>\n"
        "<string>kTCCServiceCalendar</string><string>kTCCServiceAddressBook</string>"
        "<string>kTCCServiceReminders</string><string>kTCCServicePhotos</string>"
        "<string>kTCCServiceLiverpool</string><string>kTCCServiceCamera</string>"
        "<string>kTCCServiceMicrophone</string></array>\n"));
    EXPECT_EQ(flags(info), std::vector<bool>(15, true));
}

TEST_F(InfoTest, EmptyAllowListWritesItsLineAndRaisesNothing) {
    const Info info = inspectWithEntitlements(
        xmlPlist("<key>com.apple.private.tcc.allow</key><array/>\n"));
    EXPECT_EQ(info.entitleList, "com.apple.private.tcc.allow : (\n)\n");
    EXPECT_TRUE(noFlags(info));
}

TEST_F(InfoTest, TopLevelArrayIsListedWithoutFlags) {
    const Info info = inspectWithEntitlements(
        "<plist><array><string>com.apple.security.device.camera</string></array></plist>");
    EXPECT_EQ(info.entitleList, "(\n    \"com.apple.security.device.camera\"\n)\n");
    EXPECT_TRUE(noFlags(info));
}

TEST_F(InfoTest, BundlePathReachesTheToolAsOneArgument) {
    codesign.answer(entitlements);
    const QString app = makeBundle(dir, "-My \"odd\" $HOME\nApp.app", xmlPlist(""));
    const Info info = inspect(app);
    EXPECT_EQ(codesign.arguments(), QStringList({"--display", "--entitlements", ":-", app}));
    EXPECT_EQ(info.theCodesignParams.size(), 4);
    EXPECT_TRUE(info.pubCamera);
}

TEST_F(InfoTest, TwoRecordsOfOneBundleAreEqualAndOwnTheirArguments) {
    codesign.answer(entitlements);
    const QString app = makeBundle(dir, "Twice.app", xmlPlist(
        "<key>NSCameraUsageDescription</key><string>x</string>"));
    const Info a = inspect(app);
    const Info b = inspect(app);
    EXPECT_EQ(a.usageStrings, b.usageStrings);
    EXPECT_EQ(a.entitleList, b.entitleList);
    EXPECT_EQ(a.theCodesignParams, b.theCodesignParams);
    EXPECT_EQ(a.theCodesignParams.size(), 4);
}

TEST_F(InfoTest, FlatBundleAndOversizedOrNonDictionaryInfoPlist) {
    codesign.answer({});
    const QString flat = dir.filePath("Flat.app");
    QDir().mkpath(flat);
    QFile f(flat + "/Info.plist");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(xmlPlist("<key>CFBundleIdentifier</key><string>flat</string>"));
    f.close();
    EXPECT_EQ(inspect(flat).bundleID, "flat");

    const QString arrayTop = makeBundle(dir, "Arr.app", "<plist><array/></plist>");
    EXPECT_FALSE(inspect(arrayTop).theDict.has_value());

    const QString big = makeBundle(dir, "Big.app", std::nullopt);
    QFile huge(big + "/Contents/Info.plist");
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(Bundle::maxInfoPlistBytes + 1));  // sparse
    huge.close();
    EXPECT_FALSE(inspect(big).theDict.has_value());
}

}  // namespace
