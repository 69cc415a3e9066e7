#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include "app/documentcontroller.h"
#include "app/launchsequence.h"
#include "app/updatecheck.h"

namespace varko {

class ViewController;
class LogViewController;

/// The application's one delegate: its menus, the launch sequence, the log and
/// help windows, and how items reach documents.
class AppDelegate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)
public:
    explicit AppDelegate(tools::ToolSet tools = tools::ToolSet::system(), QObject* parent = nullptr);
    ~AppDelegate() override;

    /// Runs the launch sequence, then opens the items named at start. Varko makes no
    /// untitled document; where the platform has no menu bar without a window, it
    /// offers the Open dialog instead.
    void applicationDidFinishLaunching(const QStringList& items);
    [[nodiscard]] static bool applicationShouldOpenUntitledFile() { return false; }

    /// Checks Varko's own signature (a broken one is told and ends the program), probes
    /// the log, tells the user what is missing, withdraws the log browser
    /// where it can't work, sets `osVersion` and starts a due update check.
    void runLaunchSequence();

    /// Log browser windows opened and not yet closed through `closeLogwindow`, newest
    /// last; a window closed with its close button keeps its entry.
    QList<QPointer<QMainWindow>> myLogWindow;
    /// Every help window opened, newest last.
    QList<QPointer<QMainWindow>> myHelpWindow;
    /// The macOS version code: the 10.x minor number, 16 for 11, 17 for later.
    qint64 osVersion = 10;
    /// What the launch sequence consults; tests replace it before running it.
    LaunchEnvironment launchEnvironment;
    /// The version compared with the update list's entries.
    QString runningVersion;

    [[nodiscard]] DocumentController& documents() { return documentController; }
    [[nodiscard]] UpdateChecker& updateChecker() { return updates; }
    /// Gives a window the application's menus (one shared menu bar on macOS).
    void installMenus(QMainWindow* window);
    /// The menu's actions by title, as the launch sequence finds them.
    [[nodiscard]] QAction* windowMenuItem(const QString& title) const;
    [[nodiscard]] QAction* helpMenuItem(const QString& title) const;

public slots:
    void openLogwindow();
    void closeLogwindow();
    void openHelp();
    void openSupport();
    void openUpdates();
    void mountDMG();
    /// Attaches the disk image at `path`; a failure is told in an alert.
    void mountDiskImage(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool selfCheckFailed = false;

    void createActions();
    void fillMenuBar(QMenuBar* bar);
    void rebuildRecentMenu();
    void updateActions();
    void openWebPage(const QString& address);
    [[nodiscard]] ViewController* activeInspection() const;
    [[nodiscard]] LogViewController* activeLogView() const;

    tools::ToolSet tools;
    Storyboard storyboard;
    DocumentController documentController;
    UpdateChecker updates;
    QAction* openAction = nullptr;
    QAction* closeAction = nullptr;
    QAction* saveReportAction = nullptr;
    QAction* mountAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* biggerAction = nullptr;
    QAction* smallerAction = nullptr;
    QAction* clearRecentAction = nullptr;
    QList<QAction*> windowMenuActions;
    QList<QAction*> helpMenuActions;
    QList<QMenu*> recentMenus;
    QMenuBar* sharedMenuBar = nullptr;
};

}  // namespace varko
