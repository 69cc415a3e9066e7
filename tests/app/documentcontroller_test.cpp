#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMimeData>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include "app/appdelegate.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/faketool.h"
#include "support/savedialogs.h"
#include "support/shell.h"
#include "ui/droppedpaths.h"

using namespace varko;
using varko::testing::eventually;
using varko::testing::FakeTool;
using varko::testing::makeBundle;
using varko::testing::pidIn;
using varko::testing::processRuns;
using varko::testing::xmlPlist;

namespace {

/// Items are read off the GUI thread; the window gets its document when complete.
bool waitForDocument(DocumentWindowController* w) {
    if (!w->isReading()) return true;
    QSignalSpy read(w, &DocumentWindowController::documentRead);
    return read.wait(20000);
}

/// A code-signing tool that never answers, and so keeps the record from completing; it
/// writes its process id to `pidFile`.
void neverAnswers(FakeTool& tool, const QString& pidFile) {
    tool.answer("", 0, {}, QStringLiteral("echo $$ > '%1'; sleep 600").arg(pidFile));
}

class DocumentControllerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeTool tool{dir, "tool"};
    std::unique_ptr<DocumentController> controller;

    void SetUp() override {
        QSettings().clear();
        tool.answer("");
        controller =
            std::make_unique<DocumentController>(Storyboard(varko::testing::signatureTools(tool)));
    }
    void TearDown() override {
        for (DocumentWindowController* w : controller->windows()) delete w;
        varko::testing::deleteLeftoverDialogs();
    }
};

TEST_F(DocumentControllerTest, OpensEachItemOnceInAWindowTitledWithItsName) {
    const QString app = makeBundle(dir, "Some App.app",
                                   xmlPlist("<key>CFBundleIdentifier</key><string>s</string>"));
    DocumentWindowController* first = controller->openDocument(app);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "Some App.app");
    EXPECT_TRUE(first->isVisible());
    ASSERT_TRUE(waitForDocument(first));
    EXPECT_TRUE(first->document()->isApp);
    EXPECT_EQ(first->document()->theInfo->bundleID, "s");

    EXPECT_EQ(controller->openDocument(app + "/"), first);
    EXPECT_EQ(controller->openDocument(dir.filePath("./Some App.app")), first);
    EXPECT_EQ(controller->windows().size(), 1);
    EXPECT_EQ(controller->recentDocuments(), QStringList{documentKey(app)});

    delete first;  // closing forgets the window; the next open makes a new one
    EXPECT_TRUE(controller->windows().isEmpty());
    DocumentWindowController* again = controller->openDocument(app);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(controller->windows().size(), 1);
}

TEST_F(DocumentControllerTest, PackagesOpenAndOtherItemsAreRefusedWithAMessageAndNoWindow) {
    const QString notes = dir.filePath("notes.txt"), pkg = dir.filePath("Tool.PKG");
    ASSERT_TRUE(varko::testing::writeFile(notes) && varko::testing::writeFile(pkg));
    QSignalSpy refused(controller.get(), &DocumentController::openRefused);
    EXPECT_EQ(controller->openDocument(notes), nullptr);
    EXPECT_EQ(controller->openDocument(dir.filePath("missing.pkg")), nullptr);
    ASSERT_EQ(refused.size(), 2);
    EXPECT_TRUE(refused[0][0].toString().contains("notes.txt"));
    EXPECT_TRUE(refused[1][0].toString().contains("does not exist"));
    EXPECT_TRUE(controller->windows().isEmpty());
    EXPECT_TRUE(controller->recentDocuments().isEmpty());

    DocumentWindowController* w = controller->openDocument(pkg);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(waitForDocument(w));
    EXPECT_FALSE(w->document()->isApp);
    EXPECT_TRUE(w->document()->isPackage);
}

TEST_F(DocumentControllerTest, ItemsDroppedOnAWindowOpen) {
    const QString a = makeBundle(dir, "A.app", xmlPlist(""));
    const QString b = makeBundle(dir, "B.app", xmlPlist(""));
    DocumentWindowController* w = controller->openDocument(a);
    ASSERT_NE(w, nullptr);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(b), QUrl("https://example.com/x.app")});
    EXPECT_EQ(droppedPaths(&mime), QStringList{b});
    emit w->itemsDropped(droppedPaths(&mime));
    EXPECT_EQ(controller->windows().size(), 2);
    EXPECT_EQ(controller->recentDocuments().first(), documentKey(b));
}

TEST_F(DocumentControllerTest, RecentListIsBoundedAndNewestFirst) {
    for (int i = 0; i < DocumentController::maxRecentDocuments + 3; ++i)
        controller->openDocument(makeBundle(dir, QString("R%1.app").arg(i), xmlPlist("")));
    const QStringList recent = controller->recentDocuments();
    EXPECT_EQ(recent.size(), DocumentController::maxRecentDocuments);
    EXPECT_TRUE(recent.first().endsWith("R12.app"));
    controller->clearRecentDocuments();
    EXPECT_TRUE(controller->recentDocuments().isEmpty());
}

TEST_F(DocumentControllerTest, TheWindowAnswersWhileItsItemIsReadAndClosingItEndsTheTool) {
    const QString pidFile = dir.filePath("codesign.pid");
    neverAnswers(tool, pidFile);
    const QString app =
        makeBundle(dir, "Slow.app", xmlPlist("<key>CFBundleIdentifier</key><string>s</string>"));

    QElapsedTimer opening;
    opening.start();
    DocumentWindowController* w = controller->openDocument(app);
    ASSERT_NE(w, nullptr);
    EXPECT_LT(opening.elapsed(), 5000);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isReading());
    EXPECT_FALSE(w->viewController()->busySpinner->isHidden());

    ASSERT_TRUE(eventually([&] { return pidIn(pidFile) > 0; }));
    const pid_t pid = pidIn(pidFile);
    // The tool never ends by itself, so ticks that come at all came while it ran.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    EXPECT_TRUE(eventually([&] { return ticks > 5; })) << "the GUI thread stopped handling events";
    EXPECT_TRUE(w->isReading());
    EXPECT_TRUE(processRuns(pid));

    w->close();
    EXPECT_TRUE(eventually([pid] { return !processRuns(pid); }));
}

TEST_F(DocumentControllerTest, QuitEndsARunningTool) {
    const QString pidFile = dir.filePath("quit.pid");
    neverAnswers(tool, pidFile);
    AppDelegate delegate(host::ToolSet::withPrograms(
        {{host::codesignPath, tool.program()}, {host::spctlPath, tool.program()}}));
    DocumentWindowController* w =
        delegate.documents().openDocument(makeBundle(dir, "Q.app", xmlPlist("")));
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(eventually([&] { return pidIn(pidFile) > 0; }));
    const pid_t pid = pidIn(pidFile);
    QAction* quit = varko::testing::menuItem(w, "&Quit");
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    EXPECT_TRUE(eventually([pid] { return !processRuns(pid); }));
}

}  // namespace
