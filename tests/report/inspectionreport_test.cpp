#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <variant>

#include "format/plist/value.h"
#include "overview/datafile.h"
#include "report/inspectionreport.h"
#include "report/iteminspection.h"
#include "report/signaturechecks.h"
#include "support/faketool.h"

using namespace varko;
using varko::testing::expectDataFile;
using varko::testing::FakeTool;
using varko::testing::makeBundle;
using varko::testing::testData;
using varko::testing::writeFile;
using varko::testing::xmlPlist;

namespace {

/// A record made by hand: the report is a function of the record alone.
Info recordWith(const std::function<void(Info&)>& fill) {
    Info info(QUrl::fromLocalFile("/Apps/Some App.app"), false, host::ToolSet::withPrograms({}));
    fill(info);
    return info;
}

TEST(InspectionReportTest, SdkChainTakesTheFirstMatchAndInternalIndependently) {
    for (const QList<QByteArray>& c : varko::testing::dataCases("sdk-checks.txt")) {
        SCOPED_TRACE(c[0].toStdString());
        const Info info = recordWith([&](Info& i) { i.sdk = QString::fromUtf8(c[0]); });
        const InspectionReport r = buildReport(&info, true);
        for (Check sdk : {Check::catalinaCheck, Check::tensixteenCheck, Check::mojaveCheck,
                          Check::hsCheck, Check::appleCheck})
            EXPECT_EQ(r.checks.get(sdk), c[1].split(' ').contains(checkName(sdk).toUtf8()))
                << checkName(sdk).toStdString();
    }
}

// Each name alone turns on its own field and checkbox and nothing else. The names, and the
// record's fields here, are written out again so that a slip in the services table shows.
TEST(InspectionReportTest, EachServiceNameTurnsOnOnlyItsOwnFieldAndCheckbox) {
    using Record = std::variant<bool Info::*, QString Info::*>;
    const std::map<QByteArray, Record> records{{"location", &Info::location},
                                               {"calendars", &Info::calendars},
                                               {"contacts", &Info::contacts},
                                               {"reminders", &Info::reminders},
                                               {"photos", &Info::photos},
                                               {"sysadmin", &Info::sysadmin},
                                               {"aevent", &Info::aevent},
                                               {"camera", &Info::camera},
                                               {"mike", &Info::mike},
                                               {"pubLocation", &Info::pubLocation},
                                               {"pubCalendars", &Info::pubCalendars},
                                               {"pubContacts", &Info::pubContacts},
                                               {"pubReminders", &Info::pubReminders},
                                               {"pubPhotos", &Info::pubPhotos},
                                               {"pubAEvent", &Info::pubAEvent},
                                               {"pubCamera", &Info::pubCamera},
                                               {"pubMike", &Info::pubMike},
                                               {"privLiverpool", &Info::privLiverpool},
                                               {"privCalendars", &Info::privCalendars},
                                               {"privContacts", &Info::privContacts},
                                               {"privReminders", &Info::privReminders},
                                               {"privPhotos", &Info::privPhotos},
                                               {"privCamera", &Info::privCamera},
                                               {"privMike", &Info::privMike}};
    const auto cases = varko::testing::dataCases("service-names.txt");
    std::map<QByteArray, QString> checkboxes;
    for (const QList<QByteArray>& c : cases)
        if (c[2] != "-") checkboxes[c[2]] = QString::fromUtf8(c.size() > 4 ? c[4] : c[2] + "Check");
    ASSERT_EQ(checkboxes.size(), records.size());
    QTemporaryDir dir;
    FakeTool codesign(dir, "codesign");
    const auto tools = host::ToolSet::withPrograms({{host::codesignPath, codesign.program()}});
    for (const QList<QByteArray>& c : cases) {
        SCOPED_TRACE(c.join('|').toStdString());
        const QByteArray& name = c[1];
        QByteArray infoPlist, entitlements;
        if (c[0] == "usage") infoPlist = "<key>" + name + "</key><string></string>";
        if (c[0] == "entitlement") entitlements = "<key>" + name + "</key><true/>";
        if (c[0] == "allowance")
            entitlements = "<key>com.apple.private.tcc.allow</key><array><string>" + name +
                           "</string></array>";
        codesign.answer(xmlPlist(entitlements));
        const QString app = makeBundle(dir, "S.app", xmlPlist(infoPlist));
        Inspection item;
        item.document.theInfo = std::make_shared<const Info>(QUrl::fromLocalFile(app), true, tools);
        item.report = buildReport(item.document.theInfo.get(), true);
        const Info& info = *item.document.theInfo;
        const QJsonObject o = inspectionJson(item), checks = o["checks"].toObject();
        for (const auto& [field, record] : records) {
            const bool on = c[2] == field;
            const auto* flag = std::get_if<bool Info::*>(&record);
            const QJsonValue value = flag ? QJsonValue(info.**flag)
                                          : QJsonValue(info.*std::get<QString Info::*>(record));
            EXPECT_EQ(flag ? value.toBool() : value != "[]", on && c[3] == "1") << field.data();
            EXPECT_EQ(o[QString::fromUtf8(field)], value) << field.data();
            EXPECT_EQ(checks[checkboxes[field]].toBool(), on) << checkboxes[field].toStdString();
        }
    }
}

TEST(InspectionReportTest, PackageAndMissingRecordShowNothingOfTheRecord) {
    const Info info = recordWith([](Info& i) {
        i.bundleID = "x";
        i.camera = "y";
    });
    const InspectionReport pkg = buildReport(&info, false);
    EXPECT_EQ(pkg.saveString, "");
    EXPECT_FALSE(pkg.appIDText.has_value());
    EXPECT_FALSE(pkg.versionText.has_value());
    for (int i = 0; i < checkCount; ++i) EXPECT_FALSE(pkg.checks.get(Check(i)).has_value());
    EXPECT_TRUE(pkg.startsSignatureChecks);
    EXPECT_EQ(pkg.path, "/Apps/Some App.app");

    const InspectionReport none = buildReport(nullptr, true);
    EXPECT_EQ(none.saveString, "");
    EXPECT_FALSE(none.startsSignatureChecks);
}

TEST(InspectionReportTest, AppWithoutUsageDescriptionsHasAnEmptyLineBeforeEntitlements) {
    const Info info = recordWith([](Info& i) { i.entitleList = "[none]"; });
    const InspectionReport r = buildReport(&info, true);
    EXPECT_EQ(r.saveString,
              "App path: /Apps/Some App.app\napp ID: \nversion: [none]\nbuild: [none]\n"
              "SDK version: [none]\n\nUsage Descriptions:\n\nEntitlements:\n[none]");
    EXPECT_EQ(r.appIDText, "");
    EXPECT_EQ(r.versionText, "[none]");
}

/// Golden texts of whole windows: the report, then the two signature sections, from
/// fixture bundles and fake tools. VARKO_UPDATE_GOLDEN=1 rewrites them.
class GoldenReportTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeTool codesign{dir, "codesign"}, spctl{dir, "spctl"}, pkgutil{dir, "pkgutil"};

    QString windowText(const QString& path, bool isApp) {
        const auto tools = host::ToolSet::withPrograms({{host::codesignPath, codesign.program()},
                                                        {host::spctlPath, spctl.program()},
                                                        {host::pkgutilPath, pkgutil.program()}});
        const Info info(QUrl::fromLocalFile(path), isApp, tools);
        const InspectionReport r = buildReport(&info, isApp);
        const SignatureSections s =
            signatureSections(isApp, runSignatureTools(tools, isApp, r.path));
        return QString(r.saveString + s.assessment + s.signature).replace(path, "@PATH@");
    }
};

TEST(InspectionReportTest, ValuesCannotWriteLinesThatLookLikeTheReportsOwn) {
    const Info info = recordWith([](Info& i) {
        i.bundleID = "com.example\nversion: 9.9\r\x1b[2J";
        i.version = "1.0\u2028build: 42\u202e";
        i.build = "7";
    });
    const InspectionReport r = buildReport(&info, true);
    EXPECT_TRUE(r.saveString.contains("app ID: com.example\u240Aversion: 9.9\u240D\u241B[2J\n"));
    EXPECT_TRUE(r.saveString.contains("version: 1.0<U+2028>build: 42<U+202E>\n"));
    EXPECT_EQ(r.saveString.count('\n'),
              9);  // path, ID, version, build, SDK, blank, heading, usage, entitlements
    EXPECT_EQ(r.appIDText, "com.example\u240Aversion: 9.9\u240D\u241B[2J");

    // Keys and text values of the listings stay on their one line; nested texts are quoted.
    plist::Dictionary nested;
    nested.set("k", plist::Value(std::string("a\nb")));
    EXPECT_EQ(
        reportLine("NSCameraUsageDescription", plist::Value(std::string("Scan\nEntitlements:"))),
        "NSCameraUsageDescription : Scan\u240AEntitlements:\n");
    EXPECT_EQ(reportLine("x\ncom.apple.security.device.camera", plist::Value(true)),
              "x\u240Acom.apple.security.device.camera : 1\n");
    EXPECT_EQ(reportLine("d", plist::Value(std::move(nested))), "d : {\n    k = \"a\\nb\";\n}\n");
}

TEST(InspectionReportTest, TheViewShowsLongLinesCutAndEverythingElseAsItIs) {
    const QString plain = "App path: /x.app\nshort line\n";
    EXPECT_EQ(shownForm(plain), plain);
    const QString longLine = QString(maxShownLineLength, 'a');
    EXPECT_EQ(shownForm("x\n" + longLine + "\ny"), "x\n" + longLine + "\ny");

    const QString huge = "NSCameraUsageDescription : " + QString(1'000'000, 'b');
    const QString shown = shownForm("first\n" + huge + "\nlast\n");
    EXPECT_TRUE(shown.startsWith("first\nNSCameraUsageDescription : bbb"));
    EXPECT_TRUE(shown.endsWith(
        QStringLiteral(" … [%1 more characters are not shown here; Save Report keeps them]\nlast\n")
            .arg(huge.size() - maxShownLineLength)));
    EXPECT_LT(shown.size(), 2 * maxShownLineLength);

    // A cut never splits a character that takes two UTF-16 units.
    QString emoji;
    for (int i = 0; i < maxShownLineLength; ++i) emoji += QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString cut = shownForm(emoji);
    EXPECT_FALSE(cut[cut.indexOf(QStringLiteral(" … ")) - 1].isHighSurrogate());
}

TEST(InspectionReportTest, ShownPositionsLeadBackToTheExactCharacters) {
    // One shown character for each of the report's: a view would merge CR LF into one
    // break and make blocks of the frame marks.
    const QString odd = QString::fromUtf8("a\rb\r\nc\u2028d\u2029e\u00a0f\uFDD0\uFFFC");
    EXPECT_EQ(shownForm(odd),
              QString::fromUtf8("a\u240Db\u240D\nc\u2028d\u2029e\u00a0f\uFFFD\uFFFD"));

    ReportText report;
    const QString line = QString(maxShownLineLength, u'x') + "HIDDEN";
    report.append("ab\n");
    report.append(line + "\nz");
    const qsizetype note = report.shown().indexOf(QStringLiteral(" … ["));
    ASSERT_EQ(note, 3 + maxShownLineLength);
    EXPECT_EQ(report.exactText(0, 2), "ab");
    // Any part of the note stands for all it hides; past it, positions line up again.
    EXPECT_EQ(report.exactText(note + 2, note + 4), "HIDDEN");
    EXPECT_EQ(report.exactText(note - 1, report.shown().size()), "xHIDDEN\nz");
    EXPECT_EQ(report.exactPosition(report.shown().size()), report.text().size());
    EXPECT_EQ(report.exactText(0, report.shown().size()), report.text());
}

TEST_F(GoldenReportTest, RichApp) {
    spctl.answer("", 0,
                 "@PATH@: accepted\nsource=Notarized Developer ID\norigin=Developer ID "
                 "Application: Example Corp (ABCDE12345)\n");
    // One fake serves both codesign runs: the entitlement display and -dvvv.
    codesign.answer(
        xmlPlist("<key>com.apple.security.device.audio-input</key><true/>\n"
                 "<key>com.apple.private.tcc.allow</key><array><string>kTCCServiceCamera</string>"
                 "<string>kTCCServiceLiverpool</string></array>\n"),
        0, {},
        "if [ \"$1\" = -dvvv ]; then printf 'Executable=%s/Contents/MacOS/Rich\\nCodeDirectory "
        "v=20500 "
        "size=600 flags=0x10000(runtime) hashes=8+7 location=embedded\\n' \"$2\" >&2; exit 0; fi");
    const QString app = makeBundle(dir, "Rich.app", testData("rich-app-Info.plist"));
    expectDataFile(windowText(app, true).toStdString(), "rich-app.txt");
}

TEST_F(GoldenReportTest, BareAppWhoseToolsFail) {
    codesign.answer("", 1, "x: code object is not signed at all\n");
    spctl.answer("", 3, "@PATH@: rejected\nsource=no usable signature\n");
    const QString app = makeBundle(dir, "Bare App.app",
                                   xmlPlist("<key>CFBundleIdentifier</key><string>b</string>\n"));
    expectDataFile(windowText(app, true).toStdString(), "bare-app.txt");
}

TEST_F(GoldenReportTest, Package) {
    spctl.answer("", 0,
                 "@PATH@: accepted\nsource=Developer ID\norigin=Developer ID Installer: Example "
                 "Corp (ABCDE12345)\n");
    pkgutil.answer(
        "Package \"Tool.pkg\":\n   Status: signed by a developer certificate issued by Apple for "
        "distribution\n");
    ASSERT_TRUE(writeFile(dir.filePath("Tool.pkg")));
    expectDataFile(windowText(dir.filePath("Tool.pkg"), false).toStdString(), "package.txt");
}

}  // namespace
