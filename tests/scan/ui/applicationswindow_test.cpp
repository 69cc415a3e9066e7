#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeView>

#include "fixtures/componentbundle.h"
#include "overview/datafile.h"
#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/applicationswindow.h"
#include "scan/ui/byserviceview.h"
#include "summaries.h"
#include "support/savedialogs.h"
#include "support/shell.h"
#include "tools/threadpools.h"

namespace varko {
namespace {

using testing::summary;

/// Clicks the title of `column`, as a person sorts.
void clickHeader(QTableView* view, int column) {
    QHeaderView* header = view->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      {header->sectionViewportPosition(column) + 10, header->height() / 2});
}

/// Opens `box`'s list with a click and clicks the entry `text`.
void choose(QComboBox* box, const QString& text) {
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }));
    // The list takes no release so soon after it opened, lest the opening click choose.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QModelIndex entry = list->model()->index(box->findText(text), 0);
    ASSERT_TRUE(entry.isValid()) << text.toStdString();
    list->scrollTo(entry);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(entry).center());
    EXPECT_EQ(box->currentText(), text);
}

/// The By-service tree as shown, against the data file `name`, with `root` as ROOT.
void expectTree(const QTreeView* tree, const char* name, const QString& root = "/nowhere") {
    const QString shown = QString::fromStdString(testing::modelText(*tree->model()));
    testing::expectDataFile(QString(shown).replace(root, "ROOT").toStdString(), name);
}

/// Double-clicks `index` as the system sends it: a press, then the double-click.
void doubleClick(QAbstractItemView* view, const QModelIndex& index) {
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

/// A column's texts in the order the window shows its rows.
QStringList column(const ApplicationsWindow& window, int c) {
    QStringList out;
    for (int r = 0; r < window.filter()->rowCount(); ++r)
        out << window.filter()->index(r, c).data().toString();
    return out;
}

/// Scans `folder` in `window` and waits for the scan to finish.
bool scanned(ApplicationsWindow& window, const QString& folder, int timeoutMs = 10000) {
    QSignalSpy finished(&window, &ApplicationsWindow::scanFinished);
    window.scanFolders({folder});
    return finished.wait(timeoutMs);
}

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

    QStringList names() const { return column(*window, ApplicationsModel::name); }

    QPointer<ApplicationsWindow> window;
};

TEST_F(ApplicationsWindowTest, ClickedTitlesSortAndTheRowShownOpensAndShowsItsDetails) {
    QTableView* view = window->table();
    clickHeader(view, ApplicationsModel::version);
    ASSERT_EQ(names(), QStringList({"Alpha.app", "Camera Tool.app", "Mail Helper.app"}));
    clickHeader(view, ApplicationsModel::version);
    ASSERT_EQ(names(), QStringList({"Mail Helper.app", "Camera Tool.app", "Alpha.app"}));
    clickHeader(view, ApplicationsModel::servicesUsed);
    clickHeader(view, ApplicationsModel::servicesUsed);
    ASSERT_EQ(names().first(), "Camera Tool.app");
    clickHeader(view, ApplicationsModel::version);
    ASSERT_EQ(names()[1], "Camera Tool.app");

    QSignalSpy opened(window.data(), &ApplicationsWindow::openItem);
    doubleClick(view, window->filter()->index(1, ApplicationsModel::version));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0][0].toString(), "/Applications/Camera Tool.app");
    // The pane says how the row clicked may use each service, in words.
    const QString details = window->details()->toPlainText();
    EXPECT_TRUE(details.contains("Camera Tool.app")) << details.toStdString();
    EXPECT_TRUE(details.contains("Camera\nyes\n—\n—")) << details.toStdString();

    QTest::keyClick(view, Qt::Key_Down);
    EXPECT_TRUE(window->details()->toPlainText().contains("Asks for no privacy service."));
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1][0].toString(), "/Applications/" + names()[2]);

    // Scrolled sideways, each row still shows its name at the left.
    window->resize(420, window->height());
    QTest::qWait(0);
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    ASSERT_GT(view->horizontalScrollBar()->value(), 0);
    const QPoint left = view->viewport()->mapTo(view, QPoint(5, view->rowViewportPosition(1) + 3));
    QWidget* under = view->childAt(left);
    auto* shownThere = under ? qobject_cast<QAbstractItemView*>(under->parentWidget()) : nullptr;
    ASSERT_NE(shownThere, nullptr);
    EXPECT_EQ(shownThere->indexAt(under->mapFrom(view, left)).data().toString(), names()[1]);
}

TEST_F(ApplicationsWindowTest, TheByServiceViewListsWhoMayUseEachServiceAndOpensThem) {
    window->model()->appendItems(
        {summary("Studio.app", "1", "ad hoc", "accepted",
                 {{"kTCCServiceCamera", false, true}, {"kTCCServiceMicrophone", true, true, true}},
                 "/Volumes/copy3")});
    QTest::keySequence(window.data(), QKeySequence(Qt::CTRL | Qt::Key_2));
    ByServiceView* tree = window->byService();
    ASSERT_EQ(window->views()->currentWidget(), tree);
    EXPECT_TRUE(tree->hasFocus());
    expectTree(tree, "by-service.txt");
    // The filters narrow this view too; the chosen service alone is listed.
    QTest::keySequence(window.data(), QKeySequence::Find);
    QTest::keyClicks(window->searchField(), "copy3");
    QTest::qWait(300);
    expectTree(tree, "by-service-copy3.txt");
    window->searchField()->clear();
    choose(window->serviceChoice(), "May use Camera");
    QTest::qWait(300);
    expectTree(tree, "by-service-camera.txt");

    QSignalSpy opened(window.data(), &ApplicationsWindow::openItem);
    const QModelIndex camera = tree->model()->index(0, 0);
    doubleClick(tree, tree->model()->index(1, 1, camera));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0][0].toString(), "/Volumes/copy3/Studio.app");
    EXPECT_TRUE(window->details()->toPlainText().contains("Microphone\nyes\nyes\nyes"));
    // By keys: up to the first item, Return opens it; Ctrl+1 goes back to the items.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Up);
    QTest::keyClick(tree, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1][0].toString(), "/Applications/Camera Tool.app");
    QTest::keySequence(window.data(), QKeySequence(Qt::CTRL | Qt::Key_1));
    EXPECT_EQ(window->views()->currentWidget(), window->table());
    EXPECT_TRUE(window->table()->hasFocus());
}

TEST_F(ApplicationsWindowTest, TypingAndChoosingFilterTheTable) {
    QTest::keyClicks(window->searchField(), "mail");
    EXPECT_EQ(names(), QStringList({"Mail Helper.app"}));
    window->searchField()->clear();
    EXPECT_EQ(names().size(), 3);

    // Escape clears the search and goes to the table.
    QTest::keyClicks(window->searchField(), "/Applications/Al");
    EXPECT_EQ(names(), QStringList({"Alpha.app"}));
    QTest::keyClick(window->searchField(), Qt::Key_Escape);
    EXPECT_EQ(names().size(), 3);
    EXPECT_TRUE(window->table()->hasFocus());

    QComboBox* services = window->serviceChoice();
    EXPECT_EQ(services->itemText(0), "Any service");
    choose(services, "May use Camera");
    EXPECT_EQ(names(), QStringList({"Camera Tool.app"}));
    // A service met later joins the choice, which stays as it was.
    const int before = services->count();
    window->model()->appendItems(
        {summary("Odd.app", "1", "ad hoc", "accepted", {{"NSOddUsageDescription", true}})});
    EXPECT_EQ(services->count(), before + 1);
    EXPECT_EQ(services->currentText(), "May use Camera");
    EXPECT_EQ(names(), QStringList({"Camera Tool.app"}));
    choose(services, "Any service");

    choose(window->verdictChoice(), "Rejected");
    EXPECT_EQ(names(), QStringList({"Mail Helper.app"}));
    choose(window->verdictChoice(), "Any verdict");
    choose(window->signerChoice(), "Developer ID");
    EXPECT_EQ(names(), QStringList({"Alpha.app"}));

    // Edit › Copy takes the selected rows that show, with the titles.
    window->table()->setFocus();
    QTest::keySequence(window.data(), QKeySequence::SelectAll);
    QTest::keySequence(window.data(), QKeySequence::Copy);
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[0].startsWith("Name\tFolder\tIdentifier\tVersion"));
    EXPECT_TRUE(copied[1].startsWith("Alpha.app\t/Applications\tcom.example.Alpha\t1.0\t"));

    // Edit › Find… goes to the search field.
    window->searchField()->clearFocus();
    window->table()->setFocus();
    QTest::keySequence(window.data(), QKeySequence::Find);
    EXPECT_TRUE(window->searchField()->hasFocus());
}

/// Runs the File menu's item titled `title`, saves as `path` through its dialog and reads
/// back what was written as `written` (the name with the suffix the format adds).
QByteArray exportThroughMenu(ApplicationsWindow* window, const QString& title, const QString& path,
                             const QString& written) {
    QAction* item = varko::testing::menuItem(window, title);
    if (item == nullptr) return "no menu item " + title.toUtf8();
    QSignalSpy exported(window, &ApplicationsWindow::exported);
    item->trigger();
    auto* dialog = varko::testing::shown<QFileDialog>();
    if (dialog == nullptr) return "no dialog";
    varko::testing::chooseInSaveDialog(dialog, path);
    if ((exported.isEmpty() && !exported.wait(10000)) || !exported.first()[1].toBool())
        return "not exported";
    return testing::readFile(written);
}

TEST_F(ApplicationsWindowTest, ExportsWriteTheShownRowsInTheShownOrder) {
    QTemporaryDir dir;
    clickHeader(window->table(), ApplicationsModel::version);
    clickHeader(window->table(), ApplicationsModel::version);
    choose(window->verdictChoice(), "Accepted");
    const QString csv = dir.filePath("apps.csv");
    const QList<QByteArray> lines =
        exportThroughMenu(window, "Export as &CSV…", csv, csv).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith("/Applications/Camera Tool.app,Camera Tool.app,"));
    EXPECT_TRUE(lines[2].startsWith("/Applications/Alpha.app,Alpha.app,"));

    // A name typed without a suffix gets the format's own.
    EXPECT_EQ(exportThroughMenu(window, "Export as &JSON Lines…", dir.filePath("apps"),
                                dir.filePath("apps.jsonl")),
              "{\"name\":\"Camera Tool.app\",\"path\":\"/Applications/Camera Tool.app\"}\n"
              "{\"name\":\"Alpha.app\",\"path\":\"/Applications/Alpha.app\"}\n");
}

TEST_F(ApplicationsWindowTest, AScanWithoutItemsFinishesSaysWhereItWasCutAndClosingStopsAScan) {
    // Folders deeper than a scan goes, and no item.
    QTemporaryDir folder;
    QString deep = folder.path();
    for (int depth = 0; depth < 34; ++depth) deep += "/d";
    ASSERT_TRUE(QDir().mkpath(deep));
    QSignalSpy finished(window.data(), &ApplicationsWindow::scanFinished);
    window->scanFolders({folder.path()});
    EXPECT_TRUE(window->isScanning());
    EXPECT_TRUE(window->progress()->isVisible());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(window->progress()->isVisible());
    EXPECT_EQ(window->model()->rowCount(), 3);
    QLabel* status = nullptr;
    for (QLabel* label : window->statusBar()->findChildren<QLabel*>())
        if (label->text().contains("items")) status = label;
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), "3 items · not looked deeper than 32 folders");
    EXPECT_TRUE(status->toolTip().startsWith(
        "the scan went no deeper than 32 folders: " + folder.path() + "/d/d"))
        << status->toolTip().toStdString();

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

/// Three copies of a folder of two apps signed by the test authority, one that asks for the
/// camera, scanned by the real tools as File › Scan Folder… scans them.
TEST(ApplicationsWindowScan, CopiesAreToldApartByFolderAndFoundBySearchServiceAndExport) {
    using namespace examplegen;
    static const TestPki pki;
    QTemporaryDir dir;
    ComponentApp viewer;
    viewer.name = "Viewer";
    viewer.info.set("NSCameraUsageDescription", "Scan documents.");
    viewer.entitlements = entitlementsGranting({"com.apple.security.device.camera"});
    ComponentApp notes;
    notes.name = "Notes";
    notes.identifier = "com.example.varko.notes";
    for (const char* copy : {"copy1", "copy2", "copy3"})
        for (const ComponentApp& app : {viewer, notes})
            ASSERT_TRUE(writeComponentApp(dir.filePath(copy).toStdString(), app, pki));
    ApplicationsWindow window(host::ToolSet::system(QStringLiteral(VARKO_BIN_DIR)));
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    ASSERT_TRUE(scanned(window, dir.path(), 60000));
    ASSERT_EQ(window.model()->rowCount(), 6);
    // Folders show from the one scanned, by its name.
    const QString root = QFileInfo(dir.path()).fileName();

    QTest::keyClicks(window.searchField(), "copy3");
    EXPECT_EQ(column(window, ApplicationsModel::folder), QStringList(2, root + "/copy3"));
    QTest::keyClick(window.searchField(), Qt::Key_Escape);
    choose(window.serviceChoice(), "May use Camera");
    EXPECT_EQ(column(window, ApplicationsModel::name), QStringList(3, "Viewer.app"));
    EXPECT_EQ(column(window, ApplicationsModel::servicesUsed), QStringList(3, "Camera"));
    clickHeader(window.table(), ApplicationsModel::folder);
    clickHeader(window.table(), ApplicationsModel::folder);
    EXPECT_EQ(column(window, ApplicationsModel::folder),
              QStringList({root + "/copy3", root + "/copy2", root + "/copy1"}));

    QTest::keySequence(&window, QKeySequence(Qt::CTRL | Qt::Key_2));
    expectTree(window.byService(), "by-service-copies.txt", root);

    QTemporaryDir out;
    const QString csv = out.filePath("apps.csv");
    const QList<QByteArray> lines =
        exportThroughMenu(&window, "Export as &CSV…", csv, csv).split('\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].startsWith(
        (dir.path() + "/copy3/Viewer.app,Viewer.app," + root + "/copy3,").toUtf8()));
    EXPECT_TRUE(lines[1].endsWith(",\"Camera (declared, entitled)\"\r"));
}

}  // namespace
}  // namespace varko
