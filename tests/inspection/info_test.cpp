#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <functional>

#include "inspection/info.h"
#include "support/faketool.h"

using namespace varko;
using varko::testing::FakeTool;
using varko::testing::makeBundle;
using varko::testing::testData;
using varko::testing::writeFile;
using varko::testing::xmlPlist;

namespace {

class InfoTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeTool codesign{dir, "codesign"};

    host::ToolSet toolSet() const {
        return host::ToolSet::withPrograms({{host::codesignPath, codesign.program()}});
    }

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
        for (const QString* usage :
             {&info.calendars, &info.contacts, &info.photos, &info.reminders, &info.sysadmin,
              &info.location, &info.camera, &info.mike, &info.aevent})
            EXPECT_EQ(*usage, "[]");
        EXPECT_EQ(info.usageStrings, "");
    }

    static std::vector<bool> flags(const Info& i) {
        return {i.pubCalendars,  i.pubContacts, i.pubReminders,  i.pubPhotos,     i.pubLocation,
                i.pubCamera,     i.pubMike,     i.pubAEvent,     i.privCalendars, i.privContacts,
                i.privReminders, i.privPhotos,  i.privLiverpool, i.privCamera,    i.privMike};
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
    const QString pkg = dir.filePath("Installer.pkg");
    ASSERT_TRUE(writeFile(pkg));
    const QString app =
        makeBundle(dir, "A.app", xmlPlist("<key>CFBundleIdentifier</key><string>x</string>"));

    struct Case {
        QString path;
        bool isApp;
        bool hasBundle;
    };
    for (const Case& c : {Case{pkg, false, false}, Case{app, false, true},
                          Case{dir.filePath("Missing.app"), true, false}}) {
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

TEST_F(InfoTest, ReadsIdentityAndUsageKeysAndListsEveryUsageKey) {
    codesign.answer({});
    // Its CFBundleVersion is an integer, not a text, and so is ignored.
    const QString app = makeBundle(dir, "U.app", testData("usage-keys-Info.plist"));
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

TEST_F(InfoTest, EachFailureOrServicelessAnswerOfTheEntitlementStageLeavesItsText) {
    const QByteArray notUtf8("\xff\xfe<plist>", 9);
    struct Case {
        const char* name;
        QByteArray out;
        int status;
        QString list;
        bool keepsData;
    };
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
        {"empty allowance list", xmlPlist("<key>com.apple.private.tcc.allow</key><array/>\n"), 0,
         "com.apple.private.tcc.allow : (\n)\n", true},
        {"top-level array",
         "<plist><array><string>com.apple.security.device.camera</string></array></plist>", 0,
         "(\n    \"com.apple.security.device.camera\"\n)\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Info info = inspectWithEntitlements(c.out, c.status);
        EXPECT_EQ(info.entitleList, c.list);
        EXPECT_EQ(info.entitleData, c.keepsData ? c.out : QByteArray());
        EXPECT_FALSE(info.entitlementRunFailed);  // the tool answered, if only with a refusal
        EXPECT_TRUE(noFlags(info));
    }
}

TEST_F(InfoTest, TheToolsStandardErrorNeverReachesOursAndAFloodOfItChangesNothing) {
    // codesign echoes the path, which a stranger names: escapes would reach the terminal.
    codesign.answer(entitlements, 0,
                    "Executable=/x/\x1b[2J\x1b]0;owned\x07.app\n" + QByteArray(1 << 20, 'e'));
    const QString app = makeBundle(dir, "E.app", xmlPlist(""));
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    QFile captured(dir.filePath("stderr"));
    ASSERT_TRUE(captured.open(QIODevice::ReadWrite));
    ::dup2(captured.handle(), STDERR_FILENO);
    const Info info = inspect(app);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    EXPECT_EQ(captured.size(), 0);
    EXPECT_TRUE(info.pubCamera);
    EXPECT_TRUE(info.privCamera);
    EXPECT_FALSE(info.entitlementRunFailed);
}

TEST_F(InfoTest, ToolThatCannotStartIsRecordedAsSuch) {
    const QString app = makeBundle(dir, "E.app", xmlPlist(""));
    const Info info(
        QUrl::fromLocalFile(app), true,
        host::ToolSet::withPrograms({{host::codesignPath, dir.filePath("no-such-tool")}}));
    EXPECT_TRUE(info.entitleList.startsWith("Failed, error = ")) << info.entitleList.toStdString();
    EXPECT_TRUE(info.entitleList.contains("could not be started"))
        << info.entitleList.toStdString();
    EXPECT_TRUE(info.entitlementRunFailed);
    EXPECT_TRUE(info.entitleData.isEmpty());
    EXPECT_TRUE(noFlags(info));
}

TEST_F(InfoTest, ListsEveryEntitlementAndRaisesOnlyExactMatches) {
    // Near misses of the services' names beside exact ones, and values of other types.
    const Info info = inspectWithEntitlements(testData("near-miss-entitlements.plist"));
    EXPECT_EQ(info.entitleList, QString::fromUtf8(testData("near-miss-entitlements.txt")));
    // A false microphone entry after a true audio input doesn't lower the shared flag.
    const std::vector<bool> expected{false, false, false, false, false, false, true, true,
                                     false, false, false, false, true,  false, false};
    EXPECT_EQ(flags(info), expected);
}

// Each record owns its arguments: a second one of the same bundle finds them unchanged.
TEST_F(InfoTest, BundlePathReachesTheToolAsOneArgumentEachTime) {
    codesign.answer(entitlements);
    const QString app =
        makeBundle(dir, "-My \"odd\" $HOME\nApp.app",
                   xmlPlist("<key>NSCameraUsageDescription</key><string>x</string>"));
    const Info a = inspect(app);
    const Info b = inspect(app);
    EXPECT_EQ(codesign.arguments(), QStringList({"--display", "--entitlements", ":-", app}));
    EXPECT_EQ(a.theCodesignParams, codesign.arguments());
    EXPECT_EQ(b.theCodesignParams, codesign.arguments());
    EXPECT_EQ(a.usageStrings, b.usageStrings);
    EXPECT_EQ(a.entitleList, b.entitleList);
    EXPECT_TRUE(a.pubCamera);
}

TEST_F(InfoTest, InfoPlistInAnyEncodingTheSystemReads) {
    codesign.answer({});
    const QString body = QStringLiteral(
        "<key>CFBundleIdentifier</key><string>com.example.caf\u00E9</string>\n"
        "<key>NSCameraUsageDescription</key><string>\u201CScan\u201D \u20AC</string>\n");
    const QByteArray xml = xmlPlist(body.toUtf8());
    QByteArray utf16BE("\xFE\xFF");
    for (QChar c : QString::fromUtf8(xml))
        utf16BE.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    QByteArray windows1252 = xmlPlist(
        "<key>CFBundleIdentifier</key><string>com.example.caf\xE9</string>\n"
        "<key>NSCameraUsageDescription</key><string>\x93Scan\x94 \x80</string>\n");
    windows1252.replace("encoding=\"UTF-8\"", "encoding=\"Windows-1252\"");

    for (const QByteArray& plist : {xml, utf16BE, windows1252}) {
        const Info info = inspect(makeBundle(dir, "Enc.app", plist));
        EXPECT_EQ(info.bundleID, QStringLiteral("com.example.caf\u00E9"));
        EXPECT_EQ(info.camera, QStringLiteral("\u201CScan\u201D \u20AC"));
    }
}

// Whatever is wrong with Info.plist, or if it is empty, the app is still an app: its
// entitlements are read and every identity and usage field keeps its initial value.
TEST_F(InfoTest, EmptyOrUnusableInfoPlistGivesAnEmptyDictionaryAndTheEntitlementStageRuns) {
    const QString outside = dir.filePath("outside.plist");
    ASSERT_TRUE(writeFile(
        outside, xmlPlist("<key>CFBundleIdentifier</key><string>not.this.bundle</string>")));
    // Makes the app `name`, has `make` spoil its Contents folder, and inspects it.
    const auto spoilt = [&](const QString& name, const std::function<void(const QString&)>& make,
                            const QString& problem, std::optional<ErrorCode> code = {}) {
        SCOPED_TRACE(name.toStdString());
        codesign.answer(entitlements);
        const QString app = makeBundle(dir, name, std::nullopt);
        make(app + "/Contents");
        const Info info = inspect(app);
        ASSERT_TRUE(info.theDict.has_value());
        EXPECT_TRUE(info.theDict->empty());
        EXPECT_TRUE(info.infoPlistProblem.contains(problem)) << info.infoPlistProblem.toStdString();
        // Where the bundle reader decides, it names the kind of fault.
        if (const auto read = Bundle{app}.readInfoDictionary(); code) {
            ASSERT_FALSE(read);
            EXPECT_EQ(read.error().code, *code);
        }
        expectUntouched(info);
        EXPECT_TRUE(codesign.ran());
        EXPECT_EQ(info.theCodesignParams, QStringList({"--display", "--entitlements", ":-", app}));
        EXPECT_TRUE(info.pubCamera);
        EXPECT_TRUE(info.privCamera);
    };
    // Info.plist written with these bytes, or made a link to `target`.
    const auto plist = [](const QByteArray& bytes) {
        return [bytes](const QString& contents) {
            ASSERT_TRUE(writeFile(contents + "/Info.plist", bytes));
        };
    };
    const auto link = [](const QString& target) {
        return [target](const QString& contents) {
            ASSERT_TRUE(QFile::link(target, contents + "/Info.plist"));
        };
    };
    const QString leadsOut = "Info.plist is a symbolic link that leads out of the bundle";
    spoilt("Empty.app", plist(xmlPlist("")), "");
    spoilt(
        "Missing.app", [](const QString&) {}, "the bundle has no Info.plist", ErrorCode::missing);
    spoilt("Garbage.app", plist(QByteArray("\xFF\xFE<\0p\0l\0i\0s\0t\0>\0<\0", 18)),
           "Contents/Info.plist: ");
    spoilt("Array.app", plist("<plist><array><string>CFBundleIdentifier</string></array></plist>"),
           "Contents/Info.plist holds no dictionary", ErrorCode::malformed);
    spoilt(
        "Big.app",
        [&](const QString& contents) {
            QFile f(contents + "/Info.plist");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(xmlPlist("<key>CFBundleIdentifier</key><string>big</string>"));
            ASSERT_TRUE(f.resize(Bundle::maxInfoPlistBytes + 1));  // sparse
        },
        "Info.plist: larger than 32 MiB");
    spoilt("LinkOut.app", link(outside), leadsOut);
    spoilt("ProcLink.app", link("/proc/self/mem"), leadsOut);
    spoilt("RelativeLinkOut.app", link("../../outside.plist"), "leads out of the bundle");
    spoilt(
        "ContentsOut.app",
        [&](const QString& contents) {
            QDir().mkpath(dir.filePath("elsewhere"));
            ASSERT_TRUE(QFile::copy(outside, dir.filePath("elsewhere/Info.plist")));
            ASSERT_TRUE(QDir(contents).removeRecursively());
            ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), contents));
        },
        "Contents is a symbolic link that leads out of the bundle");
    spoilt(
        "Fifo.app",
        [&](const QString& contents) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(contents + "/Info.plist").constData(), 0600), 0);
        },
        "Info.plist: not a regular file (a FIFO)");
    spoilt(
        "Folder.app", [&](const QString& contents) { QDir().mkpath(contents + "/Info.plist"); },
        "Info.plist: not a regular file (a folder)");
}

TEST_F(InfoTest, FlatBundleAndLinkThatStaysInsideTheBundleAreRead) {
    codesign.answer({});
    const QString flat = dir.filePath("Flat.app");
    QDir().mkpath(flat);
    ASSERT_TRUE(writeFile(flat + "/Info.plist",
                          xmlPlist("<key>CFBundleIdentifier</key><string>flat</string>")));
    EXPECT_EQ(inspect(flat).bundleID, "flat");
    const QString app = makeBundle(dir, "Inside.app", std::nullopt);
    QDir().mkpath(app + "/Contents/Resources");
    ASSERT_TRUE(writeFile(app + "/Contents/Resources/Real.plist",
                          xmlPlist("<key>CFBundleIdentifier</key><string>inside</string>")));
    ASSERT_TRUE(QFile::link("Resources/Real.plist", app + "/Contents/Info.plist"));
    EXPECT_EQ(inspect(app).bundleID, "inside");
}

}  // namespace
