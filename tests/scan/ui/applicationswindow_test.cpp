#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/applicationswindow.h"
#include "summaries.h"
#include "support/savedialogs.h"
#include "support/shell.h"
#include "tools/threadpools.h"

namespace varko {
namespace {

using testing::summary;

class ApplicationsWindowTest : public ::testing::Test {
protected:
    ApplicationsWindowTest() : window(new ApplicationsWindow(host::ToolSet::system())) {
        window->model()->appendItems(
            {summary("Camera Tool.app", "2.1", "ad hoc", "accepted", {{"kTCCServiceCamera", true}}),
             summary("Alpha.app", "1.0"),
             summary("Mail Helper.app", "3.0", "unsigned", "rejected")});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    ~ApplicationsWindowTest() override { delete window.data(); }

    QStringList names() const {
        QStringList out;
        for (int r = 0; r < window->filter()->rowCount(); ++r)
            out << window->filter()->index(r, ApplicationsModel::name).data().toString();
        return out;
    }
    int rowOf(const QString& name) const { return int(names().indexOf(name)); }

    QPointer<ApplicationsWindow> window;
};

TEST_F(ApplicationsWindowTest, DoubleClickAndReturnOpenTheRowShownAfterSorting) {
    QTableView* view = window->table();
    view->sortByColumn(ApplicationsModel::version, Qt::DescendingOrder);
    ASSERT_EQ(names(), QStringList({"Mail Helper.app", "Camera Tool.app", "Alpha.app"}));
    QSignalSpy opened(window.data(), &ApplicationsWindow::openItem);
    const QRect cell = view->visualRect(window->filter()->index(1, ApplicationsModel::version));
    // A double-click's first press, then the double-click itself, as the system sends them.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0][0].toString(), "/Applications/Camera Tool.app");

    view->setFocus();
    view->setCurrentIndex(window->filter()->index(2, 0));
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1][0].toString(), "/Applications/Alpha.app");
}

TEST_F(ApplicationsWindowTest, TypingAndChoosingFilterTheTable) {
    QTest::keyClicks(window->searchField(), "mail");
    EXPECT_EQ(names(), QStringList({"Mail Helper.app"}));
    window->searchField()->clear();
    EXPECT_EQ(names().size(), 3);

    QComboBox* services = window->serviceChoice();
    EXPECT_EQ(services->itemText(0), "Any service");
    services->setCurrentIndex(services->findText("May use Camera"));
    EXPECT_EQ(names(), QStringList({"Camera Tool.app"}));
    services->setCurrentIndex(0);

    window->verdictChoice()->setCurrentIndex(window->verdictChoice()->findText("Rejected"));
    EXPECT_EQ(names(), QStringList({"Mail Helper.app"}));
    window->verdictChoice()->setCurrentIndex(0);
    window->signerChoice()->setCurrentIndex(window->signerChoice()->findText("Developer ID"));
    EXPECT_EQ(names(), QStringList({"Alpha.app"}));

    // Edit › Copy takes the selected rows that show, with the titles.
    window->table()->setFocus();
    QTest::keySequence(window.data(), QKeySequence::SelectAll);
    QTest::keySequence(window.data(), QKeySequence::Copy);
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[0].startsWith("Name\tIdentifier\tVersion"));
    EXPECT_TRUE(copied[1].startsWith("Alpha.app\tcom.example.Alpha\t1.0\t"));

    // Edit › Find… goes to the search field.
    window->searchField()->clearFocus();
    window->table()->setFocus();
    QTest::keySequence(window.data(), QKeySequence::Find);
    EXPECT_TRUE(window->searchField()->hasFocus());
}

TEST_F(ApplicationsWindowTest, ServicesMetLaterJoinTheChoice) {
    QComboBox* services = window->serviceChoice();
    services->setCurrentIndex(services->findText("May use Camera"));
    const int before = services->count();
    window->model()->appendItems(
        {summary("Odd.app", "1", "ad hoc", "accepted", {{"NSOddUsageDescription", true}})});
    EXPECT_EQ(services->count(), before + 1);
    EXPECT_EQ(services->currentText(), "May use Camera");
    EXPECT_EQ(names(), QStringList({"Camera Tool.app"}));
}

/// Runs the File menu's item titled `title` and saves into `path` through its dialog.
bool exportThroughMenu(ApplicationsWindow* window, const QString& title, const QString& path) {
    QAction* item = varko::testing::menuItem(window, title);
    if (item == nullptr) return false;
    QSignalSpy exported(window, &ApplicationsWindow::exported);
    item->trigger();
    auto* dialog = varko::testing::shown<QFileDialog>();
    if (dialog == nullptr) return false;
    varko::testing::chooseInSaveDialog(dialog, path);
    return (!exported.isEmpty() || exported.wait(10000)) && exported.first()[1].toBool();
}

TEST_F(ApplicationsWindowTest, ExportsWriteTheShownRowsInTheShownOrder) {
    QTemporaryDir dir;
    window->table()->sortByColumn(ApplicationsModel::version, Qt::DescendingOrder);
    window->verdictChoice()->setCurrentIndex(window->verdictChoice()->findText("Accepted"));
    ASSERT_TRUE(exportThroughMenu(window, "Export as &CSV…", dir.filePath("apps.csv")));
    QFile csv(dir.filePath("apps.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith("Camera Tool.app,"));
    EXPECT_TRUE(lines[2].startsWith("Alpha.app,"));

    // A name typed without a suffix gets the format's own.
    ASSERT_TRUE(exportThroughMenu(window, "Export as &JSON Lines…", dir.filePath("apps")));
    QFile jsonLines(dir.filePath("apps.jsonl"));
    ASSERT_TRUE(jsonLines.open(QIODevice::ReadOnly));
    EXPECT_EQ(jsonLines.readAll(),
              "{\"name\":\"Camera Tool.app\",\"path\":\"/Applications/Camera Tool.app\"}\n"
              "{\"name\":\"Alpha.app\",\"path\":\"/Applications/Alpha.app\"}\n");
}

TEST_F(ApplicationsWindowTest, ScanOfAnEmptyFolderFinishesAndClosingStopsAScan) {
    QTemporaryDir folder;
    QSignalSpy finished(window.data(), &ApplicationsWindow::scanFinished);
    window->scanFolders({folder.path()});
    EXPECT_TRUE(window->isScanning());
    EXPECT_TRUE(window->progress()->isVisible());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(window->progress()->isVisible());
    EXPECT_EQ(window->model()->rowCount(), 3);

    // A window closed while it scans goes at once; what the scan finds later goes nowhere.
    QDir(folder.path()).mkpath("Some.app/Contents");
    auto* second = new ApplicationsWindow(host::ToolSet::system());
    QPointer<ApplicationsWindow> guard(second);
    second->show();
    second->scanFolders({folder.path()});
    second->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return guard.isNull(); }, 10000));
    // Once the closed window's pool is gone, whatever its scan sent has been handled:
    // no row and no window came of it.
    EXPECT_TRUE(QTest::qWaitFor([] { return host::retiredPoolsPending() == 0; }, 20000));
    EXPECT_EQ(window->model()->rowCount(), 3);
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) shown += w->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
}

TEST_F(ApplicationsWindowTest, AScanCutShortSaysWhichBoundInTheStatusLine) {
    QTemporaryDir folder;
    QString deep = folder.path();
    for (int depth = 0; depth < 34; ++depth) deep += "/d";
    ASSERT_TRUE(QDir().mkpath(deep));
    QSignalSpy finished(window.data(), &ApplicationsWindow::scanFinished);
    window->scanFolders({folder.path()});
    ASSERT_TRUE(finished.wait(10000));
    QLabel* status = nullptr;
    for (QLabel* label : window->statusBar()->findChildren<QLabel*>())
        if (label->text().contains("items")) status = label;
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), "3 items · not looked deeper than 32 folders");
    EXPECT_TRUE(status->toolTip().startsWith(
        "the scan went no deeper than 32 folders: " + folder.path() + "/d/d"))
        << status->toolTip().toStdString();
}

}  // namespace
}  // namespace varko
