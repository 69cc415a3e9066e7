#pragma once

// Driving a save dialog as a person does: the name typed into its field, Return, and
// Yes when it asks whether to replace a file.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace varko::testing {

/// The visible message boxes, newest last.
inline QList<QMessageBox*> shownMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
    return boxes;
}

/// Types `path` into the dialog's name field and presses Return. The dialog's question
/// whether to replace an existing file runs a loop of its own; it is answered Yes.
inline void chooseInSaveDialog(QFileDialog* dialog, const QString& path) {
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QMessageBox* box : shownMessageBoxes())
            if (QAbstractButton* yes = box->button(QMessageBox::Yes)) yes->click();
    });
    answer.start();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr) return;
    name->setText(path);
    QTest::keyClick(name, Qt::Key_Return);
}

/// Waits, within a bound, for something that other threads bring about.
inline bool eventually(const std::function<bool()>& done, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) QTest::qWait(10);
    return done();
}

}  // namespace varko::testing
