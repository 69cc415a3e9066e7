#include <gtest/gtest.h>

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "support/faketool.h"
#include "support/filesizelimit.h"
#include "support/savedialogs.h"
#include "support/shell.h"
#include "tools/threadpools.h"
#include "ui/findbar.h"
#include "ui/savedialog.h"

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
        w = window();
        v = w->viewController();
        (void)varko::testing::activate(w.get());  // for the keys of its menus
    }
    std::unique_ptr<LogWindowController> window(const host::ToolSet& set) {
        auto made = std::make_unique<LogWindowController>(set);
        made->setAttribute(Qt::WA_DeleteOnClose, false);
        made->show();
        return made;
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
    std::unique_ptr<LogWindowController> w;  ///< a window on the fake log tool
    LogViewController* v = nullptr;          ///< its view
};

TEST_F(LogViewTest, OpensWithTheLastMinuteEverythingCheckedAndQueriesThatRange) {
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

    // A query shows the entries and sends ten arguments.
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
    // The reason follows on the next line.
    EXPECT_TRUE(broken->viewController()->outputLines->display().text().startsWith(
        "log show command failed\n"));
    EXPECT_GT(broken->viewController()->outputLines->display().lineCount(), 1);
}

TEST_F(LogViewTest, UnreadableEntriesAreSkippedAndCounted) {
    log.answer(QByteArray(R"([{"subsystem":"com.apple.TCC","eventMessage":"bad \q escape"},
 {"subsystem":"com.apple.TCC","eventMessage":"raw )") +
               QByteArray("\0", 1) + "nul \xff byte\"},\n" +
               R"( {"processImagePath":"/kernel","eventMessage":"kernel"}])");
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

TEST_F(LogViewTest, WindowStaysResponsiveWhileTheToolRunsAndMayCloseMeanwhile) {
    // The tool answers only once released, so ticks before that came while it ran.
    const QString release = dir.filePath("release");
    log.answer(threeEntries, 0, {}, testing::untilExists(release));
    QSignalSpy finished(v, &LogViewController::logQueryFinished);
    v->getlogButtonAction();
    EXPECT_TRUE(v->progressSpinner->isVisible());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 10; }, 10000));
    EXPECT_TRUE(v->logs.empty());
    EXPECT_TRUE(finished.isEmpty());
    w.reset();  // closing with the tool still running neither blocks nor crashes
    (void)testing::writeFile(release);
    // The retired pool goes once the tool's answer has been handled: no window took it.
    EXPECT_TRUE(QTest::qWaitFor([] { return host::retiredPoolsPending() == 0; }, 20000));
    EXPECT_EQ(finished.size(), 0);
    for (QWidget* shown : QApplication::topLevelWidgets()) EXPECT_FALSE(shown->isVisible());
}

TEST_F(LogViewTest, FontSizeIsBoundedStoredAndLoaded) {
    QSettings().setValue("fontSizeLog", 3.5);
    EXPECT_EQ(window()->viewController()->theFontSize, 12);
    QSettings().setValue("fontSizeLog", 30.0);
    w = window();
    v = w->viewController();
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

// Replaces a box's text as a person would, and presses Return to fetch.
void typeAndFetch(QLineEdit* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

bool waitForQuery(LogViewController* v) {
    QSignalSpy finished(v, &LogViewController::logQueryFinished);
    return finished.wait(10000);
}

TEST_F(LogViewTest, ARangeTheToolWouldRefuseIsMarkedAndTheEntriesStay) {
    ASSERT_TRUE(fetch(v));
    const QString shown = v->outputLines->display().text(), counts = v->countLabel->text();
    const QString day = v->endDateTextbox->text();
    const struct {
        QLineEdit* box;
        QString typed;
        QLineEdit* marked;
        QString said;
    } cases[] = {
        {v->startDateTextbox, "2026-13-45", v->startDateTextbox,
         "The start date \"2026-13-45\" is not a date: use the form YYYY-MM-DD HH:MM:SS."},
        {v->endTimeTextbox, "07:00:00 PM", v->endTimeTextbox,
         "The end time \"07:00:00 PM\" is not a time of day: use the form YYYY-MM-DD HH:MM:SS."},
        {v->startDateTextbox, "2999-01-01", v->endDateTextbox, "The end comes before the start."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        typeAndFetch(c.box, c.typed);
        // Refused before the tool: nothing runs, the entries and their counts stay.
        EXPECT_FALSE(v->progressSpinner->isVisible());
        EXPECT_EQ(v->outputLines->display().text(), shown);
        EXPECT_EQ(v->countLabel->text(), counts);
        EXPECT_TRUE(v->rangeProblemLabel->isVisible());
        EXPECT_EQ(v->rangeProblemLabel->text(), c.said);
        EXPECT_TRUE(c.marked->property("invalid").toBool());
        EXPECT_EQ(QApplication::focusWidget(), c.marked);
        // Mending the box takes the mark away; the next query runs.
        typeAndFetch(c.box, c.box == v->endTimeTextbox ? "23:59:59" : day);
        ASSERT_TRUE(waitForQuery(v));
        EXPECT_FALSE(v->rangeProblemLabel->isVisible());
        EXPECT_FALSE(c.marked->property("invalid").toBool());
    }
}

TEST_F(LogViewTest, CheckboxesFilterByCategoryCountsFollowAndAnEmptyViewSaysWhy) {
    const auto painted = [this] {
        // Anything drawn on the empty view in another colour than its background.
        const QImage image = v->outputTextbox->viewport()->grab().toImage();
        const QRgb base = v->outputTextbox->palette().base().color().rgb();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != base) return true;
        return false;
    };
    QTest::mouseClick(v->cloudDocsCheckbox, Qt::LeftButton);  // before any query: nothing happens
    EXPECT_EQ(v->outputLines->display().lineCount(), 0);
    v->cloudDocsCheckbox->setChecked(true);
    EXPECT_TRUE(v->countLabel->text().isEmpty());
    EXPECT_FALSE(painted());
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(v->countLabel->text(), "3 entries fetched, 3 shown");
    QTest::mouseClick(v->cloudDocsCheckbox, Qt::LeftButton);
    EXPECT_EQ(v->countLabel->text(), "3 entries fetched, 2 shown");
    EXPECT_TRUE(v->outputTextbox->placeholderText().isEmpty());
    for (QCheckBox* c : {v->cloudKitCheckbox, v->mmcsCheckbox, v->otherCheckbox})
        QTest::mouseClick(c, Qt::LeftButton);
    EXPECT_EQ(v->countLabel->text(), "3 entries fetched, 0 shown");
    EXPECT_EQ(v->outputLines->display().lineCount(), 0);
    EXPECT_EQ(v->outputTextbox->placeholderText(), "No entries of the chosen categories.");
    EXPECT_TRUE(painted());
    // Screen readers hear it too.
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(v->outputTextbox)->text(QAccessible::Description),
        "No entries of the chosen categories.");
    QTest::mouseClick(v->otherCheckbox, Qt::LeftButton);
    ASSERT_EQ(v->outputLines->display().lineCount(), 1);
    EXPECT_EQ(v->outputLines->display().line(0)[0].colour, unifiedlog::LineColour::Blue);
    EXPECT_TRUE(v->outputLines->display().text().endsWith("kernel      kernel\n"));

    log.answer("[]");
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(v->countLabel->text(), "0 entries fetched, 0 shown");
    EXPECT_EQ(v->outputTextbox->placeholderText(), "No log entries in this time range.");
    log.answer("no list");
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(v->outputTextbox->placeholderText(), "No log entries could be read.");
    log.answer(threeEntries.left(threeEntries.indexOf("},")) + "}]");
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(v->countLabel->text(), "1 entry fetched, 0 shown");
    QTest::mouseClick(v->cloudDocsCheckbox, Qt::LeftButton);
    EXPECT_EQ(v->countLabel->text(), "1 entry fetched, 1 shown");

    // A failure's message fills the view; the counts of entries not shown go.
    log.answer("[]", 1);
    ASSERT_TRUE(fetch(v));
    EXPECT_TRUE(v->countLabel->text().isEmpty());
    EXPECT_TRUE(v->outputTextbox->placeholderText().isEmpty());
}

// `count` entries in turn of the four categories; entry i says "entry i".
QByteArray manyEntries(int count) {
    static const char* sources[] = {
        R"("subsystem":"com.apple.TCC")", R"("subsystem":"com.apple.launchservices")",
        R"("subsystem":"com.apple.securityd")", R"("processImagePath":"/kernel")"};
    QByteArray json = "[";
    for (int i = 0; i < count; ++i)
        json += QByteArray(i ? "," : "") + "{" + sources[i % 4] + R"(,"eventMessage":"entry )" +
                QByteArray::number(i) + R"("})";
    return json + "]";
}

TEST_F(LogViewTest, TheFirstEntryInViewStaysThereWhenTheSizeOrTheCategoriesChange) {
    log.answer(manyEntries(400));
    LogOutputView* view = v->outputTextbox;
    ASSERT_TRUE(fetch(v));
    const auto topEntry = [&] { return v->outputLines->display().placeOf(view->topLine())->entry; };
    // Scrolled as with the wheel or the scroll bar, and one line clicked.
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    const std::uint32_t top = topEntry();
    ASSERT_GT(top, 100u);
    const QRect clicked = view->lineRect(view->topLine() + 3);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, clicked.center());
    const std::uint32_t selected = top + 3;

    QAction* bigger = testing::menuItem(w.get(), "&Bigger");
    ASSERT_NE(bigger, nullptr);
    for (int i = 0; i < 3; ++i) {
        bigger->trigger();
        EXPECT_EQ(topEntry(), top);
    }
    testing::menuItem(w.get(), "S&maller")->trigger();
    EXPECT_EQ(topEntry(), top);
    EXPECT_EQ(v->outputLines->display().placeOf(view->currentLine())->entry, selected);

    // Hiding the top entry's category brings the next one shown to the top.
    QCheckBox* boxes[] = {v->cloudDocsCheckbox, v->cloudKitCheckbox, v->mmcsCheckbox,
                          v->otherCheckbox};
    QTest::mouseClick(boxes[top % 4], Qt::LeftButton);
    EXPECT_EQ(topEntry(), top + 1);
    QTest::mouseClick(boxes[top % 4], Qt::LeftButton);
    EXPECT_EQ(topEntry(), top + 1);

    // A new result starts at the top again.
    ASSERT_TRUE(fetch(v));
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
}

TEST_F(LogViewTest, FindSelectsTheNextMatchingLineScrollsToItAndGoesRound) {
    LogOutputView* view = v->outputTextbox;
    EXPECT_FALSE(v->findNext("tcc"));  // nothing shown yet
    ASSERT_TRUE(fetch(v));
    QSignalSpy found(v, &LogViewController::findFinished);
    EXPECT_TRUE(v->findNext("LS"));
    EXPECT_EQ(view->selection(), (std::pair<qsizetype, qsizetype>{1, 1}));
    EXPECT_TRUE(v->findNext("ls"));  // the only match, found again round the end
    EXPECT_EQ(view->currentLine(), 1);
    EXPECT_TRUE(v->findNext("TCC"));
    EXPECT_EQ(view->currentLine(), 0);
    EXPECT_TRUE(v->findPrevious("Kernel"));
    EXPECT_EQ(view->currentLine(), 2);
    EXPECT_FALSE(v->findNext("absent"));
    EXPECT_EQ(view->currentLine(), 2);
    ASSERT_EQ(found.size(), 5);
    EXPECT_TRUE(found[0][0].toBool());
    EXPECT_FALSE(found[4][0].toBool());

    // Far down a long log the match is scrolled into view.
    log.answer(manyEntries(2000));
    ASSERT_TRUE(fetch(v));
    ASSERT_TRUE(v->findPrevious("entry 1990"));
    EXPECT_TRUE(view->viewport()->rect().contains(view->lineRect(view->currentLine())));
    EXPECT_TRUE(v->outputLines->display()
                    .text(view->currentLine(), view->currentLine())
                    .endsWith("entry 1990\n"));
    ASSERT_TRUE(v->findNext("ENTRY 7"));  // goes round to the top
    EXPECT_EQ(view->currentLine(), 7);
    EXPECT_TRUE(view->viewport()->rect().contains(view->lineRect(7)));

    // Far to the right of a long line, the match is scrolled into view sideways too.
    log.answer(R"([{"eventMessage":")" + QByteArray(600, 'x') + R"( needle"},
                  {"eventMessage":"needle at the start"}])");
    ASSERT_TRUE(fetch(v));
    ASSERT_TRUE(v->findNext("NEEDLE"));
    EXPECT_EQ(view->currentLine(), 0);
    QScrollBar* sideways = view->horizontalScrollBar();
    EXPECT_GT(sideways->value(), sideways->maximum() / 2);
    ASSERT_TRUE(v->findNext("needle"));
    EXPECT_EQ(view->currentLine(), 1);
    EXPECT_EQ(sideways->value(), 0);
    // A match that fits beside the line's start brings the start back into view, though the
    // match alone was in view already; the match is marked, not the whole line.
    sideways->setValue(1);
    ASSERT_TRUE(v->findPrevious("at the"));
    EXPECT_EQ(sideways->value(), 0);
    const QString line = v->outputLines->display().text(1, 1);
    EXPECT_EQ(view->match().line, 1);
    EXPECT_EQ(line.mid(view->match().from, view->match().length), "at the");
    QTest::keyClick(view, Qt::Key_Up);  // any move of the selection ends the mark
    EXPECT_EQ(view->match().line, -1);
}

TEST_F(LogViewTest, TheTitleNamesTheRangeOfTheEntriesShown) {
    v->startDateTextbox->setText("2026-12-07");
    v->startTimeTextbox->setText("10:00:00");
    v->endDateTextbox->setText("2026-12-07");
    typeAndFetch(v->endTimeTextbox, "10:05:00");
    ASSERT_TRUE(waitForQuery(v));
    EXPECT_EQ(w->windowTitle(),
              QString::fromUtf8("Log Window \u2014 2026-12-07 10:00:00 to 10:05:00"));

    // A failed query shows no entries of its range, so the title stays.
    log.answer("[]", 64);
    typeAndFetch(v->endTimeTextbox, "11:00:00");
    ASSERT_TRUE(waitForQuery(v));
    EXPECT_EQ(w->windowTitle(),
              QString::fromUtf8("Log Window \u2014 2026-12-07 10:00:00 to 10:05:00"));
}

TEST_F(LogViewTest, ItemsDroppedAnywhereOnTheWindowAreHandedOn) {
    QSignalSpy dropped(w.get(), &LogWindowController::itemsDropped);
    const QUrl remote("https://example.com/B.pkg");
    // The widget under the pointer hands them up to the first that takes drops.
    for (QWidget* target :
         {v->outputTextbox->viewport(), static_cast<QWidget*>(v->startDateTextbox)}) {
        const QPoint at = target->rect().center();
        EXPECT_FALSE(testing::drop(target, at, {remote}));
        EXPECT_TRUE(testing::drop(target, at,
                                  {QUrl::fromLocalFile(dir.filePath("A.app")), remote,
                                   QUrl::fromLocalFile(dir.filePath("C.pkg"))}));
    }
    ASSERT_EQ(dropped.size(), 2);
    EXPECT_EQ(dropped[0][0].toStringList(),
              (QStringList{dir.filePath("A.app"), dir.filePath("C.pkg")}));
    EXPECT_EQ(dropped[1][0], dropped[0][0]);
    EXPECT_EQ(v->startDateTextbox->text().size(), 10);  // no path typed into the box
}

/// The dialog that Save Log… opens, by its key.
QFileDialog* openSave(LogWindowController* window) {
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window)) return nullptr;
    QSignalSpy opened(window->viewController(), &LogViewController::saveDialogOpened);
    QTest::keySequence(window, QKeySequence::Save);
    return opened.size() == 1 ? qobject_cast<QFileDialog*>(opened[0][0].value<QWidget*>())
                              : nullptr;
}

TEST_F(LogViewTest, FailedSaveLeavesTheOldFileAndSaysWhy) {
    ASSERT_TRUE(fetch(v));
    const QString target = dir.filePath("old.rtf");
    ASSERT_TRUE(testing::writeFile(target, "old log"));
    {
        const varko::testing::FileSizeLimit limit;  // every write past 16 bytes fails
        QSignalSpy saved(v, &LogViewController::logSaved);
        QFileDialog* dialog = openSave(w.get());
        ASSERT_NE(dialog, nullptr);
        emit dialog->fileSelected(target);
        // A write that fails at once may report before the wait begins.
        ASSERT_TRUE(!saved.isEmpty() || saved.wait(10000));
    }

    EXPECT_EQ(testing::readFile(target), "old log");
    const unifiedlog::LogDisplay& shown = v->outputLines->display();
    EXPECT_EQ(shown.lineCount(), 4);  // the entries, then the reason
    EXPECT_FALSE(shown.line(3)[0].text.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList({"old.rtf*"}, QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(LogViewTest, ScreenReadersSeeEachLineAsAListItem) {
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

TEST_F(LogViewTest, SaveLogOffersTheTimeRangeAsNameInTheDocumentsFolder) {
    const struct {
        QStringList range;
        QString name;
    } cases[] = {
        {{"2026-12-07", "10:00:00", "2026-12-07", "10:05:00"},
         "Varko Log 2026-12-07 10.00.00 to 10.05.00.rtf"},
        {{"2026-12-07", "23:59:00", "2026-12-08", "00:01:00"},
         "Varko Log 2026-12-07 23.59.00 to 2026-12-08 00.01.00.rtf"},
        // Whatever was typed into the boxes makes no folder and no hidden file.
        {{"../x/y", "1:2", "", ""}, "Varko Log ..-x-y 1.2.rtf"},
        {{"", "", "", ""}, "Varko Log.rtf"},
    };
    ASSERT_TRUE(fetch(v));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        QLineEdit* boxes[] = {v->startDateTextbox, v->startTimeTextbox, v->endDateTextbox,
                              v->endTimeTextbox};
        for (int i = 0; i < 4; ++i) boxes[i]->setText(c.range[i]);
        QFileDialog* dialog = openSave(w.get());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->selectedFiles(), QStringList{QDir(documentsFolder()).filePath(c.name)});
        EXPECT_EQ(dialog->defaultSuffix(), "rtf");
        // A sheet over its window, yet not its window's child.
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog->parent(), nullptr);
        ASSERT_NE(dialog->windowHandle(), nullptr);
        EXPECT_EQ(dialog->windowHandle()->transientParent(), w->windowHandle());
        dialog->close();
    }
}

TEST_F(LogViewTest, ClosingTheWindowLetsItsSaveFinishAsRtf) {
    ASSERT_TRUE(fetch(v));
    QPointer<QFileDialog> dialog = openSave(w.get());
    ASSERT_TRUE(dialog);
    w.reset();  // its pool goes with it; the conversion is the save's own
    ASSERT_TRUE(dialog);
    const QString target = dir.filePath("log.rtf");
    testing::chooseInSaveDialog(dialog, target);
    ASSERT_TRUE(testing::eventually([&] { return QFileInfo(target).size() > 0; }));
    const QByteArray rtf = testing::readFile(target);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
    EXPECT_TRUE(rtf.contains("TCC         tcc\\par"));
    EXPECT_TRUE(rtf.contains("kernel\\par"));
    EXPECT_TRUE(rtf.contains("\\cf3"));
}

TEST_F(LogViewTest, LinesAreSelectedWholeTheEditMenuCopiesThemAndActualSizeResetsTheSize) {
    ASSERT_TRUE(fetch(v));
    LogOutputView* view = v->outputTextbox;
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Home);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view->selection(), (std::pair<qsizetype, qsizetype>{0, 1}));
    EXPECT_EQ(view->selectedText(), v->outputLines->display().text(0, 1));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->selectedText(), v->outputLines->display().text());
    view->selectLine(0);
    QAction* selectAll = testing::menuItem(w.get(), "Select &All");
    QAction* copy = testing::menuItem(w.get(), "&Copy");
    ASSERT_TRUE(selectAll && copy);
    selectAll->trigger();
    EXPECT_EQ(view->selectedText(), v->outputLines->display().text());
    copy->trigger();
    const QString copied = QApplication::clipboard()->text().trimmed();
    EXPECT_EQ(copied.count(u'\n'), 2) << copied.toStdString();
    EXPECT_TRUE(copied.endsWith("kernel")) << copied.toStdString();

    QTest::keySequence(w.get(), QKeySequence::ZoomIn);
    QTest::keySequence(w.get(), QKeySequence::ZoomIn);
    EXPECT_EQ(v->theFontSize, 14);
    QTest::keyClick(w.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(v->theFontSize, 12);
    EXPECT_EQ(QSettings().value("fontSizeLog").toDouble(), 12);
    EXPECT_EQ(v->outputLines->display().entryFontSize(), 12);
}

TEST_F(LogViewTest, FindFromTheKeyboardSelectsTheMatchingLine) {
    ASSERT_TRUE(fetch(v));
    QTest::keySequence(w.get(), QKeySequence::Find);
    FindBar* bar = v->findBar;
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClicks(bar->field(), "KERNEL");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    const auto [first, last] = v->outputTextbox->selection();
    ASSERT_EQ(first, last);
    EXPECT_EQ(first, 2);
    EXPECT_TRUE(bar->resultText().isEmpty());

    bar->field()->clear();
    QTest::keyClicks(bar->field(), "nowhere in the log");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_FALSE(bar->resultText().isEmpty());
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
}

}  // namespace
}  // namespace varko
