#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <functional>

#include "app/documentcontroller.h"
#include "app/launchsequence.h"
#include "app/updatecheck.h"

namespace varko {

class ApplicationsWindow;
class HelpWindowController;
class LogWindowController;
class StartWindow;

/// The application's one delegate: its own menu items, the launch sequence, the
/// log and help windows, and how items reach documents. Each window owns the
/// actions that work on it; the delegate adds the application's items to its menus.
class AppDelegate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)
public:
    explicit AppDelegate(host::ToolSet tools, QObject* parent = nullptr);
    ~AppDelegate() override;

    /// Runs the launch sequence, then opens the items named at start. Varko makes no
    /// untitled document; where the platform has no menu bar without a window, it
    /// shows the start window while no document is open.
    void applicationDidFinishLaunching(const QStringList& items);
    [[nodiscard]] static bool applicationShouldOpenUntitledFile() { return false; }

    /// Checks Varko's own signature (a broken one is told and ends the program), starts
    /// the log probe, sets `osVersion` and starts a due update check. The probe answers
    /// later: then its alerts come, in order, the log browser is withdrawn where it
    /// can't work, and `launchProbeAnswered` follows.
    void runLaunchSequence();
    /// Why the log browser can't work, as its alerts said; empty while it can.
    [[nodiscard]] QString logBrowserUnavailableReason() const { return unavailableReason; }
    /// What the launch found amiss where it tells without alerts; the start window shows it.
    [[nodiscard]] QString launchNotice() const { return notice; }

    /// Log browser windows opened and not yet closed through `closeLogwindow`, newest
    /// last; a window closed with its close button keeps its entry.
    QList<QPointer<LogWindowController>> myLogWindow;
    /// Every help window opened, newest last.
    QList<QPointer<HelpWindowController>> myHelpWindow;
    /// Every Applications window opened, newest last.
    QList<QPointer<ApplicationsWindow>> applicationsWindows;
    /// The macOS version code: the 10.x minor number, 16 for 11, 17 for later.
    qint64 osVersion = 10;
    /// What the launch sequence consults; tests replace it before running it.
    LaunchEnvironment launchEnvironment;
    /// The version compared with the update list's entries.
    QString runningVersion;
    /// Ends the event loop once Quit has closed every window; tests record it instead.
    std::function<void()> endApplication = [] { QCoreApplication::quit(); };

    [[nodiscard]] DocumentController& documents() { return documentController; }
    [[nodiscard]] UpdateChecker& updateChecker() { return updates; }
    /// The Window menu's item by title, as the launch sequence finds it.
    [[nodiscard]] QAction* windowMenuItem(const QString& title) const;
    /// The start window while it is open.
    [[nodiscard]] StartWindow* startWindow() const;

signals:
    /// The launch probe's alerts have been told and the log browser's items set.
    void launchProbeAnswered();

public slots:
    void openLogwindow();
    void closeLogwindow();
    void openHelp();
    void openSupport();
    void openUpdates();
    void mountDMG();
    /// Asks for a folder, then scans it in a new Applications window.
    void scanFolder();
    /// Opens an Applications window that scans `folder`; its rows open as documents.
    ApplicationsWindow* openApplicationsWindow(const QString& folder);
    /// Attaches the disk image at `path`; a failure is told in an alert.
    void mountDiskImage(const QString& path);
    /// Shows the start window, or brings it forward.
    void showStartWindow();
    /// Items that a later start of Varko handed over: opens them and brings the newest
    /// window forward, or, for a bare start, the start window. Before the launch
    /// sequence has finished they wait for it.
    void openHandedOverItems(const QStringList& items);
    /// Quit: closes every window, and ends Varko once all have closed and the saves
    /// they started are written. A window that refuses to close keeps Varko running.
    void quit();

protected:
    /// Takes the platform's requests to open an item (Finder's Open With, a drop on
    /// the Dock icon), which reach the application object itself.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool selfCheckFailed = false;
    bool launched = false;
    QList<QStringList> waitingHandOvers;
    /// Items the platform asked to open before the launch sequence had finished.
    QStringList waitingFileOpens;
    static constexpr qsizetype maxWaitingHandOvers = 16;
    QString unavailableReason;
    QString notice;

    void tellProbeAnswers(const ProbeAnswers& answers, const QString& clockScript);
    void createActions();
    /// Adds the application's items to a window's menu bar: Open… and Open Recent
    /// before the window's own File items, Mount Disk Image… and Quit after them,
    /// then the Window and Help menus.
    void addApplicationMenus(QMenuBar& bar, QMenu& fileMenu);
    void fillRecentMenu(QMenu* menu);
    void rebuildRecentMenus();
    void openWebPage(const QString& address);

    host::ToolSet tools;
    /// Where the launch probe's questions run, away from the windows.
    QThreadPool probePool;
    Storyboard storyboard;
    DocumentController documentController;
    UpdateChecker updates;
    QAction* openAction = nullptr;
    QAction* mountAction = nullptr;
    QAction* scanAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* clearRecentAction = nullptr;
    QList<QAction*> windowMenuActions;
    QList<QAction*> helpMenuActions;
    QList<QMenu*> recentMenus;
    /// The menu bar while no window is open; only macOS shows one then.
    QMenuBar* sharedMenuBar = nullptr;
    QPointer<StartWindow> start;
};

}  // namespace varko
