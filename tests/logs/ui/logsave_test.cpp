#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "support/faketool.h"
#include "support/savedialogs.h"
#include "ui/findbar.h"
#include "ui/savedialog.h"

namespace varko {
namespace {

using testing::FakeTool;

const QByteArray twoEntries = R"([
 {"timestamp":"2021-04-07 18:22:06.123456+0100","subsystem":"com.apple.TCC","eventMessage":"tcc"},
 {"timestamp":"2021-04-07 18:22:08.123456+0100","processImagePath":"/kernel","eventMessage":"kernel"}])";

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().remove("fontSizeLog");
        log.answer(twoEntries);
        window = std::make_unique<LogWindowController>(
            host::ToolSet::withPrograms({{QLatin1String(host::logPath), log.program()}}));
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
        view = window->viewController();
        QSignalSpy finished(view, &LogViewController::logQueryFinished);
        QTest::mouseClick(view->getLogButton, Qt::LeftButton);
        fetched = finished.wait(10000);
    }
    /// The dialog that Save Log… opens, by its key.
    QFileDialog* openSave() {
        QSignalSpy opened(view, &LogViewController::saveDialogOpened);
        QTest::keySequence(window.get(), QKeySequence::Save);
        return opened.size() == 1 ? qobject_cast<QFileDialog*>(opened[0][0].value<QWidget*>())
                                  : nullptr;
    }
    /// The item of the window's menus titled `title`.
    QAction* menuItem(const QString& title) const {
        for (QAction* menu : window->menuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                if (item->text() == title) return item;
        return nullptr;
    }
    void setRange(const QString& startDate, const QString& startTime, const QString& endDate,
                  const QString& endTime) const {
        view->startDateTextbox->setText(startDate);
        view->startTimeTextbox->setText(startTime);
        view->endDateTextbox->setText(endDate);
        view->endTimeTextbox->setText(endTime);
    }

    QTemporaryDir dir;
    FakeTool log{dir, "log"};
    std::unique_ptr<LogWindowController> window;
    LogViewController* view = nullptr;
    bool fetched = false;
};

TEST_F(LogWindowTest, SaveLogOffersTheTimeRangeAsNameInTheDocumentsFolder) {
    ASSERT_TRUE(fetched);
    struct Case {
        QStringList range;
        QString name;
    };
    const Case cases[] = {
        {{"2026-12-07", "10:00:00", "2026-12-07", "10:05:00"},
         "Varko Log 2026-12-07 10.00.00 to 10.05.00.rtf"},
        {{"2026-12-07", "23:59:00", "2026-12-08", "00:01:00"},
         "Varko Log 2026-12-07 23.59.00 to 2026-12-08 00.01.00.rtf"},
        // Whatever was typed into the boxes makes no folder and no hidden file.
        {{"../x/y", "1:2", "", ""}, "Varko Log ..-x-y 1.2.rtf"},
        {{"", "", "", ""}, "Varko Log.rtf"},
    };
    for (const Case& c : cases) {
        setRange(c.range[0], c.range[1], c.range[2], c.range[3]);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QFileDialog* dialog = openSave();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->selectedFiles(), QStringList{QDir(documentsFolder()).filePath(c.name)});
        EXPECT_EQ(dialog->defaultSuffix(), "rtf");
        // A sheet over its window, yet not its window's child.
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog->parent(), nullptr);
        ASSERT_NE(dialog->windowHandle(), nullptr);
        EXPECT_EQ(dialog->windowHandle()->transientParent(), window->windowHandle());
        dialog->close();
    }
}

TEST_F(LogWindowTest, ClosingTheWindowLetsItsSaveFinish) {
    ASSERT_TRUE(fetched);
    QPointer<QFileDialog> dialog = openSave();
    ASSERT_TRUE(dialog);
    window.reset();  // its pool goes with it; the conversion is the save's own
    ASSERT_TRUE(dialog);
    const QString target = dir.filePath("log.rtf");
    testing::chooseInSaveDialog(dialog, target);
    ASSERT_TRUE(testing::eventually([&] { return QFileInfo(target).size() > 0; }));
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray rtf = saved.readAll();
    EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
    EXPECT_TRUE(rtf.contains("kernel\\par"));
}

TEST_F(LogWindowTest, EditMenuCopiesTheLinesAndActualSizeResetsTheSize) {
    ASSERT_TRUE(fetched);
    QAction* selectAll = menuItem("Select &All");
    QAction* copy = menuItem("&Copy");
    ASSERT_TRUE(selectAll && copy);
    selectAll->trigger();
    copy->trigger();
    const QString copied = QApplication::clipboard()->text().trimmed();
    EXPECT_EQ(copied.count(u'\n'), 1) << copied.toStdString();
    EXPECT_TRUE(copied.endsWith("kernel")) << copied.toStdString();

    QTest::keySequence(window.get(), QKeySequence::ZoomIn);
    QTest::keySequence(window.get(), QKeySequence::ZoomIn);
    EXPECT_EQ(view->theFontSize, 14);
    QTest::keyClick(window.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->theFontSize, 12);
    EXPECT_EQ(QSettings().value("fontSizeLog").toDouble(), 12);
    EXPECT_EQ(view->outputLines->display().entryFontSize(), 12);
}

TEST_F(LogWindowTest, FindFromTheKeyboardSelectsTheMatchingLine) {
    ASSERT_TRUE(fetched);
    QTest::keySequence(window.get(), QKeySequence::Find);
    FindBar* bar = view->findBar;
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClicks(bar->field(), "KERNEL");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    const auto [first, last] = view->outputTextbox->selection();
    ASSERT_EQ(first, last);
    EXPECT_EQ(first, 1);
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
