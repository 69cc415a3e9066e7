#include "app/appdelegate.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QDir>
#include <QFileDialog>
#include <QMainWindow>
#include <QSettings>

#include "app/erroralert.h"

#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"

namespace varko {

AppDelegate::AppDelegate(tools::ToolSet toolSet, QObject* parent)
    : QObject(parent), launchEnvironment(LaunchEnvironment::system(toolSet)),
      runningVersion(QCoreApplication::applicationVersion()), tools(toolSet), storyboard(toolSet),
      documentController(storyboard) {
    createActions();
#ifdef Q_OS_MACOS
    sharedMenuBar = new QMenuBar(nullptr);
    fillMenuBar(sharedMenuBar);
#endif
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &AppDelegate::updateActions);
    connect(&documentController, &DocumentController::recentDocumentsChanged, this,
            &AppDelegate::rebuildRecentMenu);
}

AppDelegate::~AppDelegate() {
    for (const QPointer<QMainWindow>& w : myLogWindow + myHelpWindow) delete w.data();
    delete sharedMenuBar;
}

void AppDelegate::createActions() {
    openAction = new QAction(tr("&Open…"), this);
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this,
            [this] { documentController.showOpenDialog(QApplication::activeWindow()); });

    closeAction = new QAction(tr("&Close"), this);
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow()) window->close();
    });

    saveReportAction = new QAction(tr("&Save Report…"), this);
    saveReportAction->setShortcut(QKeySequence::Save);
    connect(saveReportAction, &QAction::triggered, this, [this] {
        if (ViewController* view = activeInspection()) view->saveButton();
        else if (LogViewController* log = activeLogView()) log->savelogButtonAction();
    });

    quitAction = new QAction(tr("&Quit"), this);
    quitAction->setShortcut(QKeySequence::Quit);
    quitAction->setMenuRole(QAction::QuitRole);
    connect(quitAction, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    biggerAction = new QAction(tr("&Bigger"), this);
    biggerAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(biggerAction, &QAction::triggered, this, [this] {
        if (ViewController* view = activeInspection()) view->incFontSize();
        else if (LogViewController* log = activeLogView()) log->incFontSize();
    });
    smallerAction = new QAction(tr("S&maller"), this);
    smallerAction->setShortcut(QKeySequence::ZoomOut);
    connect(smallerAction, &QAction::triggered, this, [this] {
        if (ViewController* view = activeInspection()) view->decFontSize();
        else if (LogViewController* log = activeLogView()) log->decFontSize();
    });

    mountAction = new QAction(tr("&Mount Disk Image…"), this);
    connect(mountAction, &QAction::triggered, this, &AppDelegate::mountDMG);

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
    // A status line more than a command: the update check retitles it.
    auto* status = new QAction(QStringLiteral("Update not checked"), this);
    status->setEnabled(false);
    helpMenuActions = {help, support, updatesPage, status};
    updates.updateStatusItem = status;

    clearRecentAction = new QAction(tr("Clear Menu"), this);
    connect(clearRecentAction, &QAction::triggered, &documentController,
            &DocumentController::clearRecentDocuments);
    updateActions();
}

void AppDelegate::fillMenuBar(QMenuBar* bar) {
    QMenu* file = bar->addMenu(tr("&File"));
    file->addAction(openAction);
    QMenu* recent = file->addMenu(tr("Open &Recent"));
    recentMenus << recent;
    connect(recent, &QObject::destroyed, this, [this, recent] { recentMenus.removeAll(recent); });
    file->addSeparator();
    file->addAction(closeAction);
    file->addAction(saveReportAction);
    file->addSeparator();
    file->addAction(mountAction);
    file->addSeparator();
    file->addAction(quitAction);
    QMenu* view = bar->addMenu(tr("&View"));
    view->addAction(biggerAction);
    view->addAction(smallerAction);
    QMenu* windowMenu = bar->addMenu(tr("&Window"));
    windowMenu->addActions(windowMenuActions);
    QMenu* helpMenu = bar->addMenu(tr("&Help"));
    helpMenu->addActions(helpMenuActions.mid(0, 3));
    helpMenu->addSeparator();
    helpMenu->addAction(helpMenuActions.last());
    rebuildRecentMenu();
}

void AppDelegate::installMenus(QMainWindow* window) {
    if (sharedMenuBar) return;
    fillMenuBar(window->menuBar());
}

void AppDelegate::rebuildRecentMenu() {
    const QStringList recent = documentController.recentDocuments();
    for (QMenu* menu : recentMenus) {
        menu->clear();
        for (const QString& path : recent) {
            QAction* item = menu->addAction(QFileInfo(path).fileName());
            item->setToolTip(path);
            connect(item, &QAction::triggered, this, [this, path] { documentController.openDocument(path); });
        }
        menu->addSeparator();
        menu->addAction(clearRecentAction);
        clearRecentAction->setEnabled(!recent.isEmpty());
    }
}

ViewController* AppDelegate::activeInspection() const {
    auto* window = qobject_cast<DocumentWindowController*>(QApplication::activeWindow());
    return window ? window->viewController() : nullptr;
}

LogViewController* AppDelegate::activeLogView() const {
    auto* window = qobject_cast<LogWindowController*>(QApplication::activeWindow());
    return window ? window->viewController() : nullptr;
}

void AppDelegate::openLogwindow() {
    if (osVersion < 12) {
        showErrorAlert(QStringLiteral("El Capitan doesn't support log features."));
        return;
    }
    auto* window = qobject_cast<QMainWindow*>(
        storyboard.instantiateController(QLatin1String(Storyboard::logWindowController)));
    if (window == nullptr) return;
    installMenus(window);
    window->show();
    myLogWindow << window;
}

void AppDelegate::closeLogwindow() {
    if (myLogWindow.isEmpty()) return;
    QPointer<QMainWindow> newest = myLogWindow.takeLast();
    if (newest) {
        newest->close();
        newest->deleteLater();
    }
}

void AppDelegate::openHelp() {
    auto* window = qobject_cast<QMainWindow*>(
        storyboard.instantiateController(QLatin1String(Storyboard::helpWindowController)));
    if (window == nullptr) return;
    installMenus(window);
    window->show();
    myHelpWindow << window;
}

void AppDelegate::openSupport() { openWebPage(QStringLiteral(VARKO_SUPPORT_PAGE_ADDRESS)); }

void AppDelegate::openUpdates() { openWebPage(QStringLiteral(VARKO_UPDATES_PAGE_ADDRESS)); }

void AppDelegate::openWebPage(const QString& address) { updates.openUrl(QUrl(address)); }

namespace {

QAction* itemWithTitle(const QList<QAction*>& items, const QString& title) {
    for (QAction* a : items)
        if (a->text() == title) return a;
    return nullptr;
}

}  // namespace

QAction* AppDelegate::windowMenuItem(const QString& title) const { return itemWithTitle(windowMenuActions, title); }

QAction* AppDelegate::helpMenuItem(const QString& title) const { return itemWithTitle(helpMenuActions, title); }

void AppDelegate::runLaunchSequence() {
    // A changed bundle could report anything; nothing it says is worth showing.
    if (launchEnvironment.ownSignatureHolds && !launchEnvironment.ownSignatureHolds()) {
        selfCheckFailed = true;
        showErrorAlert(QString::fromUtf8(launchmessages::modified));
        if (launchEnvironment.quit) launchEnvironment.quit();
        return;
    }
    const LaunchProbe probe = launchEnvironment.makeProbe();
    bool logBrowserWorks = true;
    const auto require = [&logBrowserWorks](const std::function<bool()>& test, const char* message) {
        if (test()) return;
        showErrorAlert(QString::fromUtf8(message));
        logBrowserWorks = false;
    };
    require(probe.isAdminUser, launchmessages::notAdmin);
    require(probe.hasLogFiles, launchmessages::noLogFiles);
    require(probe.hasTimesyncFiles, launchmessages::noTimesync);
    require(probe.hasLogEntries, launchmessages::noEntries);
    if (!probe.hasCorrectTimeFormat()) {
        // A 12-hour clock only spoils the times; the log browser stays on offer.
        launchEnvironment.runAppleScript(probe.setClockScript);
        showErrorAlert(QString::fromUtf8(launchmessages::timeFormat));
    }
    if (!logBrowserWorks) {
        for (const char* title : {"Open Log Browser", "Close Log Browser"}) {
            if (QAction* item = windowMenuItem(QLatin1String(title))) {
                item->setVisible(false);
                item->setEnabled(false);
            }
        }
    }

    const auto [major, minor] = launchEnvironment.systemVersion();
    osVersion = osVersionFor(major, minor);

    QSettings defaults;
    const bool noUpdateCheck = defaults.value(QStringLiteral("noUpdateCheck"), false).toBool();
    const double lastCheck = defaults.value(QStringLiteral("dateLastUpdateCheck"), 0.0).toDouble();
    const double storedInterval = defaults.value(QStringLiteral("updateCheckInt"), 0.0).toDouble();
    const UpdateSchedule schedule =
        scheduleUpdateCheck(noUpdateCheck, lastCheck, storedInterval, launchEnvironment.now());
    if (schedule.checkNow) {
        updates.checkForUpdates(runningVersion);
        defaults.setValue(QStringLiteral("dateLastUpdateCheck"), launchEnvironment.now());
    }
    defaults.setValue(QStringLiteral("noUpdateCheck"), noUpdateCheck);
    defaults.setValue(QStringLiteral("updateCheckInt"), schedule.interval);
}

void AppDelegate::mountDMG() {
    auto* panel = new QFileDialog(nullptr, tr("Mount Disk Image"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilter(tr("Disk images (*.dmg)"));
    panel->setFilter(QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    panel->setLabelText(QFileDialog::Accept, tr("Mount"));
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!path.isEmpty()) mountDiskImage(path);
    });
    panel->open();
}

void AppDelegate::mountDiskImage(const QString& path) {
    const tools::ToolResult run =
        tools.run(QLatin1String(tools::hdiutilPath), {QStringLiteral("attach"), path}, tools::Capture::Both);
    if (run.succeeded()) return;
    runAlert({Alert::Style::Critical, QStringLiteral("Couldn't mount Disk Image:") + path,
              QStringLiteral("Please try again in the Finder."), {QStringLiteral("OK")}});
}

void AppDelegate::updateActions() {
    const bool inspecting = activeInspection() != nullptr;
    const bool logging = activeLogView() != nullptr;
    saveReportAction->setEnabled(inspecting || logging);
    biggerAction->setEnabled(inspecting || logging);
    smallerAction->setEnabled(inspecting || logging);

    closeAction->setEnabled(QApplication::activeWindow() != nullptr);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Finder's "Open With" and drops on the Dock icon arrive as file-open events.
    if (watched == qApp && event->type() == QEvent::FileOpen) {
        documentController.openDocument(static_cast<QFileOpenEvent*>(event)->file());
        return true;
    }
    if (event->type() == QEvent::Show)
        if (auto* window = qobject_cast<DocumentWindowController*>(watched); window && window->menuBar()->actions().isEmpty())
            installMenus(window);
    return QObject::eventFilter(watched, event);
}

void AppDelegate::applicationDidFinishLaunching(const QStringList& items) {
    runLaunchSequence();
    if (selfCheckFailed) return;
    documentController.openDocuments(items);
#ifndef Q_OS_MACOS
    if (items.isEmpty() && !applicationShouldOpenUntitledFile())
        documentController.showOpenDialog(nullptr);
#endif
}

}  // namespace varko
