#include <gtest/gtest.h>

#include <QFileDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "app/alertrecorder.h"
#include "app/appdelegate.h"
#include "app/helpwindowcontroller.h"
#include "app/updatecheck.h"
#include "logs/ui/logviewcontroller.h"
#include "logs/ui/logwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/applicationswindow.h"
#include "support/faketool.h"
#include "support/shell.h"

namespace varko {
namespace {

using testing::makeBundle;
using testing::xmlPlist;

class WindowMenus : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        QSettings().setValue("fontSize", 12.0);
        QSettings().setValue("fontSizeLog", 12.0);
        delegate.osVersion = 17;
    }
    void TearDown() override {
        for (DocumentWindowController* w : delegate.documents().windows()) delete w;
    }
    /// Shows the window and makes it the one that keys go to.
    static bool activate(QMainWindow* window) {
        window->show();
        return testing::activate(window);
    }
    DocumentWindowController* openApp(const QString& name) {
        return delegate.documents().openDocument(makeBundle(dir, name, xmlPlist("")));
    }
    QTemporaryDir dir;
    AppDelegate delegate{host::ToolSet::withPrograms({})};
};

// Every kind of window has the same menus; only what it can't act on is disabled.
TEST_F(WindowMenus, EachKindOfWindowDisablesWhatItCantActOn) {
    DocumentWindowController* document = openApp("M.app");
    ASSERT_NE(document, nullptr);
    delegate.openLogwindow();
    delegate.openHelp();
    QTemporaryDir empty;
    ApplicationsWindow* applications = delegate.openApplicationsWindow(empty.path());
    ASSERT_EQ(delegate.myLogWindow.size(), 1);
    ASSERT_EQ(delegate.myHelpWindow.size(), 1);
    const struct {
        QMainWindow* window;
        QStringList on, off;
    } cases[] = {
        {document, {"&Save Report…", "Compare &With…", "&Copy", "&Bigger", "Find &Next"}, {}},
        {delegate.myLogWindow.first(),
         {"&Save Report…", "&Bigger"},
         {"Compare &With…", "Export &Privacy Profile…"}},
        {delegate.myHelpWindow.first(),
         {"&Open…", "&Find…"},
         {"&Save Report…", "Compare &With…", "Export &Privacy Profile…", "&Copy", "Select &All",
          "&Bigger", "&Actual Size"}},
        {applications,
         {"Export as &CSV…", "Export as &JSON Lines…", "&Copy"},
         {"&Save Report…", "Compare &With…", "Export &Privacy Profile…", "Find &Next",
          "Find Pre&vious"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window->metaObject()->className());
        for (const QString& title : c.on + c.off) {
            QAction* item = testing::menuItem(c.window, title);
            ASSERT_NE(item, nullptr) << title.toStdString();
            EXPECT_EQ(item->isEnabled(), c.on.contains(title)) << title.toStdString();
        }
    }
}

TEST_F(WindowMenus, ScanFolderAsksForAFolderAndItsRowsOpenAsDocuments) {
    DocumentWindowController* document = openApp("D.app");
    ASSERT_TRUE(activate(document));
    QAction* scan = testing::menuItem(document, "Scan &Folder…");
    ASSERT_NE(scan, nullptr);
    scan->trigger();
    QFileDialog* panel = testing::shown<QFileDialog>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
    const QString proposed =
        QFileInfo("/Applications").isDir() ? "/Applications" : QDir::homePath();
    EXPECT_EQ(panel->directory().absolutePath(), proposed);

    QTemporaryDir empty;
    panel->selectFile(empty.path());
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_EQ(delegate.applicationsWindows.size(), 1);
    ApplicationsWindow* window = delegate.applicationsWindows.first();
    EXPECT_TRUE(window->isVisible());
    QSignalSpy finished(window, &ApplicationsWindow::scanFinished);
    ASSERT_TRUE(window->isScanning() ? finished.wait(10000) : true);

    // A row of the table opens its item like the Open dialog does.
    const QString app = makeBundle(dir, "Listed.app", xmlPlist(""));
    scan::ItemSummary row;
    row.path = app;
    row.name = "Listed.app";
    window->model()->appendItems({row});
    ASSERT_TRUE(activate(window));
    window->table()->setFocus();
    window->table()->setCurrentIndex(window->filter()->index(0, 0));
    QTest::keyClick(window->table(), Qt::Key_Return);
    QStringList opened;
    for (DocumentWindowController* w : delegate.documents().windows())
        opened << w->windowFilePath();
    EXPECT_TRUE(opened.contains(app)) << opened.join(", ").toStdString();
}

TEST_F(WindowMenus, AWindowsShortcutsActOnThatWindowOnly) {
    DocumentWindowController* first = openApp("First.app");
    DocumentWindowController* second = openApp("Second.app");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(activate(second));
    QTest::keySequence(second, QKeySequence(QKeySequence::ZoomIn));
    QTest::keyClick(second, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(second->viewController()->theFontSize, 14.0);
    EXPECT_EQ(first->viewController()->theFontSize, 12.0);
    QTest::keySequence(second, QKeySequence(QKeySequence::ZoomOut));
    EXPECT_EQ(second->viewController()->theFontSize, 13.0);

    QSignalSpy saving(second->viewController(), &ViewController::saveDialogOpened);
    QTest::keySequence(second, QKeySequence(QKeySequence::Save));
    ASSERT_EQ(saving.size(), 1);
    delete saving.first().first().value<QWidget*>();

    QPointer<DocumentWindowController> closing = second;
    ASSERT_TRUE(activate(second));
    QTest::keySequence(second, QKeySequence(QKeySequence::Close));
    EXPECT_FALSE(second->isVisible());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
    EXPECT_TRUE(first->isVisible());
}

TEST_F(WindowMenus, TheLogWindowsShortcutsActOnItsView) {
    DocumentWindowController* document = openApp("D.app");
    ASSERT_TRUE(activate(document));
    // The application's items work from any window's menu bar.
    QTest::keyClick(document, Qt::Key_L, Qt::ControlModifier);
    ASSERT_EQ(delegate.myLogWindow.size(), 1);
    LogWindowController* log = delegate.myLogWindow.first();
    ASSERT_TRUE(activate(log));
    QTest::keySequence(log, QKeySequence(QKeySequence::ZoomIn));
    EXPECT_EQ(log->viewController()->theFontSize, 13.0);
    EXPECT_EQ(document->viewController()->theFontSize, 12.0);
    QTest::keyClick(log, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(delegate.myLogWindow.isEmpty());
}

#ifndef Q_OS_MACOS
TEST_F(WindowMenus, HelpItemsLeadSomewhereOrAreHiddenAndAFailureToOpenIsTold) {
    DocumentWindowController* document = openApp("H.app");
    ASSERT_TRUE(activate(document));
    QAction* updates = testing::menuItem(document, "Updates for Older macOS");
    QAction* readme = testing::menuItem(document, "Varko README");
    if (readme == nullptr) GTEST_SKIP() << "this build names a support page";
    ASSERT_NE(updates, nullptr);
    EXPECT_FALSE(updates->isVisible());
    EXPECT_TRUE(readme->isVisible());
    QList<QUrl> opened;
    bool canOpen = true;
    delegate.updateChecker().openUrl = [&](const QUrl& url) {
        opened << url;
        return canOpen;
    };
    readme->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].toLocalFile().endsWith("/share/varko/README.md"));
    // Without a browser or viewer, the user is told rather than left waiting.
    const testing::AlertRecorder recorder;
    canOpen = false;
    readme->trigger();
    ASSERT_EQ(recorder.alerts.size(), 1u);
    const QString told = recorder.texts()[0];
    EXPECT_TRUE(told.startsWith("Varko couldn't open " + opened[1].toLocalFile()))
        << told.toStdString();
}
#endif

}  // namespace
}  // namespace varko
