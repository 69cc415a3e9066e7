#include "app/erroralert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace varko {

namespace {

int runMessageBox(const Alert& alert) {
    QMessageBox box(
        alert.style == Alert::Style::Critical ? QMessageBox::Critical : QMessageBox::Information,
        QApplication::applicationDisplayName(), alert.messageText, QMessageBox::NoButton,
        QApplication::activeWindow());
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons << box.addButton(title, QMessageBox::AcceptRole);
    if (!buttons.isEmpty()) box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
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
