#include "app/helpwindowcontroller.h"

#include <QMenuBar>

#include "app/helpviewcontroller.h"

namespace varko {

HelpWindowController::HelpWindowController(QWidget* parent) : QMainWindow(parent) {
    content = new HelpViewController(this);
    setCentralWidget(content);
    auto* closeAction = new QAction(tr("&Close"), this);
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    file = addInertWindowMenus(*menuBar(), closeAction);
    setWindowTitle(tr("Varko Help"));
    resize(720, 860);
}

QMenu* addInertWindowMenus(QMenuBar& bar, QAction* close) {
    const auto inert = [&bar](const QString& title, const QList<QKeySequence>& keys) {
        auto* action = new QAction(title, &bar);
        action->setShortcuts(keys);
        action->setEnabled(false);
        return action;
    };
    if (close == nullptr) close = inert(HelpWindowController::tr("&Close"), {QKeySequence::Close});
    QMenu* file = bar.addMenu(HelpWindowController::tr("&File"));
    file->addAction(close);
    file->addAction(inert(HelpWindowController::tr("&Save Report…"), {QKeySequence::Save}));
    QMenu* view = bar.addMenu(HelpWindowController::tr("&View"));
    view->addAction(inert(HelpWindowController::tr("&Bigger"),
                          {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}));
    view->addAction(inert(HelpWindowController::tr("S&maller"), {QKeySequence::ZoomOut}));
    return file;
}

}  // namespace varko
