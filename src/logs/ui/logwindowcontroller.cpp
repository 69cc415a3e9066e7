#include "logs/ui/logwindowcontroller.h"

#include <QMenuBar>

#include "logs/ui/logviewcontroller.h"

namespace varko {

LogWindowController::LogWindowController(host::ToolSet tools, QWidget* parent)
    : QMainWindow(parent) {
    content = new LogViewController(std::move(tools), this);
    setCentralWidget(content);
    createActions();
    createMenus();
    setWindowTitle(QString::fromLatin1(LogViewController::windowTitle));
    resize(1000, 640);
}

void LogWindowController::createActions() {
    closeAction = new QAction(tr("&Close"), this);
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);

    saveAction = new QAction(tr("&Save Report…"), this);
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, content, &LogViewController::savelogButtonAction);

    biggerAction = new QAction(tr("&Bigger"), this);
    biggerAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(biggerAction, &QAction::triggered, content, &LogViewController::incFontSize);

    smallerAction = new QAction(tr("S&maller"), this);
    smallerAction->setShortcut(QKeySequence::ZoomOut);
    connect(smallerAction, &QAction::triggered, content, &LogViewController::decFontSize);
}

void LogWindowController::createMenus() {
    file = menuBar()->addMenu(tr("&File"));
    file->addAction(closeAction);
    file->addAction(saveAction);
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(biggerAction);
    view->addAction(smallerAction);
}

void LogWindowController::closeEvent(QCloseEvent* event) {
    // The application keeps closed log windows; their entries need not stay too.
    content->releaseLogs();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
