#include "ui/windowmenus.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>

#include "ui/findbar.h"

namespace varko {

QMenu* addStandardMenus(QMenuBar& bar, QObject& context, const WindowActions& actions) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("WindowMenus", text);
    };
    const auto add = [&bar, &context](QMenu* menu, const QString& title,
                                      const QList<QKeySequence>& keys,
                                      const std::function<void()>& action) {
        auto* item = new QAction(title, &bar);
        item->setShortcuts(keys);
        item->setEnabled(bool(action));
        if (action) QObject::connect(item, &QAction::triggered, &context, action);
        menu->addAction(item);
        return item;
    };

    QMenu* file = bar.addMenu(tr("&File"));
    add(file, tr("&Close"), {QKeySequence::Close}, actions.close);
    add(file, tr("&Save Report…"), {QKeySequence::Save}, actions.save);
    add(file, tr("Compare &With…"), {}, actions.compareWith);
    add(file, tr("Export &Privacy Profile…"), {}, actions.exportPrivacyProfile)
        ->setObjectName(QStringLiteral("exportPrivacyProfile"));

    QMenu* edit = bar.addMenu(tr("&Edit"));
    add(edit, tr("&Copy"), {QKeySequence::Copy}, actions.copy);
    add(edit, tr("Select &All"), {QKeySequence::SelectAll}, actions.selectAll);
    edit->addSeparator();
    add(edit, tr("&Find…"), {QKeySequence::Find}, actions.find);
    // Spelt out: the platforms' standard keys for these differ, and both are expected.
    add(edit, tr("Find &Next"), {QKeySequence(Qt::CTRL | Qt::Key_G), QKeySequence(Qt::Key_F3)},
        actions.findNext);
    add(edit, tr("Find Pre&vious"),
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), QKeySequence(Qt::SHIFT | Qt::Key_F3)},
        actions.findPrevious);

    QMenu* view = bar.addMenu(tr("&View"));
    // Ctrl+= too: on most keyboards "+" needs Shift.
    add(view, tr("&Bigger"), {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        actions.bigger);
    add(view, tr("S&maller"), {QKeySequence::ZoomOut}, actions.smaller);
    add(view, tr("&Actual Size"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, actions.actualSize);
    return file;
}

QAction* exportPrivacyProfileItem(const QMenuBar& bar) {
    return bar.findChild<QAction*>(QStringLiteral("exportPrivacyProfile"));
}

void findThrough(WindowActions& actions, FindBar* bar) {
    actions.find = [bar] { bar->activate(); };
    actions.findNext = [bar] { bar->next(); };
    actions.findPrevious = [bar] { bar->previous(); };
}

}  // namespace varko
