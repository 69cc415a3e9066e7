#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "app/alertrecorder.h"
#include "app/appdelegate.h"
#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/faketool.h"

namespace varko {
namespace {

using testing::FakeTool;

// One entry whose message no real log holds; the probe and the log browser both read it.
const QByteArray fakeLog =
    R"([{"timestamp":"2021-04-07 18:22:06.123456+0100","subsystem":"com.apple.TCC","eventMessage":"fake-log-entry"},
{"timestamp":"2021-04-07 18:22:07.123456+0100","subsystem":"com.apple.TCC","eventMessage":"fake-log-entry"}])";

// The fakes are the only tools that give these answers, so any run that falls back
// to the system's tools (Varko's own stand-ins beside this program, or the
// platform's) changes the report or the launch alerts.
TEST(InjectedTools, EveryToolAnswerComesFromTheToolSetGivenAtTheTop) {
    QSettings().clear();
    QSettings().setValue("noUpdateCheck", true);  // the update check is no tool and needs a network
    const testing::AlertRecorder recorder;
    const std::vector<Alert>& alerts = recorder.alerts;

    QTemporaryDir dir;
    FakeTool codesign(dir, "codesign"), spctl(dir, "spctl"), pkgutil(dir, "pkgutil"), id(dir, "id"),
        log(dir, "log"), hdiutil(dir, "hdiutil");
    codesign.answer(testing::xmlPlist("<key>com.example.fake-entitlement</key><true/>\n"), 0, {},
                    "if [ \"$1\" = -dvvv ]; then echo 'fake codesign: verified' >&2; exit 0; fi");
    spctl.answer("", 0, "fake spctl: accepted\nsource=Fake Assessor\n");
    pkgutil.answer("fake pkgutil\n");
    id.answer("4242\n");
    log.answer(fakeLog);
    hdiutil.answer("");
    host::PlatformProfile profile;
    profile.logStoreFolder = dir.filePath("store");
    profile.logTimesyncFolder = dir.filePath("timesync");
    profile.logReaderGroupIds = {"4242"};
    for (const QString& folder : {profile.logStoreFolder, profile.logTimesyncFolder}) {
        QDir().mkpath(folder);
        ASSERT_TRUE(testing::writeFile(folder + "/entry"));
    }
    const host::ToolSet fakes =
        host::ToolSet::withPrograms({{host::codesignPath, codesign.program()},
                                     {host::spctlPath, spctl.program()},
                                     {host::pkgutilPath, pkgutil.program()},
                                     {host::idPath, id.program()},
                                     {host::logPath, log.program()},
                                     {host::hdiutilPath, hdiutil.program()}})
            .withProfile(profile);

    {
        AppDelegate delegate(fakes);
        // The launch probe asks the fakes; the system's id and log would fail it.
        delegate.launchEnvironment.systemVersion = [] { return std::pair<int, int>(13, 0); };
        const QString app = testing::makeBundle(
            dir, "Fake.app",
            testing::xmlPlist("<key>CFBundleIdentifier</key><string>com.example.fake</string>\n"));
        QSignalSpy answered(&delegate, &AppDelegate::launchProbeAnswered);
        delegate.applicationDidFinishLaunching({app});

        const QList<DocumentWindowController*> windows = delegate.documents().windows();
        ASSERT_EQ(windows.size(), 1);
        ViewController* view = windows.first()->viewController();
        QSignalSpy finished(view, &ViewController::signatureChecksFinished);
        ASSERT_TRUE(finished.wait(20000));
        ASSERT_TRUE(!answered.isEmpty() || answered.wait(20000));
        EXPECT_EQ(alerts.size(), 0u)
            << (alerts.empty() ? "" : alerts.front().informativeText.toStdString());
        EXPECT_TRUE(id.ran());
        EXPECT_EQ(view->reportText().toStdString(),
                  QString::fromUtf8(testing::testData("fake-tools-report.txt"))
                      .replace("@PATH@", windows.first()->document()->theInfo->path())
                      .toStdString());

        delegate.windowMenuItem("Open Log Browser")->trigger();
        ASSERT_EQ(delegate.myLogWindow.size(), 1);
        LogWindowController* logWindow = delegate.myLogWindow.first();
        ASSERT_NE(logWindow, nullptr);
        QSignalSpy fetched(logWindow->viewController(), &LogViewController::logQueryFinished);
        logWindow->viewController()->getLogButton->click();
        ASSERT_TRUE(fetched.wait(20000));
        EXPECT_TRUE(log.arguments().contains("--predicate"));
        EXPECT_TRUE(logWindow->viewController()->logs.size() == 1 &&
                    logWindow->viewController()->logs[0]->children.size() == 2);

        delegate.mountDiskImage(dir.filePath("Fake.dmg"));
        EXPECT_EQ(hdiutil.arguments(), (QStringList{"attach", dir.filePath("Fake.dmg")}));
        EXPECT_TRUE(alerts.empty());
        for (DocumentWindowController* w : windows) delete w;
    }
}

}  // namespace
}  // namespace varko
