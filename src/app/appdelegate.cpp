#include "app/appdelegate.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QTimer>
#include <QtConcurrent>
#include <utility>

#include "app/erroralert.h"
#include "app/handover.h"
#include "app/helpwindowcontroller.h"
#include "app/resources.h"
#include "app/startwindow.h"
#include "logs/ui/logwindowcontroller.h"
#include "package/container.h"
#include "report/ui/documentwindowcontroller.h"
#include "scan/ui/applicationswindow.h"
#include "tools/pathbytes.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/preferences.h"
#include "ui/savedialog.h"

namespace varko {

AppDelegate::AppDelegate(host::ToolSet toolSet, QObject* parent)
    : QObject(parent),
      launchEnvironment(LaunchEnvironment::system(toolSet)),
      runningVersion(QCoreApplication::applicationVersion()),
      tools(toolSet),
      storyboard(toolSet,
                 [this](QMenuBar& bar, QMenu& fileMenu) { addApplicationMenus(bar, fileMenu); }),
      documentController(storyboard) {
    probePool.setMaxThreadCount(1);
    createActions();
#ifdef Q_OS_MACOS
    // What the menu bar shows while no window is open; each window shows its own.
    sharedMenuBar = new QMenuBar(nullptr);
    addApplicationMenus(*sharedMenuBar, *addInertWindowMenus(*sharedMenuBar, nullptr));
#endif
    connect(&documentController, &DocumentController::recentDocumentsChanged, this,
            &AppDelegate::rebuildRecentMenus);
    qApp->installEventFilter(this);
}

AppDelegate::~AppDelegate() {
    for (const QPointer<LogWindowController>& w : myLogWindow) delete w.data();
    for (const QPointer<HelpWindowController>& w : myHelpWindow) delete w.data();
    for (const QPointer<ApplicationsWindow>& w : applicationsWindows) delete w.data();
    delete start.data();
    delete sharedMenuBar;
}

void AppDelegate::createActions() {
    openAction = new QAction(tr("&Open…"), this);
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this,
            [this] { documentController.showOpenDialog(QApplication::activeWindow()); });

    scanAction = new QAction(tr("Scan &Folder…"), this);
    connect(scanAction, &QAction::triggered, this, &AppDelegate::scanFolder);

    mountAction = new QAction(tr("&Mount Disk Image…"), this);
    connect(mountAction, &QAction::triggered, this, &AppDelegate::mountDMG);

    quitAction = new QAction(tr("&Quit"), this);
    quitAction->setShortcut(QKeySequence::Quit);
    quitAction->setMenuRole(QAction::QuitRole);
    connect(quitAction, &QAction::triggered, this, &AppDelegate::quit);

    clearRecentAction = new QAction(tr("Clear Menu"), this);
    connect(clearRecentAction, &QAction::triggered, &documentController,
            &DocumentController::clearRecentDocuments);

    // The launch sequence finds these two by their titles.
    auto* openLog = new QAction(QStringLiteral("Open Log Browser"), this);
    openLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(openLog, &QAction::triggered, this, &AppDelegate::openLogwindow);
    auto* closeLog = new QAction(QStringLiteral("Close Log Browser"), this);
    closeLog->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(closeLog, &QAction::triggered, this, &AppDelegate::closeLogwindow);
    windowMenuActions = {openLog, closeLog};

    auto* help = new QAction(tr("Varko Help"), this);
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, this, &AppDelegate::openHelp);
    auto* support = new QAction(tr("Varko Support Page"), this);
    connect(support, &QAction::triggered, this, &AppDelegate::openSupport);
    auto* updatesPage = new QAction(tr("Updates for Older macOS"), this);
    connect(updatesPage, &QAction::triggered, this, &AppDelegate::openUpdates);
#ifndef Q_OS_MACOS
    // A build without a support site points to the README it installs; pages about macOS
    // releases have nothing to say here. Neither item leads nowhere.
    if (QStringLiteral(VARKO_SUPPORT_PAGE_ADDRESS).isEmpty()) {
        support->setText(tr("Varko README"));
        support->setVisible(bool(resourcePath(QStringLiteral("README.md"))));
    }
    updatesPage->setVisible(!QStringLiteral(VARKO_UPDATES_PAGE_ADDRESS).isEmpty());
#endif
    // A status line more than a command: the update check retitles it.
    auto* status = new QAction(QStringLiteral("Update not checked"), this);
    status->setEnabled(false);
    helpMenuActions = {help, support, updatesPage, status};
    updates.updateStatusItem = status;
}

void AppDelegate::addApplicationMenus(QMenuBar& bar, QMenu& fileMenu) {
    QAction* windowItems = fileMenu.actions().value(0);
    fileMenu.insertAction(windowItems, openAction);
    auto* recent = new QMenu(tr("Open &Recent"), &fileMenu);
    fileMenu.insertMenu(windowItems, recent);
    recentMenus << recent;
    connect(recent, &QObject::destroyed, this, [this, recent] { recentMenus.removeAll(recent); });
    fillRecentMenu(recent);
    fileMenu.insertAction(windowItems, scanAction);
    fileMenu.insertSeparator(windowItems);
    fileMenu.addSeparator();
    fileMenu.addAction(mountAction);
    fileMenu.addSeparator();
    fileMenu.addAction(quitAction);

    QMenu* windowMenu = bar.addMenu(tr("&Window"));
    // A disabled log browser item's tooltip says why.
    windowMenu->setToolTipsVisible(true);
    windowMenu->addActions(windowMenuActions);
    QMenu* helpMenu = bar.addMenu(tr("&Help"));
    helpMenu->addActions(helpMenuActions.mid(0, 3));
    helpMenu->addSeparator();
    helpMenu->addAction(helpMenuActions.last());
}

void AppDelegate::fillRecentMenu(QMenu* menu) {
    const QStringList recent = documentController.recentDocuments();
    menu->clear();
    for (const QString& path : recent) {
        QAction* item = menu->addAction(QFileInfo(path).fileName());
        item->setToolTip(path);
        connect(item, &QAction::triggered, this,
                [this, path] { documentController.openDocument(path); });
    }
    menu->addSeparator();
    menu->addAction(clearRecentAction);
    clearRecentAction->setEnabled(!recent.isEmpty());
}

void AppDelegate::rebuildRecentMenus() {
    for (QMenu* menu : recentMenus) fillRecentMenu(menu);
}

void AppDelegate::openLogwindow() {
    if (osVersion < 12) {
        showErrorAlert(QStringLiteral("El Capitan doesn't support log features."));
        return;
    }
    LogWindowController* window = storyboard.instantiateLogWindow();
    connect(window, &LogWindowController::itemsDropped, &documents(),
            &DocumentController::openDocuments);
    window->show();
    myLogWindow << window;
}

void AppDelegate::closeLogwindow() {
    if (myLogWindow.isEmpty()) return;
    QPointer<LogWindowController> newest = myLogWindow.takeLast();
    if (newest) {
        newest->close();
        newest->deleteLater();
    }
}

void AppDelegate::openHelp() {
    HelpWindowController* window = storyboard.instantiateHelpWindow();
    connect(window, &HelpWindowController::itemsDropped, &documentController,
            &DocumentController::openDocuments);
    window->show();
    myHelpWindow << window;
}

void AppDelegate::openSupport() {
    const QString address = QStringLiteral(VARKO_SUPPORT_PAGE_ADDRESS);
    if (!address.isEmpty()) {
        openWebPage(address);
    } else if (const Expected<QString> readme = resourcePath(QStringLiteral("README.md"))) {
        updates.openAddress(QUrl::fromLocalFile(*readme));
    } else {
        showErrorAlert(QString::fromStdString(readme.error().message));
    }
}

void AppDelegate::openUpdates() {
    openWebPage(QStringLiteral(VARKO_UPDATES_PAGE_ADDRESS));
}

void AppDelegate::openWebPage(const QString& address) {
    updates.openAddress(QUrl(address));
}

QAction* AppDelegate::windowMenuItem(const QString& title) const {
    for (QAction* item : windowMenuActions)
        if (item->text() == title) return item;
    return nullptr;
}

void AppDelegate::runLaunchSequence() {
    // A changed bundle could report anything; nothing it says is worth showing.
    if (launchEnvironment.ownSignatureHolds && !launchEnvironment.ownSignatureHolds()) {
        selfCheckFailed = true;
        showErrorAlert(QString::fromUtf8(launchmessages::modified));
        if (launchEnvironment.quit) launchEnvironment.quit();
        return;
    }
    // The questions wait on tools and the disk; asked in order on a thread of their
    // own, they keep the first window waiting for nothing. Their alerts come when
    // they have all answered, in the same order. They start once the items named at
    // start have had their windows built: their tools would take the cores from them.
    QTimer::singleShot(0, this, [this] {
        const LaunchProbe probe = launchEnvironment.makeProbe();
        host::whenFinished(this, QtConcurrent::run(&probePool, [probe] { return probe.ask(); }),
                           [this, script = probe.setClockScript](const ProbeAnswers& answers) {
                               tellProbeAnswers(answers, script);
                           });
    });

    const auto [major, minor] = launchEnvironment.systemVersion();
    osVersion = osVersionFor(major, minor);

    const bool noUpdateCheck = preferences::value(QStringLiteral("noUpdateCheck"), false).toBool();
    const double lastCheck =
        preferences::value(QStringLiteral("dateLastUpdateCheck"), 0.0).toDouble();
    const double storedInterval =
        preferences::value(QStringLiteral("updateCheckInt"), 0.0).toDouble();
    const UpdateSchedule schedule =
        scheduleUpdateCheck(noUpdateCheck, lastCheck, storedInterval, launchEnvironment.now());
    if (schedule.checkNow) {
        updates.checkForUpdates(runningVersion);
        preferences::setValue(QStringLiteral("dateLastUpdateCheck"), launchEnvironment.now());
    }
    // Storing what the defaults already hold would rewrite their file at every start.
    const auto store = [](const QString& key, const QVariant& value) {
        if (preferences::value(key).toString() != value.toString())
            preferences::setValue(key, value);
    };
    store(QStringLiteral("noUpdateCheck"), noUpdateCheck);
    store(QStringLiteral("updateCheckInt"), schedule.interval);
}

void AppDelegate::tellProbeAnswers(const ProbeAnswers& answers, const QString& clockScript) {
    const LaunchVerdict verdict = judgeProbeAnswers(answers, tools.profile());
    for (const QString& alert : verdict.alerts) showErrorAlert(alert);
    if (!verdict.timeFormatAlert.isEmpty()) {
        // A wrong clock only spoils the times; the log browser stays on offer.
        launchEnvironment.runAppleScript(clockScript);
        showErrorAlert(verdict.timeFormatAlert);
    }
    unavailableReason = verdict.unavailableReason;
    notice = verdict.notice;
    if (start) start->showNotice(notice);
    if (!verdict.logBrowserWorks) {
        // macOS withdraws the commands; elsewhere they stay in sight, disabled, and say
        // why, so that the reason can be found again after the alert.
        const bool hide = tools.profile().store == host::LogStore::unified;
        for (const char* title : {"Open Log Browser", "Close Log Browser"}) {
            if (QAction* item = windowMenuItem(QLatin1String(title))) {
                item->setEnabled(false);
                if (hide) {
                    item->setVisible(false);
                } else {
                    item->setToolTip(unavailableReason);
                    item->setStatusTip(unavailableReason);
                }
            }
        }
    }
    emit launchProbeAnswered();
}

namespace {

/// The disk image tool's own reason, fit for an alert: decoded without trusting the
/// bytes, every control character made visible, a few short lines at most.
QString diskImageToolReason(const host::ToolResult& run) {
    if (!run.started) return run.startError;
    constexpr qsizetype maxLines = 8, maxLineLength = 300;
    QStringList lines;
    const QStringList written = QString::fromUtf8(run.standardError).split(u'\n');
    for (const QString& line : written) {
        const QString shown = host::visibleControls(QStringView(line).trimmed());
        if (shown.isEmpty()) continue;
        if (lines.size() == maxLines) {
            lines << QStringLiteral("…");
            break;
        }
        lines << (shown.size() > maxLineLength ? shown.left(maxLineLength) + u'…' : shown);
    }
    if (!run.interruption().isEmpty()) lines << run.interruption();
    return lines.join(u'\n');
}

}  // namespace

void AppDelegate::mountDMG() {
    auto* panel = new QFileDialog(nullptr, tr("Mount Disk Image"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::ExistingFile);
    QStringList patterns;
    for (const QString& suffix : tools.profile().diskImageSuffixes) patterns << "*." + suffix;
    panel->setNameFilter(tr("Disk images (%1)").arg(patterns.join(u' ')));
    panel->setFilter(QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    panel->setLabelText(QFileDialog::Accept, tr("Mount"));
    keepFileDialogFromReading(*panel);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!path.isEmpty()) mountDiskImage(path);
    });
    panel->open();
}

void AppDelegate::scanFolder() {
    auto* panel = new QFileDialog(QApplication::activeWindow(), tr("Scan Folder"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, tr("Scan"));
#ifdef Q_OS_MACOS
    panel->setDirectory(QStringLiteral("/Applications"));
#else
    // Other systems keep applications elsewhere; a folder of Mac apps may still be there.
    const QString applications = QStringLiteral("/Applications");
    panel->setDirectory(QFileInfo(applications).isDir() ? applications : QDir::homePath());
#endif
    keepFileDialogFromReading(*panel);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) openApplicationsWindow(folder);
    });
    panel->open();
}

ApplicationsWindow* AppDelegate::openApplicationsWindow(const QString& folder) {
    auto* window = new ApplicationsWindow(tools);
    addApplicationMenus(*window->menuBar(), *window->fileMenu());
    connect(window, &ApplicationsWindow::openItem, &documentController,
            &DocumentController::openDocument);
    applicationsWindows.removeAll(nullptr);
    applicationsWindows << window;
    window->show();
    window->scanFolders({folder});
    return window;
}

void AppDelegate::mountDiskImage(const QString& path) {
    // The wait blocks the window, as on the platform, but not forever. hdiutil verifies a
    // large image's checksums before it attaches, which can take minutes.
    host::ToolLimits limits;
    limits.maxBytesPerStream = 1024 * 1024;
    limits.timeout = std::chrono::minutes(10);
    const host::ToolResult run =
        tools.run(QLatin1String(host::hdiutilPath), {QStringLiteral("attach"), path},
                  host::Capture::Both, limits);
    if (run.succeeded()) return;
    const host::PlatformProfile& profile = tools.profile();
    // What the stand-in can't attach, such as Apple's own compressed images, is written
    // out instead and its apps opened.
    if (profile.expandsContainers && QFileInfo(path).isFile() &&
        package::containerKindForName(
            host::pathToSystem(QFileInfo(path).fileName()).toStdString())) {
        documentController.openDocument(path);
        return;
    }
    QString informative = profile.diskImageAdvice;
    if (profile.diskImageAlertQuotesTool) {
        const QString reason = diskImageToolReason(run);
        if (!reason.isEmpty()) informative = reason + QStringLiteral("\n\n") + informative;
    }
    runAlert({Alert::Style::Critical,
              QStringLiteral("Couldn't mount Disk Image:") + path,
              informative,
              {QStringLiteral("OK")}});
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FileOpen || watched != qApp)
        return QObject::eventFilter(watched, event);
    // A URL that names no local file has nothing to inspect.
    const QString file = static_cast<QFileOpenEvent*>(event)->file();
    if (file.isEmpty()) return true;
    // The items that launched Varko come before its launch sequence has run.
    if (!launched) {
        if (waitingFileOpens.size() < qsizetype(handover::maxItems)) waitingFileOpens << file;
    } else {
        openHandedOverItems({file});
    }
    return true;
}

namespace {

/// Whether a window is still open, as one that refused to close stays.
bool anyWindowOpen() {
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowType() != Qt::Desktop &&
            !w->testAttribute(Qt::WA_DontShowOnScreen) && !qobject_cast<const QMenuBar*>(w))
            return true;
    return false;
}

}  // namespace

void AppDelegate::quit() {
    QApplication::closeAllWindows();
    if (anyWindowOpen()) return;
    // A save goes on after its window has closed; waiting for it here, away from the
    // windows, lets its failure still be told. A told failure keeps Varko open to show it.
    QThreadPool* saving = savingPool();
    host::whenFinished(this, QtConcurrent::run([saving] { return saving->waitForDone(); }),
                       [this](bool) {
                           if (!anyWindowOpen()) endApplication();
                       });
}

void AppDelegate::applicationDidFinishLaunching(const QStringList& items) {
    runLaunchSequence();
    if (selfCheckFailed) return;
    documentController.openDocuments(items + std::exchange(waitingFileOpens, {}));
#ifndef Q_OS_MACOS
    // With no menu bar of its own, Varko could not be reached without a window.
    if (documentController.windows().isEmpty() && !applicationShouldOpenUntitledFile())
        showStartWindow();
#endif
    launched = true;
    for (const QStringList& handed : std::exchange(waitingHandOvers, {}))
        openHandedOverItems(handed);
}

StartWindow* AppDelegate::startWindow() const {
    return start;
}

void AppDelegate::showStartWindow() {
    if (!start) {
        start = new StartWindow(documentController, openAction,
                                windowMenuItem(QStringLiteral("Open Log Browser")));
        addApplicationMenus(*start->menuBar(), *start->fileMenu());
        start->showNotice(notice);
    }
    start->show();
    start->raise();
    start->activateWindow();
}

void AppDelegate::openHandedOverItems(const QStringList& items) {
    if (!launched) {
        // Any process of the user's may send them; a few starts' worth is plenty.
        if (waitingHandOvers.size() < maxWaitingHandOvers) waitingHandOvers << items;
        return;
    }
    if (items.isEmpty()) {
        showStartWindow();
        return;
    }
    // One request: at most a few new windows, and one alert for what could not be opened.
    if (DocumentWindowController* newest = documentController.openDocuments(items)) {
        newest->raise();
        newest->activateWindow();
    }
}

}  // namespace varko
