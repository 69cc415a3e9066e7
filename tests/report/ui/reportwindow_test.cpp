#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <sys/stat.h>
#include <unistd.h>

#include "report/ui/viewcontrollerfixture.h"
#include "support/shell.h"
#include "ui/findbar.h"

namespace varko::testing {
namespace {

/// The save dialog that Save Report… opens in `w`, by its key.
QFileDialog* openSave(DocumentWindowController& w) {
    // As a window manager would, after an earlier dialog has closed.
    (void)varko::testing::activate(&w);
    QSignalSpy opened(w.viewController(), &ViewController::saveDialogOpened);
    QTest::keySequence(&w, QKeySequence::Save);
    return opened.size() == 1 ? qobject_cast<QFileDialog*>(opened[0][0].value<QWidget*>())
                              : nullptr;
}

class ReportWindowTest : public ViewControllerTest {
protected:
    /// A shown window of the app whose report has finished.
    std::unique_ptr<DocumentWindowController> shownApp() {
        auto w = window(app(), applicationBundleType);
        if (!showAndFinish(*w)) return nullptr;
        (void)varko::testing::activate(w.get());
        return w;
    }
};

TEST_F(ReportWindowTest, SavedFileAndCopyHoldTheReportsExactCharacters) {
    // Tool output reaches the report as it is: breaks of every kind and a no-break space.
    const QByteArray odd = "cr\rcrlf\r\nls\u2028ps\u2029nbsp\u00a0end\n";
    spctl.answer("", 0, odd);
    auto w = shownApp();
    ASSERT_TRUE(w);
    ViewController* v = w->viewController();
    ASSERT_TRUE(v->reportText().toUtf8().contains(odd));

    QSignalSpy saved(v, &ViewController::reportSaved);
    const QString target = dir.filePath("exact.text");
    chooseInSaveDialog(openSave(*w), target);
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(10000));
    EXPECT_EQ(readFile(target), v->reportText().toUtf8());

    // Select All and Copy by their keys, in the view that has the keyboard.
    v->outputTextbox->setFocus();
    QTest::keySequence(v->outputTextbox, QKeySequence::SelectAll);
    QTest::keySequence(v->outputTextbox, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), v->reportText());
    // A part of it, as a mouse would select it: the view's positions are the report's.
    const qsizetype at = v->reportText().indexOf("crlf");
    QTextCursor part(v->outputTextbox->document());
    part.setPosition(int(at));
    part.setPosition(int(at + 16), QTextCursor::KeepAnchor);
    v->outputTextbox->setTextCursor(part);
    // This time from the Edit menu.
    QAction* copy = menuItem(w.get(), "&Copy");
    ASSERT_NE(copy, nullptr);
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), v->reportText().mid(at, 16));
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("crlf\r\nls\u2028ps\u2029nbsp"));
}

TEST_F(ReportWindowTest, CopyOfACutLineGivesWhatTheNoteStandsFor) {
    ViewController v(toolSet());
    const QString line = QString(maxShownLineLength + 5, u'x');
    v.appendOutput("a\n" + line + "\nz");
    v.outputTextbox->selectAll();
    v.outputTextbox->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "a\n" + line + "\nz");
    EXPECT_LT(v.outputTextbox->toPlainText().size(), v.reportText().size() + 80);
}

TEST_F(ReportWindowTest, BiggerSmallerAndActualSizeKeepTheFirstVisibleLine) {
    auto w = shownApp();
    ASSERT_TRUE(w);
    ViewController* v = w->viewController();
    QString lines;
    for (int i = 0; i < 400; ++i) lines += QStringLiteral("line %1\n").arg(i);
    v->appendOutput(lines);
    ReportTextView* view = v->outputTextbox;
    const auto topLine = [view] {
        return view->document()->findBlock(int(view->topPosition())).text();
    };
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    const QString before = topLine();
    ASSERT_TRUE(before.startsWith("line ")) << before.toStdString();
    QTest::keySequence(w.get(), QKeySequence::ZoomIn);
    EXPECT_EQ(v->theFontSize, 13);
    EXPECT_EQ(topLine(), before);
    QTest::keySequence(w.get(), QKeySequence::ZoomOut);
    QTest::keySequence(w.get(), QKeySequence::ZoomOut);
    EXPECT_EQ(topLine(), before);
    QTest::keyClick(w.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(v->theFontSize, 12);
    EXPECT_EQ(QSettings().value("fontSize").toDouble(), 12);
    EXPECT_EQ(topLine(), before);
}

TEST_F(ReportWindowTest, FindSelectsEachMatchInTurnAndSaysWhenThereIsNone) {
    auto w = shownApp();
    ASSERT_TRUE(w);
    ViewController* v = w->viewController();
    FindBar* bar = v->findBar;
    EXPECT_FALSE(bar->isVisible());
    QTest::keySequence(w.get(), QKeySequence::Find);
    ASSERT_TRUE(bar->isVisible());
    ASSERT_TRUE(bar->field()->hasFocus());
    // "check" stands in the two signature headings, in that order.
    QTest::keyClicks(bar->field(), "CHECK");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    const QString text = v->reportText();
    const int first = int(text.indexOf("check"));
    const int second = int(text.indexOf("check", first + 1));
    ASSERT_GT(second, first);
    EXPECT_EQ(v->outputTextbox->textCursor().selectionStart(), first);
    EXPECT_EQ(v->outputTextbox->textCursor().selectedText(), "check");
    QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(v->outputTextbox->textCursor().selectionStart(), second);
    QTest::keyClick(w.get(), Qt::Key_F3);  // round again past the end
    EXPECT_EQ(v->outputTextbox->textCursor().selectionStart(), first);
    QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(v->outputTextbox->textCursor().selectionStart(), second);
    EXPECT_EQ(bar->resultText(), "");

    bar->field()->selectAll();
    QTest::keyClicks(bar->field(), "no such words");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(bar->resultText(), "Not found");
    EXPECT_EQ(v->outputTextbox->textCursor().selectionStart(), second);
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(ReportWindowTest, ClosingTheWindowLetsItsSaveFinish) {
    auto w = shownApp();
    ASSERT_TRUE(w);
    const QByteArray report = w->viewController()->reportText().toUtf8();
    QPointer<QFileDialog> dialog = openSave(*w);
    ASSERT_TRUE(dialog);
    w.reset();
    ASSERT_TRUE(dialog) << "the dialog went with its window";
    const QString target = dir.filePath("after close.text");
    chooseInSaveDialog(dialog, target);
    ASSERT_TRUE(eventually([&] { return QFile::exists(target); }));
    EXPECT_EQ(readFile(target), report);

    // A failure with no window left to show it in comes as an alert.
    w = shownApp();
    ASSERT_TRUE(w);
    dialog = openSave(*w);
    w.reset();
    const QString fifo = dir.filePath("fifo.text");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    chooseInSaveDialog(dialog, fifo);
    ASSERT_TRUE(eventually([] { return !shownMessageBoxes().isEmpty(); }));
    QMessageBox* alert = shownMessageBoxes().last();
    EXPECT_EQ(alert->text(), "The report could not be saved to " + fifo + ": Not a regular file.");
    alert->close();
}

// Named with the suffix the dialog would add or without it, a device through a link too.
TEST_F(ReportWindowTest, SavingOntoAFifoOrADeviceIsRefusedAndLeavesItAndItsFolderAlone) {
    for (const char* fifo : {"named.text", "pipe"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(fifo)).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/full", dir.filePath("full.text")));
    for (const QString& target : {dir.filePath("named.text"), dir.filePath("full.text"),
                                  dir.filePath("pipe"), QStringLiteral("/dev/full")}) {
        SCOPED_TRACE(target.toStdString());
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &before), 0);
        auto w = shownApp();
        ASSERT_TRUE(w);
        ViewController* v = w->viewController();
        const QString shown = v->reportText();
        QSignalSpy saved(v, &ViewController::reportSaved);
        const QPointer<QFileDialog> dialog = openSave(*w);
        ASSERT_NE(dialog, nullptr);
        chooseInSaveDialog(dialog, target);
        ASSERT_TRUE(!saved.isEmpty() || saved.wait(10000));
        ASSERT_TRUE(eventually([&] { return dialog.isNull() || !dialog->isVisible(); }));
        EXPECT_FALSE(saved[0][1].toBool());
        EXPECT_EQ(v->reportText().mid(shown.size()), "\n⛔️ The report could not be saved to " +
                                                         target + ": Not a regular file.\n");
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
        EXPECT_FALSE(QFileInfo::exists(target + ".text"));
    }
    EXPECT_EQ(QDir(dir.path())
                  .entryList({"named*", "pipe*", "full*"},
                             QDir::System | QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"full.text", "named.text", "pipe"}));
    EXPECT_TRUE(QFileInfo(dir.filePath("full.text")).isSymLink());
}

TEST_F(ReportWindowTest, TypingAPathIntoProcLeavesTheWindowsAnswering) {
    // Listing /proc once made the dialog read /proc/kmsg to guess its type: a read
    // that never returns. Only root may open it.
    if (::access("/proc/kmsg", R_OK) != 0) GTEST_SKIP() << "/proc/kmsg is not readable here";
    // A frozen event loop ends the run instead of hanging it.
    const struct Alarm {
        Alarm() { ::alarm(30); }
        ~Alarm() { ::alarm(0); }
        Alarm(const Alarm&) = delete;
        Alarm& operator=(const Alarm&) = delete;
    } guard;
    auto w = shownApp();
    ASSERT_TRUE(w);
    QFileDialog* dialog = openSave(*w);
    ASSERT_NE(dialog, nullptr);
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->clear();
    for (const QChar c : QStringLiteral("/proc/kmsg")) {
        QTest::keyClicks(name, QString(c));
        QTest::qWait(30);  // a person's typing pace, so the completer follows each key
    }
    // Once the dialog has listed /proc, the event loop must still turn.
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(
        QTest::qWaitFor([model] { return model->rowCount(model->index("/proc")) > 0; }, 20000));
    bool ticked = false;
    QTimer::singleShot(0, [&ticked] { ticked = true; });
    EXPECT_TRUE(QTest::qWaitFor([&ticked] { return ticked; }, 10000));
    dialog->close();
}

}  // namespace
}  // namespace varko::testing
