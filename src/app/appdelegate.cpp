#include "app/appdelegate.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QMainWindow>

#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"

namespace varko {

AppDelegate::AppDelegate(tools::ToolSet tools, QObject* parent)
    : QObject(parent), documentController(Storyboard(tools)), storyboard(tools) {
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

AppDelegate::~AppDelegate() { delete sharedMenuBar; }

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

    openLogAction = new QAction(tr("Open Log Browser"), this);
    openLogAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(openLogAction, &QAction::triggered, this, [this] { openLogwindow(); });
    closeLogAction = new QAction(tr("Close Log Browser"), this);
    closeLogAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(closeLogAction, &QAction::triggered, this, &AppDelegate::closeLogwindow);

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
    file->addAction(quitAction);
    QMenu* view = bar->addMenu(tr("&View"));
    view->addAction(biggerAction);
    view->addAction(smallerAction);
    QMenu* windowMenu = bar->addMenu(tr("&Window"));
    windowMenu->addAction(openLogAction);
    windowMenu->addAction(closeLogAction);
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

LogWindowController* AppDelegate::openLogwindow() {
    auto* window = qobject_cast<LogWindowController*>(
        storyboard.instantiateController(QLatin1String(Storyboard::logWindowController)));
    if (window == nullptr) return nullptr;
    logWindowControllers << window;
    connect(window, &QObject::destroyed, this, [this, window] {
        logWindowControllers.removeAll(window);
        updateActions();
    });
    installMenus(window);
    window->show();
    window->raise();
    window->activateWindow();
    updateActions();
    return window;
}

void AppDelegate::closeLogwindow() {
    auto* front = qobject_cast<LogWindowController*>(QApplication::activeWindow());
    if (front != nullptr && front->isVisible()) {
        front->close();
        return;
    }
    // A window being closed stays in the list until it is deleted.
    for (auto it = logWindowControllers.crbegin(); it != logWindowControllers.crend(); ++it) {
        if ((*it)->isVisible()) {
            (*it)->close();
            return;
        }
    }
}

void AppDelegate::updateActions() {
    const bool inspecting = activeInspection() != nullptr;
    const bool logging = activeLogView() != nullptr;
    saveReportAction->setEnabled(inspecting || logging);
    biggerAction->setEnabled(inspecting || logging);
    smallerAction->setEnabled(inspecting || logging);
    closeLogAction->setEnabled(!logWindowControllers.isEmpty());
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
    documentController.openDocuments(items);
#ifndef Q_OS_MACOS
    if (items.isEmpty() && !applicationShouldOpenUntitledFile())
        documentController.showOpenDialog(nullptr);
#endif
}

}  // namespace varko
