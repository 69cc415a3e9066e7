#include "app/erroralert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace varko {

namespace {

int runMessageBox(const Alert& alert) {
    // On the heap and watched: its parent window can go while it waits (a hand-over opens an
    // item and the start window closes), and deletes it then.
    QPointer<QMessageBox> box = new QMessageBox(
        alert.style == Alert::Style::Critical ? QMessageBox::Critical : QMessageBox::Information,
        QApplication::applicationDisplayName(), alert.messageText, QMessageBox::NoButton,
        QApplication::activeWindow());
    box->setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons << box->addButton(title, QMessageBox::AcceptRole);
    if (!buttons.isEmpty()) box->setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box->exec();
    if (!box) return alertFirstButtonReturn;
    const qsizetype chosen = buttons.indexOf(box->clickedButton());
    delete box.data();
    return alertFirstButtonReturn + int(chosen < 0 ? 0 : chosen);
}

}  // namespace

AlertRunner& alertRunner() {
    static AlertRunner runner = runMessageBox;
    return runner;
}

int runAlert(const Alert& alert) {
    return alertRunner()(alert);
}

void showErrorAlert(const QString& explanation) {
    runAlert({Alert::Style::Critical,
              QStringLiteral("An error occurred:"),
              explanation,
              {QStringLiteral("OK")}});
}

}  // namespace varko
