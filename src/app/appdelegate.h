#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QObject>

#include "app/documentcontroller.h"

namespace varko {

class ViewController;
class LogViewController;
class LogWindowController;

/// The application's one delegate: its menus, and how items reach documents.
class AppDelegate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)
public:
    explicit AppDelegate(tools::ToolSet tools = tools::ToolSet::system(), QObject* parent = nullptr);
    ~AppDelegate() override;

    /// Opens the items named at start. Varko makes no untitled document; where the
    /// platform has no menu bar without a window, it offers the Open dialog instead.
    void applicationDidFinishLaunching(const QStringList& items);
    [[nodiscard]] static bool applicationShouldOpenUntitledFile() { return false; }

    [[nodiscard]] DocumentController& documents() { return documentController; }
    /// Gives a window the application's menus (one shared menu bar on macOS).
    void installMenus(QMainWindow* window);
    /// Opens a new log browser window and keeps it until it closes.
    LogWindowController* openLogwindow();
    /// Closes the log browser window in front, or the newest one.
    void closeLogwindow();
    [[nodiscard]] const QList<LogWindowController*>& logWindows() const { return logWindowControllers; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void fillMenuBar(QMenuBar* bar);
    void rebuildRecentMenu();
    void updateActions();
    [[nodiscard]] ViewController* activeInspection() const;
    [[nodiscard]] LogViewController* activeLogView() const;

    DocumentController documentController;
    QAction* openAction = nullptr;
    QAction* closeAction = nullptr;
    QAction* saveReportAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* biggerAction = nullptr;
    QAction* smallerAction = nullptr;
    QAction* clearRecentAction = nullptr;
    QAction* openLogAction = nullptr;
    QAction* closeLogAction = nullptr;
    QList<LogWindowController*> logWindowControllers;
    Storyboard storyboard;
    QList<QMenu*> recentMenus;
    QMenuBar* sharedMenuBar = nullptr;
};

}  // namespace varko
