#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/appdelegate.h"
#include "app/documenttitles.h"
#include "app/helpviewcontroller.h"
#include "app/helpwindowcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/faketool.h"
#include "support/shell.h"
#include "ui/findbar.h"
#include "ui/windowplacement.h"

namespace varko {
namespace {

using testing::makeBundle;
using testing::xmlPlist;

TEST(WindowPlacement, DefaultWindowsFitALaptopScreenAndCascadeWithinIt) {
    // 1366×768 with a panel along the top.
    const QRect available(0, 27, 1366, 741);
    for (const QSize preferred : {QSize(760, 680), QSize(720, 680), QSize(1000, 620)}) {
        std::optional<QPoint> previous;
        for (int i = 0; i < 60; ++i) {
            const QRect frame = placeWindow(available, preferred, previous);
            ASSERT_TRUE(available.contains(frame)) << i;
            // The contents keep the size asked for: it fits.
            EXPECT_EQ(frame.marginsRemoved(frameAllowance).size(), preferred);
            if (previous && frame.topLeft() != available.topLeft()) {
                EXPECT_EQ(frame.topLeft(), *previous + QPoint(cascadeStep, cascadeStep));
            }
            previous = frame.topLeft();
        }
    }
    // Too large for the screen: cut to it.
    const QRect big = placeWindow(available, {760, 860}, std::nullopt);
    EXPECT_EQ(big.height(), available.height());
    EXPECT_TRUE(available.contains(big));
    // A window left on another screen is not cascaded from.
    EXPECT_TRUE(available.contains(placeWindow(available, {700, 600}, QPoint(3000, 10))));
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        delegate.osVersion = 17;
    }
    void TearDown() override {
        for (DocumentWindowController* w : delegate.documents().windows()) delete w;
    }
    QTemporaryDir dir;
    AppDelegate delegate{host::ToolSet::withPrograms({})};
};

TEST_F(WindowsTest, EveryKindOfWindowOpensWithinTheScreen) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QList<QWidget*> windows;
    for (int i = 0; i < 12; ++i)
        windows << delegate.documents().openDocument(
            makeBundle(dir, QStringLiteral("W%1.app").arg(i), xmlPlist("")));
    delegate.openLogwindow();
    delegate.openHelp();
    windows << delegate.myLogWindow.last() << delegate.myHelpWindow.last();
    for (QWidget* w : windows) {
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(available.contains(w->frameGeometry()))
            << w->windowTitle().toStdString() << " at " << w->frameGeometry().x() << ","
            << w->frameGeometry().y() << " " << w->frameGeometry().width() << "×"
            << w->frameGeometry().height();
    }
    // Not all in one place.
    EXPECT_NE(windows[0]->pos(), windows[1]->pos());
}

TEST(DocumentTitles, OnlySharedNamesGetTheShortestEndOfTheirFolder) {
    EXPECT_EQ(distinctTitles({"A.app", "B.app"}, {"/x/A.app", "/x/B.app"}), (QStringList{"", ""}));
    EXPECT_EQ(distinctTitles({"E.app", "E.app", "F.app"},
                             {"/path/one/E.app", "/path/two/E.app", "/path/one/F.app"}),
              (QStringList{"E.app — one", "E.app — two", ""}));
    // The same last folder: go up until they differ; a folder that is all there is
    // shows whole.
    EXPECT_EQ(distinctTitles({"E.app", "E.app", "E.app"}, {"/a/x/E.app", "/b/x/E.app", "/x/E.app"}),
              (QStringList{"E.app — /a/x", "E.app — /b/x", "E.app — /x"}));
    // A folder's name is a stranger's too.
    EXPECT_EQ(distinctTitles({"E.app", "E.app"}, {"/t/line\nbreak/E.app", "/t/other/E.app"}),
              (QStringList{"E.app — line\u240Abreak", "E.app — other"}));
}

TEST_F(WindowsTest, TwoItemsOfOneNameShowTheirFolders) {
    QDir(dir.path()).mkpath("one");
    QDir(dir.path()).mkpath("two");
    DocumentController& documents = delegate.documents();
    DocumentWindowController* first =
        documents.openDocument(makeBundle(dir, "one/Example.app", xmlPlist("")));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "Example.app");
    DocumentWindowController* second =
        documents.openDocument(makeBundle(dir, "two/Example.app", xmlPlist("")));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->windowTitle(), "Example.app — one");
    EXPECT_EQ(second->windowTitle(), "Example.app — two");
    // Once read, the window keeps the title that tells it apart.
    QSignalSpy read(second, &DocumentWindowController::documentRead);
    ASSERT_TRUE(!second->isReading() || read.wait(20000));
    EXPECT_EQ(second->windowTitle(), "Example.app — two");
    EXPECT_EQ(second->viewController()->proposedFileName(), "Example.app-Varko.text");
    delete first;
    EXPECT_EQ(second->windowTitle(), "Example.app");
}

TEST_F(WindowsTest, ItemsDroppedOnTheHelpOpenAndFindInItMarksEachPlaceInTurn) {
    delegate.openHelp();
    HelpWindowController* help = delegate.myHelpWindow.last();
    ASSERT_NE(help, nullptr);
    const QString app = makeBundle(dir, "Dropped.app", xmlPlist(""));
    EXPECT_TRUE(testing::drop(help, help->rect().center(), {QUrl::fromLocalFile(app)}));
    ASSERT_EQ(delegate.documents().windows().size(), 1);
    EXPECT_EQ(delegate.documents().windows().first()->documentTitle(), "Dropped.app");

    ASSERT_TRUE(varko::testing::activate(help));
    HelpViewController* view = help->viewController();
    ASSERT_TRUE(view->thePDFDocument) << "the help PDF is built beside the program";
    QTest::keySequence(help, QKeySequence::Find);
    FindBar* bar = view->findBar;
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClicks(bar->field(), "varko");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(bar->resultText(), "");
    const auto [page, rect] = view->helpPDFView->markedMatch();
    ASSERT_GE(page, 0);
    const HelpDocument& shown = *view->thePDFDocument;
    EXPECT_TRUE(QRectF(QPointF(), shown.pageSize(page)).contains(rect));
    EXPECT_EQ(shown.text(page, rect.adjusted(-0.5, -0.5, 0.5, 0.5)).trimmed().toLower(), "varko");
    QTest::keyClick(help, Qt::Key_G, Qt::ControlModifier);
    EXPECT_NE(view->helpPDFView->markedMatch(), std::make_pair(page, rect));
    QTest::keyClick(help, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->helpPDFView->markedMatch(), std::make_pair(page, rect));

    bar->field()->selectAll();
    QTest::keyClicks(bar->field(), "qqzzqq");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(bar->resultText(), "Not found");
    EXPECT_EQ(view->helpPDFView->markedMatch().first, -1);
}

}  // namespace
}  // namespace varko
