#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace varko {

/// Gives a content window its own File and View menus. Every such window has the same four
/// items with the platform's standard keys: Close closes the window, the other three go to
/// `content`. Returns the File menu, to which the application adds its own items.
template <class Content>
QMenu* addWindowMenus(QMainWindow& window, Content* content, void (Content::*save)(),
                      void (Content::*bigger)(), void (Content::*smaller)()) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("WindowMenus", text);
    };
    const auto add = [&window](QMenu* menu, const QString& title, const QList<QKeySequence>& keys) {
        auto* action = new QAction(title, &window);
        action->setShortcuts(keys);
        menu->addAction(action);
        return action;
    };
    QMenu* file = window.menuBar()->addMenu(tr("&File"));
    QObject::connect(add(file, tr("&Close"), {QKeySequence::Close}), &QAction::triggered, &window,
                     &QWidget::close);
    QObject::connect(add(file, tr("&Save Report…"), {QKeySequence::Save}), &QAction::triggered,
                     content, save);
    QMenu* view = window.menuBar()->addMenu(tr("&View"));
    // Ctrl+= too: on most keyboards "+" needs Shift.
    QObject::connect(
        add(view, tr("&Bigger"), {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}),
        &QAction::triggered, content, bigger);
    QObject::connect(add(view, tr("S&maller"), {QKeySequence::ZoomOut}), &QAction::triggered,
                     content, smaller);
    return file;
}

}  // namespace varko
