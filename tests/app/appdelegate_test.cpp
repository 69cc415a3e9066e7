#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileOpenEvent>
#include <QLabel>
#include <QMutex>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include "app/alertrecorder.h"
#include "app/appdelegate.h"
#include "app/helpviewcontroller.h"
#include "app/helpwindowcontroller.h"
#include "app/quietdelegate.h"
#include "app/resources.h"
#include "app/startwindow.h"
#include "app/updatecheck.h"
#include "httpserver.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "support/faketool.h"
#include "support/shell.h"
#include "ui/savedialog.h"

namespace varko {
namespace {

using testing::AlertRecorder;

struct Answers {
    bool admin = true, logFiles = true, timesync = true, entries = true, timeFormat = true;
};

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        delegate.updateChecker().setAddresses({server.url(), "https://varko.example/downloads/"});
        delegate.runningVersion = "1.2";
    }
    // At time 0 no update check is due, so that no answer of the server can add an alert.
    void launch(Answers a, std::pair<int, int> version = {13, 1}, double now = 0.0) {
        launchOn(delegate, a, version, now);
    }
    void launchOn(AppDelegate& d, Answers a, std::pair<int, int> version, double now) {
        d.launchEnvironment.makeProbe = [a, this] {
            // The questions are asked on the probe's own thread.
            const auto asked = [this](const char* name, auto answer) {
                return [this, name, answer] {
                    const QMutexLocker lock(&askedLock);
                    askedQuestions << QString::fromLatin1(name);
                    return answer;
                };
            };
            return LaunchProbe{asked("admin", a.admin),
                               asked("files", a.logFiles),
                               asked("timesync", a.timesync),
                               asked("entries", a.entries ? unifiedlog::LogEntries::found
                                                          : unifiedlog::LogEntries::none),
                               asked("format", a.timeFormat),
                               "the script"};
        };
        d.launchEnvironment.runAppleScript = [this](const QString& s) {
            recorder.events << "script:" + s;
        };
        d.launchEnvironment.systemVersion = [version] { return version; };
        d.launchEnvironment.now = [now] { return now; };
        QSignalSpy answered(&d, &AppDelegate::launchProbeAnswered);
        d.runLaunchSequence();
        // Answers that come at once are told before the sequence returns.
        if (waitForProbe && answered.isEmpty()) {
            ASSERT_TRUE(answered.wait(10000));
        }
    }
    /// Whether both log browser items are shown and usable (true) or both withdrawn (false).
    [[nodiscard]] bool logItems(bool on) const {
        for (const char* title : {"Open Log Browser", "Close Log Browser"}) {
            QAction* item = delegate.windowMenuItem(title);
            if (item == nullptr || item->isVisible() != on || item->isEnabled() != on) return false;
        }
        return true;
    }
    AlertRecorder recorder;
    bool waitForProbe = true;
    QMutex askedLock;
    QStringList askedQuestions;
    testing::HttpServer server;
    AppDelegate delegate{host::ToolSet::withPrograms({})};
};

const QStringList allQuestions{"admin", "files", "timesync", "entries", "format"};

TEST_F(LaunchTest, EverythingPassingShowsNothing) {
    launch({});
    EXPECT_TRUE(recorder.alerts.empty());
    EXPECT_TRUE(logItems(true));
    EXPECT_EQ(askedQuestions, allQuestions);
    EXPECT_TRUE(delegate.logBrowserUnavailableReason().isEmpty());
}

TEST_F(LaunchTest, ABrokenOwnSignatureIsToldAndEndsTheLaunch) {
    bool quit = false;
    delegate.launchEnvironment.ownSignatureHolds = [] { return false; };
    delegate.launchEnvironment.quit = [&quit] { quit = true; };
    waitForProbe = false;
    launch({});
    QApplication::processEvents();
    EXPECT_EQ(recorder.texts(), QStringList{launchmessages::modified});
    EXPECT_TRUE(quit);
    EXPECT_TRUE(askedQuestions.isEmpty());  // the log is not even probed
    EXPECT_FALSE(QSettings().contains("dateLastUpdateCheck"));
}

TEST_F(LaunchTest, EveryFailingQuestionWithdrawsTheLogBrowserButTheClock) {
    for (bool Answers::*failing : {&Answers::admin, &Answers::logFiles, &Answers::timesync,
                                   &Answers::entries, &Answers::timeFormat}) {
        AppDelegate fresh{host::ToolSet::withPrograms({})};
        fresh.updateChecker().setAddresses({server.url(), ""});
        fresh.runningVersion = "1.2";
        Answers a;
        a.*failing = false;
        recorder.alerts.clear();
        launchOn(fresh, a, {14, 0}, 0.0);
        const bool clock = failing == &Answers::timeFormat;
        EXPECT_EQ(recorder.alerts.size(), 1u) << clock;
        EXPECT_EQ(fresh.windowMenuItem("Open Log Browser")->isEnabled(), clock);
    }
}

TEST_F(LaunchTest, TwelveHourClockRunsTheScriptThenWarnsAndKeepsTheBrowser) {
    Answers a;
    a.timeFormat = false;
    launch(a);
    EXPECT_EQ(recorder.events, (QStringList{"script:the script", "alert"}));
    EXPECT_EQ(recorder.texts(), QStringList{host::ProbeMessages::unifiedLog().timeFormat});
    EXPECT_TRUE(logItems(true));
}

TEST_F(LaunchTest, MacOSTellsEveryFailureInItsOwnWordsInOrderAndHidesTheLogBrowser) {
    launch({false, false, false, false, true});
    EXPECT_EQ(askedQuestions, allQuestions);  // every one, in order, whatever the answers
    for (const Alert& alert : recorder.alerts) {
        EXPECT_EQ(alert.messageText, "An error occurred:");
        EXPECT_EQ(alert.style, Alert::Style::Critical);
        EXPECT_EQ(alert.buttons, QStringList{"OK"});
    }
    // The alerts' words, then the time format's, which warns without disabling anything.
    QStringList expected =
        QString::fromUtf8(testing::testData("launch-alerts.txt")).trimmed().split("\n\n");
    EXPECT_EQ(host::ProbeMessages::unifiedLog().timeFormat, expected.takeLast());
    EXPECT_EQ(recorder.texts(), expected);
    EXPECT_TRUE(logItems(false));
}

/// A delegate on a Linux desktop whose journal lies in `dir`.
class JournalLaunchTest : public LaunchTest {
protected:
    QTemporaryDir dir;
    host::PlatformProfile profile = host::PlatformProfile::journal(
        {dir.filePath("var"), dir.filePath("run"), dir.filePath("machine-id"), "jane"});
    AppDelegate desktop{host::ToolSet::withPrograms({}).withProfile(profile)};
};

/// The start window's line, as shown; empty while hidden.
QString shownNotice(AppDelegate& d) {
    d.showStartWindow();
    auto* line = d.startWindow()->findChild<QLabel*>("launchNotice");
    return line && !line->isHidden() ? line->text() : QString();
}

TEST_F(JournalLaunchTest, NoJournalIsOneLineThatDoesNotBlockAndTheItemsSayWhy) {
    launchOn(desktop, {true, false, false, false, true}, {0, 0}, 0.0);
    EXPECT_TRUE(recorder.alerts.empty());
    const QString reason = desktop.logBrowserUnavailableReason();
    EXPECT_EQ(reason + host::ProbeMessages::disabledLine, profile.messages.noLogFiles);
    EXPECT_TRUE(reason.contains("This computer keeps no journal")) << reason.toStdString();
    EXPECT_EQ(shownNotice(desktop), reason);

    // The items stay in the Window menu of every window, disabled, with the reason.
    desktop.openHelp();
    QMenuBar* bar = desktop.myHelpWindow.last()->menuBar();
    QMenu* windowMenu = nullptr;
    for (QAction* menu : bar->actions())
        if (menu->menu() &&
            menu->menu()->actions().contains(desktop.windowMenuItem("Open Log Browser")))
            windowMenu = menu->menu();
    ASSERT_NE(windowMenu, nullptr);
    EXPECT_TRUE(windowMenu->toolTipsVisible());
    for (const char* title : {"Open Log Browser", "Close Log Browser"}) {
        QAction* item = desktop.windowMenuItem(title);
        EXPECT_TRUE(item->isVisible());
        EXPECT_FALSE(item->isEnabled());
        EXPECT_EQ(item->toolTip(), reason);
        EXPECT_EQ(item->statusTip(), reason);
    }
    // Its shortcut does nothing either.
    QWidget* help = desktop.myHelpWindow.last();
    ASSERT_TRUE(varko::testing::activate(help));
    QTest::keyClick(help, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(desktop.myLogWindow.isEmpty());
}

TEST_F(JournalLaunchTest, AReaderOutsideTheGroupsIsToldOnceHowToJoinAndNothingBlocks) {
    // The start window is up before the probe answers; its line appears when it does.
    desktop.showStartWindow();
    launchOn(desktop, {false, true, true, false, false}, {0, 0}, 0.0);
    EXPECT_TRUE(recorder.alerts.empty());
    const QString reason = desktop.logBrowserUnavailableReason();
    EXPECT_EQ(reason + host::ProbeMessages::disabledLine, profile.messages.notAdmin);
    EXPECT_EQ(desktop.launchNotice().toStdString(),
              (reason + "\n" + profile.messages.timeFormat).toStdString());
    EXPECT_EQ(shownNotice(desktop), desktop.launchNotice());
    EXPECT_FALSE(desktop.windowMenuItem("Open Log Browser")->isEnabled());
    // Entries that can't be read with a journal in place and a reader allowed: their own words.
    AppDelegate other{host::ToolSet::withPrograms({}).withProfile(profile)};
    launchOn(other, {true, true, true, false, true}, {0, 0}, 0.0);
    EXPECT_EQ(other.launchNotice() + host::ProbeMessages::disabledLine, profile.messages.noEntries);
    // All is well: no line.
    AppDelegate well{host::ToolSet::withPrograms({}).withProfile(profile)};
    launchOn(well, {}, {0, 0}, 0.0);
    EXPECT_EQ(shownNotice(well), "");
    EXPECT_TRUE(recorder.alerts.empty());
}

TEST_F(JournalLaunchTest, TheProbeOnAnIdleAnUnreadableAndNoJournal) {
    const QString machine = "0123456789abcdef0123456789abcdef";
    testing::FakeTool id(dir, "id"), log(dir, "log");
    id.answer("0\n");
    ASSERT_TRUE(testing::writeFile(dir.filePath("machine-id"), machine.toLatin1() + "\n"));
    const auto noticeFor = [&](bool journalFiles, int logStatus) {
        QDir(dir.filePath("run")).removeRecursively();
        if (journalFiles) {
            QDir().mkpath(dir.filePath("run/" + machine));
            EXPECT_TRUE(testing::writeFile(dir.filePath("run/" + machine + "/system.journal")));
        }
        // A quiet journal answers with no entries, in either style.
        log.answer("[]\n", logStatus, "varko-log: no readable systemd journal\n");
        const host::PlatformProfile here = host::PlatformProfile::journal(
            {dir.filePath("var"), dir.filePath("run"), dir.filePath("machine-id"), "jane"});
        AppDelegate d{host::ToolSet::withPrograms(
                          {{host::idPath, id.program()}, {host::logPath, log.program()}})
                          .withProfile(here)};
        d.launchEnvironment.systemVersion = [] { return std::pair<int, int>(0, 0); };
        d.launchEnvironment.now = [] { return 0.0; };  // no update check is due
        QSignalSpy answered(&d, &AppDelegate::launchProbeAnswered);
        recorder.alerts.clear();
        d.runLaunchSequence();
        EXPECT_TRUE(!answered.isEmpty() || answered.wait(20000));
        EXPECT_TRUE(recorder.alerts.empty());
        const QString notice = d.launchNotice();
        EXPECT_EQ(d.windowMenuItem("Open Log Browser")->isEnabled(), notice.isEmpty());
        return std::make_pair(
            notice.isEmpty() ? notice : notice + host::ProbeMessages::disabledLine, here.messages);
    };
    EXPECT_EQ(noticeFor(true, 0).first, "");
    const auto [unreadable, says] = noticeFor(true, 66);
    EXPECT_EQ(unreadable, says.noEntries);
    const auto [none, saysNone] = noticeFor(false, 66);
    EXPECT_EQ(none, saysNone.noLogFiles);
}

TEST_F(LaunchTest, AMacLogTooSlowToAnswerIsToldAsSlowAndKeepsTheLogBrowser) {
    QTemporaryDir dir;
    testing::FakeTool id(dir, "id"), log(dir, "log");
    id.answer("20 80\n");
    // It would answer in time were it not stopped at the limit.
    log.answer("a\nb\n", 0, {}, "sleep 30");
    host::PlatformProfile mac = host::PlatformProfile::macOS();
    mac.logStoreFolder = mac.logTimesyncFolder = dir.path();
    const host::ToolSet tools =
        host::ToolSet::withPrograms({{host::idPath, id.program()}, {host::logPath, log.program()}})
            .withProfile(mac);
    AppDelegate d{tools};
    d.launchEnvironment.makeProbe = [tools] {
        return LaunchProbe::system(tools, std::chrono::milliseconds(300));
    };
    d.launchEnvironment.now = [] { return 0.0; };
    QSignalSpy answered(&d, &AppDelegate::launchProbeAnswered);
    d.runLaunchSequence();
    ASSERT_TRUE(!answered.isEmpty() || answered.wait(20000));
    EXPECT_EQ(recorder.texts(), QStringList{mac.messages.logTooSlow});
    EXPECT_TRUE(d.windowMenuItem("Open Log Browser")->isVisible());
    EXPECT_TRUE(d.windowMenuItem("Open Log Browser")->isEnabled());
    // The format question did not wait on the log a second time.
    EXPECT_EQ(log.arguments(), (QStringList{"show", "--last", "2"}));
}

TEST_F(LaunchTest, VersionCodes) {
    // The last: no macOS at all.
    for (const auto& [major, minor, code] :
         {std::tuple{10, 15, 15}, {10, 11, 11}, {11, 2, 16}, {12, 0, 17}, {13, 4, 17}, {0, 0, 17}})
        EXPECT_EQ(osVersionFor(major, minor), code) << major << "." << minor;
    launch({}, {10, 11});
    EXPECT_EQ(delegate.osVersion, 11);
    delegate.openLogwindow();  // El Capitan has no log to browse
    EXPECT_TRUE(delegate.myLogWindow.isEmpty());
    EXPECT_EQ(recorder.texts(), QStringList{"El Capitan doesn't support log features."});
}

TEST_F(LaunchTest, FirstLaunchChecksAndStoresTheDefaults) {
    QSignalSpy started(&delegate.updateChecker(), &UpdateChecker::checkStarted);
    launch({}, {13, 0}, 50000.0);
    EXPECT_EQ(started.size(), 1);
    QSettings defaults;
    EXPECT_EQ(defaults.value("noUpdateCheck").toBool(), false);
    EXPECT_EQ(defaults.value("updateCheckInt").toDouble(), 43200.0);
    EXPECT_EQ(defaults.value("dateLastUpdateCheck").toDouble(), 50000.0);
}

TEST_F(LaunchTest, UpdateScheduleEdges) {
    EXPECT_TRUE(scheduleUpdateCheck(false, 0, 0, 43200.5).checkNow);
    EXPECT_FALSE(scheduleUpdateCheck(false, 100, 0, 43300).checkNow);   // exactly the interval
    EXPECT_FALSE(scheduleUpdateCheck(false, 90000, 0, 1000).checkNow);  // clock set back
    EXPECT_FALSE(scheduleUpdateCheck(true, 0, 0, 1e9).checkNow);
    EXPECT_EQ(scheduleUpdateCheck(false, 0, 0.5, 0).interval, 43200.0);
    EXPECT_EQ(scheduleUpdateCheck(false, 0, 60, 0).interval, 60.0);

    QSettings().setValue("noUpdateCheck", true);
    QSettings().setValue("dateLastUpdateCheck", 7.0);
    QSettings().setValue("updateCheckInt", 0.5);
    QSignalSpy started(&delegate.updateChecker(), &UpdateChecker::checkStarted);
    launch({});
    EXPECT_EQ(started.size(), 0);
    EXPECT_EQ(QSettings().value("dateLastUpdateCheck").toDouble(), 7.0);
    EXPECT_EQ(QSettings().value("updateCheckInt").toDouble(), 43200.0);
}

TEST_F(LaunchTest, LogWindowsOpenAndCloseNewestFirstAndItemsDroppedOnThemOpen) {
    launch({});
    delegate.openLogwindow();
    delegate.openLogwindow();
    ASSERT_EQ(delegate.myLogWindow.size(), 2);
    QPointer<LogWindowController> first = delegate.myLogWindow[0], second = delegate.myLogWindow[1];
    EXPECT_EQ(second->windowTitle(), "Log Window");
    QTemporaryDir dir;
    const QString app = testing::makeBundle(dir, "Dropped.app", testing::xmlPlist(""));
    emit second->itemsDropped({app});
    EXPECT_EQ(delegate.documents().windows().size(), 1);
    for (DocumentWindowController* w : delegate.documents().windows()) delete w;
    first->close();  // by its close button: the entry stays
    EXPECT_EQ(delegate.myLogWindow.size(), 2);
    delegate.closeLogwindow();
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(delegate.myLogWindow.size(), 1);
    delegate.closeLogwindow();
    delegate.closeLogwindow();  // none left
    EXPECT_TRUE(delegate.myLogWindow.isEmpty());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(recorder.alerts.empty());
}

TEST_F(LaunchTest, HelpWindowsShowTheWholeHelpScaledToTheView) {
    for (int i = 0; i < 3; ++i) delegate.openHelp();
    ASSERT_EQ(delegate.myHelpWindow.size(), 3);
    HelpWindowController* help = delegate.myHelpWindow.last();
    ASSERT_NE(help, nullptr);
    QApplication::processEvents();
    HelpViewController* view = help->viewController();
    const Expected<void> loaded = view->loadHelpDocument();
    ASSERT_TRUE(loaded) << "the help PDF is built beside the program: " << loaded.error().message;
    ASSERT_TRUE(view->thePDFDocument);
    EXPECT_EQ(resourcePath("NoSuchHelp.pdf").error().code, ErrorCode::missing);
    EXPECT_GE(view->helpPDFView->pageCount(), 2);
    ASSERT_FALSE(view->helpPDFView->pageLabels().empty());
    const QPixmap page = view->helpPDFView->pageLabels().front()->pixmap();
    EXPECT_LE(page.deviceIndependentSize().width(), view->helpPDFView->viewport()->width());
    EXPECT_GT(page.deviceIndependentSize().width(), view->helpPDFView->viewport()->width() / 2);
}

TEST_F(LaunchTest, AFailedMountNamesTheImageAndOnLinuxQuotesTheReasonAsPlainLines) {
    QTemporaryDir dir;
    testing::FakeTool hdiutil(dir, "hdiutil");
    hdiutil.answer("", 1, "attach failed");
    const host::ToolSet tools =
        host::ToolSet::withPrograms({{host::hdiutilPath, hdiutil.program()}});
    AppDelegate mounting(tools);
    mounting.mountDiskImage("/Users/a/Downloads/x y.dmg");
    EXPECT_EQ(hdiutil.arguments(), (QStringList{"attach", "/Users/a/Downloads/x y.dmg"}));
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0].messageText,
              "Couldn't mount Disk Image:/Users/a/Downloads/x y.dmg");
    EXPECT_EQ(recorder.alerts[0].informativeText, "Please try again in the Finder.");
    hdiutil.answer("", 0);
    mounting.mountDiskImage("/tmp/ok.dmg");
    EXPECT_EQ(recorder.alerts.size(), 1u);
#ifndef Q_OS_MACOS
    QByteArray err = "hdiutil: attach failed - \x1b[31mred\x07 \xff\xfe\tname\n\n";
    for (int i = 0; i < 12; ++i)
        err += i == 2 ? QByteArray(4000, 'x') + "\n" : "line " + QByteArray::number(i) + "\n";
    hdiutil.answer("", 1, err);
    AppDelegate onLinux(tools.withProfile(host::PlatformProfile::current()));
    onLinux.mountDiskImage("/home/a/x.iso");
    ASSERT_EQ(recorder.alerts.size(), 2u);
    EXPECT_EQ(recorder.alerts[1].messageText, "Couldn't mount Disk Image:/home/a/x.iso");
    EXPECT_EQ(
        recorder.alerts[1].informativeText.toStdString(),
        ("hdiutil: attach failed - \u241b[31mred\u2407 \ufffd\ufffd\u2409name\nline 0\nline 1\n" +
         QString(300, 'x') +
         "…\nline 3\nline 4\nline 5\nline 6\n…\n\n"
         "Please try again in your file manager.")
            .toStdString());

    // A tool that never started still says why.
    AppDelegate unstarted(host::ToolSet::withPrograms({{host::hdiutilPath, dir.filePath("none")}})
                              .withProfile(host::PlatformProfile::current()));
    unstarted.mountDiskImage("/home/a/x.iso");
    ASSERT_EQ(recorder.alerts.size(), 3u);
    const QString text = recorder.alerts[2].informativeText;
    EXPECT_TRUE(text.endsWith("\n\nPlease try again in your file manager.") &&
                !text.startsWith("\n"))
        << text.toStdString();
#endif
}

/// A window with work that it won't give up.
class Refusing final : public QWidget {
public:
    bool refuse = true;

protected:
    void closeEvent(QCloseEvent* event) override { event->setAccepted(!refuse); }
};

/// The quiet delegate, whose alert runner goes with the test.
class QuietTest : public ::testing::Test {
protected:
    const AlertRecorder restoresTheRunner;
    QTemporaryDir dir;
    testing::FakeTool tool{dir, "tool"};
    std::unique_ptr<AppDelegate> delegate = testing::quietDelegate(tool);
};

// The macOS profile: Varko runs on without windows, so Quit itself must end it.
TEST_F(QuietTest, QuitClosesEveryWindowThenEndsOnceTheSavesAreWrittenButNotPastARefusal) {
    int ended = 0;
    delegate->endApplication = [&ended] { ++ended; };
    delegate->openHelp();
    QPointer<HelpWindowController> help = delegate->myHelpWindow.last();
    Refusing refusing;
    refusing.show();

    delegate->quit();
    EXPECT_TRUE(refusing.isVisible());
    QApplication::processEvents();
    EXPECT_EQ(ended, 0);

    // A save still being written holds the end back until it is done.
    refusing.refuse = false;
    QSemaphore writing;
    const QFuture<void> save = QtConcurrent::run(savingPool(), [&writing] { writing.acquire(); });
    delegate->quit();
    EXPECT_FALSE(refusing.isVisible());
    EXPECT_TRUE(!help || !help->isVisible());
    QTest::qWait(200);
    EXPECT_EQ(ended, 0);
    writing.release();
    EXPECT_TRUE(QTest::qWaitFor([&ended] { return ended == 1; }, 10000));
}

// Finder's Open With and drops on the Dock icon reach the application object.
TEST_F(QuietTest, FileOpenEventsOpenTheItemAlsoWhenTheyComeBeforeTheFirstWindow) {
    const QString first = testing::makeBundle(dir, "First.app", testing::xmlPlist(""));
    const QString second = testing::makeBundle(dir, "Second.app", testing::xmlPlist(""));
    QFileOpenEvent early(first), web(QUrl("https://varko.example/Some.app"));
    EXPECT_TRUE(QCoreApplication::sendEvent(qApp, &early));
    EXPECT_TRUE(QCoreApplication::sendEvent(qApp, &web));
    EXPECT_TRUE(delegate->documents().windows().isEmpty());

    delegate->applicationDidFinishLaunching({});
    ASSERT_EQ(delegate->documents().windows().size(), 1);
    EXPECT_EQ(delegate->startWindow(), nullptr);
    QFileOpenEvent later(second);
    EXPECT_TRUE(QCoreApplication::sendEvent(qApp, &later));
    EXPECT_EQ(delegate->documents().windows().size(), 2);
    for (DocumentWindowController* w : delegate->documents().windows()) delete w;
}

}  // namespace
}  // namespace varko
