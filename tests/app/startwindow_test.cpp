#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QToolButton>

#include "app/appdelegate.h"
#include "app/erroralert.h"
#include "app/opendialog.h"
#include "app/quietdelegate.h"
#include "app/startwindow.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "support/faketool.h"
#include "support/shell.h"

namespace varko {
namespace {

using testing::makeBundle;
using testing::xmlPlist;

class StartWindowTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    testing::FakeTool tool{dir, "tool"};
    AlertRunner savedRunner = alertRunner();
    std::unique_ptr<AppDelegate> delegate;
    QString app, other;

    void SetUp() override {
#ifdef Q_OS_MACOS
        GTEST_SKIP() << "a Mac app keeps its menu bar without windows and needs no start window";
#endif
        delegate = testing::quietDelegate(tool);
        app = makeBundle(dir, "Some.app", xmlPlist(""));
        other = makeBundle(dir, "Other.app", xmlPlist(""));
    }
    void TearDown() override {
        alertRunner() = savedRunner;
        if (!delegate) return;  // skipped
        for (DocumentWindowController* w : delegate->documents().windows()) delete w;
        delegate.reset();
        testing::deleteLeftoverDialogs();
    }
    /// The start window after a start with `items`, shown and active.
    StartWindow* launch(const QStringList& items = {}) {
        delegate->applicationDidFinishLaunching(items);
        StartWindow* start = delegate->startWindow();
        if (start) {
            EXPECT_TRUE(varko::testing::activate(start));
        }
        return start;
    }
    /// Whether the start window has gone (it deletes itself once closed).
    [[nodiscard]] bool startWindowGone() const {
        return QTest::qWaitFor([this] { return delegate->startWindow() == nullptr; }, 5000);
    }
};

TEST_F(StartWindowTest, ABareStartShowsItWithTheApplicationsMenusAndQuitEndsIt) {
    StartWindow* start = launch();
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisible());
    // The application's menus, so that it can be quit or told to open something.
    EXPECT_NE(testing::menuItem(start, "&Open…"), nullptr);
    EXPECT_NE(testing::menuItem(start, "Open Log Browser"), nullptr);
    EXPECT_FALSE(start->recentList->isVisible());  // nothing opened yet

    // Quit works from here too. The offscreen platform binds no key to Quit (X11 binds
    // Ctrl+Q); there the menu item stands in for it.
    const QKeySequence quit(QKeySequence::Quit);
    if (quit.isEmpty()) {
        testing::menuItem(start, "&Quit")->trigger();
    } else {
        QTest::keySequence(start, quit);
    }
    EXPECT_TRUE(startWindowGone());
}

TEST_F(StartWindowTest, ItsLogBrowserButtonIsTheWindowMenusItem) {
    StartWindow* start = launch();
    ASSERT_NE(start, nullptr);
    QAction* item = delegate->windowMenuItem("Open Log Browser");
    EXPECT_EQ(start->logBrowserButton->defaultAction(), item);

    // Whatever the launch decided about the log browser, the button shows it alike.
    item->setVisible(true);
    item->setEnabled(false);
    item->setToolTip("No journal can be read.");
    EXPECT_FALSE(start->logBrowserButton->isEnabled());
    EXPECT_EQ(start->logBrowserButton->toolTip(), "No journal can be read.");
    item->setEnabled(true);
    QTest::mouseClick(start->logBrowserButton, Qt::LeftButton);
    ASSERT_EQ(delegate->myLogWindow.size(), 1);
    EXPECT_TRUE(delegate->myLogWindow.first()->isVisible());
    EXPECT_TRUE(start->isVisible());  // a log browser is no document: the start window stays
}

TEST_F(StartWindowTest, ARecentItemOpensWithAClickOrReturnAndTheStartWindowCloses) {
    delegate->documents().openDocument(other);
    delegate->documents().openDocument(app);
    for (DocumentWindowController* w : delegate->documents().windows()) delete w;
    StartWindow* start = launch();
    ASSERT_NE(start, nullptr);
    QListWidget* list = start->recentList;
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "Some.app — " + documentKey(dir.path()));
    EXPECT_EQ(list->item(1)->text(), "Other.app — " + documentKey(dir.path()));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    ASSERT_EQ(delegate->documents().windows().size(), 1);
    EXPECT_EQ(delegate->documents().windows().first()->windowTitle(), "Other.app");
    EXPECT_TRUE(startWindowGone());

    // A later bare start brings it back; Return opens the item under the cursor.
    delegate->openHandedOverItems({});
    start = delegate->startWindow();
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisible());
    // Keys go where the focus is: the list, newest first (Other, then Some).
    ASSERT_TRUE(varko::testing::activate(start));
    ASSERT_EQ(QApplication::focusWidget(), start->recentList);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(start->recentList->currentRow(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(delegate->documents().windows().size(), 2);
    EXPECT_TRUE(startWindowGone());
}

TEST_F(StartWindowTest, OpenAsksForAnItemAndOpensIt) {
    StartWindow* start = launch();
    ASSERT_NE(start, nullptr);
    // With nothing recent, the focus is on Open, and Return presses it as Space would.
    ASSERT_EQ(QApplication::focusWidget(), start->openButton);
    QTest::keyClick(start->openButton, Qt::Key_Return);
    OpenDialog* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (dialog = start->findChild<OpenDialog*>()); }));
    EXPECT_TRUE(dialog->isVisible());
    dialog->selectFile(app);
    dialog->accept();
    ASSERT_EQ(delegate->documents().windows().size(), 1);
    EXPECT_TRUE(startWindowGone());
}

TEST_F(StartWindowTest, ItStaysWhenNoNamedItemOpensAndItemsDroppedOnItOpen) {
    StartWindow* start = launch({dir.filePath("missing.app")});
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisible());
    EXPECT_TRUE(delegate->documents().windows().isEmpty());
    const auto drop = [start](const QList<QUrl>& urls) {
        return testing::drop(start, start->dropZone->geometry().center(), urls);
    };
    EXPECT_FALSE(drop({QUrl("https://example.com/Some.app")}));
    EXPECT_TRUE(delegate->documents().windows().isEmpty());
    EXPECT_TRUE(drop({QUrl::fromLocalFile(app), QUrl::fromLocalFile(other)}));
    EXPECT_EQ(delegate->documents().windows().size(), 2);
    EXPECT_TRUE(startWindowGone());
}

TEST_F(StartWindowTest, HandedOverItemsWaitForTheLaunchAndThenOpen) {
    delegate->openHandedOverItems({app});
    EXPECT_TRUE(delegate->documents().windows().isEmpty());
    launch({other});
    EXPECT_EQ(delegate->startWindow(), nullptr);
    ASSERT_EQ(delegate->documents().windows().size(), 2);
    QApplication::processEvents();
    delegate->openHandedOverItems({app});  // already open: brought forward, not opened again
    EXPECT_EQ(delegate->documents().windows().size(), 2);
}

}  // namespace
}  // namespace varko
