#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <QTimer>
#include <csignal>
#include "support/filesizelimit.h"

#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "support/faketool.h"

namespace varko {
namespace {

using testing::FakeTool;

const QByteArray threeEntries = R"([
 {"timestamp":"2021-04-07 18:22:06.123456+0100","subsystem":"com.apple.TCC","eventMessage":"tcc"},
 {"timestamp":"2021-04-07 18:22:07.123456+0100","subsystem":"com.apple.launchservices","eventMessage":"ls"},
 {"timestamp":"2021-04-07 18:22:08.123456+0100","processImagePath":"/kernel","eventMessage":"kernel"}])";

class LogViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().remove("fontSizeLog");
        log.answer(threeEntries);
    }
    std::unique_ptr<LogWindowController> window(const host::ToolSet& set) {
        auto w = std::make_unique<LogWindowController>(set);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
        return w;
    }
    std::unique_ptr<LogWindowController> window() {
        return window(host::ToolSet::withPrograms({{QLatin1String(host::logPath), log.program()}}));
    }
    static bool fetch(LogViewController* v) {
        QSignalSpy finished(v, &LogViewController::logQueryFinished);
        v->getlogButtonAction();
        return finished.wait(10000);
    }
    QTemporaryDir dir;
    FakeTool log{dir, "log"};
};

TEST_F(LogViewTest, OpensWithTheLastMinuteAndEverythingChecked) {
    auto w = window();
    LogViewController* v = w->viewController();
    EXPECT_EQ(w->windowTitle(), "Log Window");
    EXPECT_FALSE(v->progressSpinner->isVisible());
    EXPECT_EQ(v->startDateTextbox->text().size(), 10);
    EXPECT_EQ(v->startTimeTextbox->text().size(), 8);
    EXPECT_EQ(v->endTimeTextbox->text().size(), 8);
    for (QCheckBox* c :
         {v->cloudDocsCheckbox, v->cloudKitCheckbox, v->mmcsCheckbox, v->otherCheckbox})
        EXPECT_TRUE(c->isChecked());
    EXPECT_TRUE(v->logs.empty());
    EXPECT_EQ(v->outputLines->display().lineCount(), 0);
}

TEST_F(LogViewTest, QueryShowsEntriesAndSendsTenArguments) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    const QStringList args = log.arguments();
    ASSERT_EQ(args.size(), 10);
    EXPECT_EQ(args[6], "--start");
    EXPECT_EQ(args[7], v->startDateTextbox->text() + " " + v->startTimeTextbox->text());
    EXPECT_EQ(args[8], "--end");
    ASSERT_EQ(v->logs.size(), 1u);
    EXPECT_EQ(v->outputLines->display().lineCount(), 3);
    EXPECT_FALSE(v->progressSpinner->isVisible());
}

TEST_F(LogViewTest, FailuresShowTheirMessageAndKeepTheLastEntries) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    const QString shown = v->outputLines->display().text();

    log.answer("[]", 1);
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(v->outputLines->display().text(), "log show command returned error number 1");
    ASSERT_EQ(v->logs.size(), 1u);
    EXPECT_EQ(v->logs.front()->children.size(), 3u);

    // Any checkbox brings the entries back.
    QTest::mouseClick(v->otherCheckbox, Qt::LeftButton);
    QTest::mouseClick(v->otherCheckbox, Qt::LeftButton);
    EXPECT_EQ(v->outputLines->display().text(), shown);

    auto broken = window(
        host::ToolSet::withPrograms({{QLatin1String(host::logPath), dir.filePath("absent")}}));
    ASSERT_TRUE(fetch(broken->viewController()));
    EXPECT_EQ(broken->viewController()->outputLines->display().text(), "log show command failed\n");
}

TEST_F(LogViewTest, UnreadableEntriesAreSkippedAndCounted) {
    log.answer(QByteArray(R"([{"subsystem":"com.apple.TCC","eventMessage":"bad \q escape"},
 {"subsystem":"com.apple.TCC","eventMessage":"raw )") +
               QByteArray("\0", 1) + "nul \xff byte\"},\n" +
               R"( {"processImagePath":"/kernel","eventMessage":"kernel"}])");
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    const unifiedlog::LogDisplay& shown = v->outputLines->display();
    EXPECT_EQ(shown.lineCount(), 2);
    EXPECT_TRUE(shown.text().contains(QString::fromUtf8("raw \u2400nul \uFFFD byte")))
        << qPrintable(shown.text());
    EXPECT_TRUE(v->statusLabel->isVisible());
    EXPECT_EQ(v->statusLabel->text(), "1 entry could not be read and was skipped.");

    // Cut short inside the third entry: the two before it show, and the note says why.
    log.answer(threeEntries.left(threeEntries.indexOf("kernel")));
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(shown.lineCount(), 2);
    EXPECT_EQ(v->statusLabel->text(),
              "1 entry could not be read and was skipped. The log tool's output ended early; the "
              "entries before "
              "the cut are shown.");

    log.answer("not a log");
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(shown.lineCount(), 0);
    EXPECT_EQ(v->statusLabel->text(), "The log tool's output is not a list of log entries.");

    // Clean output has no note, and a failure takes the note away with the entries.
    log.answer(threeEntries);
    ASSERT_TRUE(fetch(v));
    EXPECT_FALSE(v->statusLabel->isVisible());
    log.answer(threeEntries.left(40));
    ASSERT_TRUE(fetch(v));
    EXPECT_TRUE(v->statusLabel->isVisible());
    log.answer("[]", 1);
    ASSERT_TRUE(fetch(v));
    EXPECT_FALSE(v->statusLabel->isVisible());
}

TEST_F(LogViewTest, OutputCutAtItsBoundShowsTheEntriesBeforeTheCut) {
    auto w = window();
    LogViewController* v = w->viewController();
    // The tool was stopped at the bound, so its status is no success.
    v->finishLogQuery(unifiedlog::LogQueryResult{
        std::make_shared<const unifiedlog::LogList>(threeEntries.left(threeEntries.size() - 10)),
        true});
    EXPECT_EQ(v->outputLines->display().lineCount(), 2);
    EXPECT_EQ(v->statusLabel->text(),
              "1 entry could not be read and was skipped. The log tool wrote more than 3 GiB; the "
              "entries before "
              "the cut are shown. Choose a shorter time range to see the rest.");
}

TEST_F(LogViewTest, CheckboxesFilterByCategory) {
    auto w = window();
    LogViewController* v = w->viewController();
    QTest::mouseClick(v->cloudDocsCheckbox, Qt::LeftButton);  // before any query: nothing happens
    EXPECT_EQ(v->outputLines->display().lineCount(), 0);
    v->cloudDocsCheckbox->setChecked(true);
    ASSERT_TRUE(fetch(v));
    for (QCheckBox* c :
         {v->cloudDocsCheckbox, v->cloudKitCheckbox, v->mmcsCheckbox, v->otherCheckbox})
        QTest::mouseClick(c, Qt::LeftButton);
    EXPECT_EQ(v->outputLines->display().lineCount(), 0);
    QTest::mouseClick(v->otherCheckbox, Qt::LeftButton);
    ASSERT_EQ(v->outputLines->display().lineCount(), 1);
    EXPECT_EQ(v->outputLines->display().line(0)[0].colour, unifiedlog::LineColour::Blue);
    EXPECT_TRUE(v->outputLines->display().text().endsWith("kernel      kernel\n"));
}

TEST_F(LogViewTest, WindowStaysResponsiveWhileTheToolRunsAndMayCloseMeanwhile) {
    log.answer(threeEntries, 0, {}, "sleep 2");
    auto w = window();
    LogViewController* v = w->viewController();
    v->getlogButtonAction();
    EXPECT_TRUE(v->progressSpinner->isVisible());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_GE(ticks, 10);
    EXPECT_TRUE(v->logs.empty());
    w.reset();  // closing with the tool still running neither blocks nor crashes
    QTest::qWait(100);
}

TEST_F(LogViewTest, FontSizeIsBoundedStoredAndLoaded) {
    QSettings().setValue("fontSizeLog", 3.5);
    EXPECT_EQ(window()->viewController()->theFontSize, 12);
    QSettings().setValue("fontSizeLog", 30.0);
    auto w = window();
    LogViewController* v = w->viewController();
    EXPECT_EQ(v->theFontSize, 30);
    v->incFontSize();
    EXPECT_EQ(v->theFontSize, 24);
    EXPECT_EQ(QSettings().value("fontSizeLog").toDouble(), 24);
    for (int i = 0; i < 30; ++i) v->decFontSize();
    EXPECT_EQ(v->theFontSize, 4);
    ASSERT_TRUE(fetch(v));
    v->incFontSize();
    EXPECT_EQ(v->outputLines->display().entryFontSize(), 5);
}

// Saves through the Save Log… dialog as a person would, choosing `target`.
bool save(LogViewController* v, const QString& target) {
    QSignalSpy opened(v, &LogViewController::saveDialogOpened);
    QSignalSpy saved(v, &LogViewController::logSaved);
    v->savelogButtonAction();
    if (opened.size() != 1) return false;
    auto* dialog = qobject_cast<QFileDialog*>(opened.first().first().value<QWidget*>());
    if (dialog == nullptr) return false;
    emit dialog->fileSelected(target);
    // A write that fails at once may report before the wait begins.
    return !saved.isEmpty() || saved.wait(10000);
}

TEST_F(LogViewTest, SaveWritesTheShownTextAsRtf) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    const QString target = dir.filePath("saved.rtf");
    ASSERT_TRUE(save(v, target));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray rtf = file.readAll();
    EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
    EXPECT_TRUE(rtf.contains("TCC         tcc\\par"));
    EXPECT_TRUE(rtf.contains("\\cf3"));
}

TEST_F(LogViewTest, FailedSaveLeavesTheOldFileAndSaysWhy) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    const QString target = dir.filePath("old.rtf");
    {
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old log");
    }
    {
        const varko::testing::FileSizeLimit limit;  // every write past 16 bytes fails
        ASSERT_TRUE(save(v, target));
    }

    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old log");
    const unifiedlog::LogDisplay& shown = v->outputLines->display();
    EXPECT_EQ(shown.lineCount(), 4);  // the entries, then the reason
    EXPECT_FALSE(shown.line(3)[0].text.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList({"old.rtf*"}, QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(LogViewTest, OutputViewSelectsAndCopiesWholeLines) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    LogOutputView* view = v->outputTextbox;
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Home);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view->selection(), (std::pair<qsizetype, qsizetype>{0, 1}));
    EXPECT_EQ(view->selectedText(), v->outputLines->display().text(0, 1));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->selectedText(), v->outputLines->display().text());
}

TEST_F(LogViewTest, ScreenReadersSeeEachLineAsAListItem) {
    auto w = window();
    LogViewController* v = w->viewController();
    ASSERT_TRUE(fetch(v));
    LogOutputView* view = v->outputTextbox;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "Log entries");
    ASSERT_EQ(list->childCount(), 3);
    QStringList texts;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* line = list->child(i);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->role(), QAccessible::ListItem);
        EXPECT_EQ(list->indexOfChild(line), i);
        EXPECT_EQ(line->parent(), list);
        texts << line->text(QAccessible::Name) + u'\n';
    }
    EXPECT_EQ(texts.join(QString()), v->outputLines->display().text());
    EXPECT_EQ(list->child(3), nullptr);

    // Items are where the lines are drawn, and know whether they are selected.
    QAccessibleInterface* second = list->child(1);
    EXPECT_EQ(list->childAt(second->rect().center().x(), second->rect().center().y()), second);
    EXPECT_FALSE(second->state().selected);
    view->selectAll();
    EXPECT_TRUE(second->state().selected);

    // Filtered, the items follow the lines.
    QTest::mouseClick(v->cloudDocsCheckbox, Qt::LeftButton);
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_TRUE(list->child(0)->text(QAccessible::Name).endsWith("LaunchServ  ls"));
}

}  // namespace
}  // namespace varko
