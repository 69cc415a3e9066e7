#pragma once

// What the window tests share: one fake behind every signature tool, finding shown windows
// and menu items as a person would, leftover dialogs cleared away, and watching a tool's
// process from outside (see faketool.h).

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QTest>

#include "support/faketool.h"
#include "tools/toolset.h"

namespace varko::testing {

/// codesign, spctl and pkgutil all answered by `tool`.
inline host::ToolSet signatureTools(const FakeTool& tool) {
    return host::ToolSet::withPrograms({{host::codesignPath, tool.program()},
                                        {host::spctlPath, tool.program()},
                                        {host::pkgutilPath, tool.program()}});
}

/// The first visible top-level window of type `Widget`, or null.
template <class Widget>
Widget* shown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<Widget*>(w); found && found->isVisible()) return found;
    return nullptr;
}

/// Makes `window` the one that keys go to; whether it became so.
inline bool activate(QWidget* window) {
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

/// Drags `urls` onto `target` at `at` and drops them, as the platform delivers a drop to the
/// widget under the pointer; whether the drag was taken and then the drop.
inline bool drop(QWidget* target, const QPoint& at, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

/// The item titled `title` in any menu of the window's menu bar, or null.
inline QAction* menuItem(QMainWindow* window, const QString& title) {
    for (QAction* menu : window->menuBar()->actions())
        if (menu->menu())
            for (QAction* item : menu->menu()->actions())
                if (item->text() == title) return item;
    return nullptr;
}

/// Deletes the message boxes and file dialogs a test left open, and their popups with them.
inline void deleteLeftoverDialogs() {
    QList<QPointer<QWidget>> left;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) || qobject_cast<QFileDialog*>(w)) left << w;
    for (const QPointer<QWidget>& w : left) delete w.data();
}

}  // namespace varko::testing
