// File › Compare With… driven as a user does: the menu, the Open dialog, the Changes window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QTreeView>

#include <QLabel>
#include <QStyle>

#include "app/documentcontroller.h"
#include "app/opendialog.h"
#include "compare/ui/changesmodel.h"
#include "compare/ui/comparisonwindow.h"
#include "fixtures/componentbundle.h"
#include "report/ui/documentwindowcontroller.h"
#include "support/faketool.h"
#include "support/shell.h"

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace varko {
namespace {

using testing::makeBundle;
using testing::xmlPlist;

class CompareWithTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    testing::FakeTool tool{dir, "tool"};
    std::unique_ptr<DocumentController> controller;
    QString oldApp, newApp;
    QPointer<DocumentWindowController> window;

    void SetUp() override {
#ifdef Q_OS_MACOS
        GTEST_SKIP() << "the system's own panel is used for choosing the other version";
#endif
        QSettings().clear();
        tool.answer("");
        controller =
            std::make_unique<DocumentController>(Storyboard(testing::signatureTools(tool)));
        const QByteArray identity =
            "<key>CFBundleIdentifier</key><string>com.example.some</string>"
            "<key>CFBundleExecutable</key><string>Some</string>";
        oldApp = makeBundle(
            dir, "old/Some.app",
            xmlPlist(identity + "<key>CFBundleShortVersionString</key><string>1.0</string>"));
        newApp = makeBundle(
            dir, "new/Some.app",
            xmlPlist(identity + "<key>CFBundleShortVersionString</key><string>2.0</string>"
                                "<key>NSMicrophoneUsageDescription</key><string>Talk.</string>"));
        window = controller->openDocument(oldApp);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    void TearDown() override {
        if (!controller) return;  // skipped
        testing::deleteLeftoverDialogs();
        while (auto* changes = testing::shown<ComparisonWindow>()) delete changes;
        for (DocumentWindowController* w : controller->windows()) delete w;
    }

    /// File › Compare With… clicked in the window's menu bar, then `path` typed into the
    /// dialog with Return; returns the Changes window once it has answered.
    ComparisonWindow* compareWith(const QString& path) {
        QMenuBar* bar = window->menuBar();
        QMenu* file = window->fileMenu();
        window->activateWindow();
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(file->menuAction()).center());
        EXPECT_TRUE(QTest::qWaitFor([file] { return file->isVisible(); }, 5000));
        QAction* item = testing::menuItem(window, "Compare &With…");
        EXPECT_NE(item, nullptr);
        if (!item) return nullptr;
        QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(item).center());

        // The menu gives the focus back to its window as it closes; the dialog takes it after.
        EXPECT_TRUE(QTest::qWaitFor([file] { return !file->isVisible(); }));
        QTest::qWait(50);
        OpenDialog* dialog = nullptr;
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return (dialog = testing::shown<OpenDialog>()) != nullptr; }));
        if (!dialog) return nullptr;
        EXPECT_TRUE(dialog->windowTitle().contains("Some.app"));
        dialog->setDirectory(dir.path());
        EXPECT_TRUE(varko::testing::activate(dialog));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        name->setFocus();
        QTest::keyClicks(name, path);
        QTest::keyClick(name, Qt::Key_Return);
        // A Return that closes the completions accepts on the next turn of the event loop.
        QCoreApplication::processEvents();

        ComparisonWindow* changes = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return (changes = testing::shown<ComparisonWindow>()) != nullptr; }));
        if (!changes) return nullptr;
        EXPECT_TRUE(QTest::qWaitFor([changes] { return !changes->isComparing(); }, 30000));
        return changes;
    }

    static QString cell(ComparisonWindow* w, int row, int column) {
        return w->changes().index(row, column).data().toString();
    }
};

TEST_F(CompareWithTest, ChangesAreListedAndCopiedTheSameVersionHasNoneAndOtherKindsAreRefused) {
    ComparisonWindow* changes = compareWith(newApp);
    ASSERT_NE(changes, nullptr);
    EXPECT_EQ(changes->windowTitle(), "old/Some.app → new/Some.app");
    EXPECT_EQ(changes->windowFilePath(), oldApp);
    EXPECT_EQ(changes->findChild<QLabel*>("oldPath")->text(), oldApp);
    EXPECT_EQ(changes->findChild<QLabel*>("newPath")->text(), newApp);
    EXPECT_EQ(changes->statusText(), "2 changes, most serious first: 1 medium, 1 low.");
    ASSERT_EQ(changes->changes().rowCount(), 2);
    EXPECT_EQ(cell(changes, 0, ChangesModel::severityColumn), "Medium");
    EXPECT_EQ(cell(changes, 0, ChangesModel::changeColumn),
              "Usage description NSMicrophoneUsageDescription");
    EXPECT_EQ(cell(changes, 0, ChangesModel::oldColumn), "—");
    EXPECT_EQ(cell(changes, 0, ChangesModel::newColumn), "Talk.");
    EXPECT_EQ(cell(changes, 1, ChangesModel::severityColumn), "Low");
    EXPECT_EQ(cell(changes, 1, ChangesModel::changeColumn), "Version");
    EXPECT_FALSE(changes->changes()
                     .index(0, ChangesModel::severityColumn)
                     .data(Qt::DecorationRole)
                     .value<QIcon>()
                     .isNull());

    // Both rows selected with the mouse, then copied with the keyboard.
    QTreeView* view = changes->changesView();
    ASSERT_TRUE(varko::testing::activate(changes));
    const auto rowCentre = [view](int row) {
        return view->visualRect(view->model()->index(row, ChangesModel::changeColumn)).center();
    };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(1));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "[medium] Usage description NSMicrophoneUsageDescription: added: Talk.\n"
              "[low] Version: 1.0 → 2.0\n");
    const QPointer<ComparisonWindow> first = changes;
    changes->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull() || !first->isVisible(); }));

    // The same version has no changes, and an item of another kind is refused.
    ComparisonWindow* same = compareWith(oldApp);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->statusText(), "No changes between these versions.");
    EXPECT_EQ(same->changes().rowCount(), 0);
    const QPointer<ComparisonWindow> closing = same;
    same->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }));

    const QString notes = dir.filePath("notes.txt");
    ASSERT_TRUE(testing::writeFile(notes));
    ComparisonWindow* refused = compareWith(notes);
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->statusText().startsWith("Varko can't compare these items: "))
        << refused->statusText().toStdString();
    EXPECT_EQ(refused->changes().rowCount(), 0);
}

TEST_F(CompareWithTest, ALongSignerShowsWholeAndAnEmptyColumnOnlyUntilAComparisonFillsIt) {
    // Gatekeeper accepts every version, naming a long signer for the new one.
    tool.answer("", 0, {}, R"(for p; do :; done
case "$1$p" in
-a*/new/*) o='Developer ID Application: Example Software Corporation International (TEX8MHRDQ9)';;
-a*) o='Developer ID Application: Example Software (TEX8MHRDQ9)';;
*) o= ;;
esac
[ -n "$o" ] && printf '%s: accepted\nsource=Notarized Developer ID\norigin=%s\n' "$p" "$o" >&2 && exit 0)");
    static const examplegen::TestPki pki;
    examplegen::ComponentApp app;
    const auto write = [&](const char* folder) {
        QDir().mkpath(dir.filePath(folder));
        const auto path = writeComponentApp(dir.filePath(folder).toStdString(), app, pki);
        return path ? QString::fromStdString(path->string()) : QString();
    };
    const QString before = write("v1"), after = write("new");
    app.pieces.push_back(examplegen::pieceAt(examplegen::PieceKind::helper, "Contents/MacOS/tool"));
    const QString helped = write("v2");

    ComparisonWindow window(testing::signatureTools(tool));
    window.show();
    const auto compare = [&](const QString& a, const QString& b) {
        window.compare(a, b);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isComparing(); }, 30000));
    };
    compare(before, after);
    EXPECT_EQ(window.windowTitle(), "v1/Host.app → new/Host.app");
    const std::vector<compare::Change>& list = window.changes().changes();
    const auto signer = std::find_if(list.begin(), list.end(),
                                     [](const compare::Change& c) { return c.what == "signer"; });
    ASSERT_NE(signer, list.end()) << window.statusText().toStdString();
    QTreeView* view = window.changesView();
    EXPECT_EQ(view->textElideMode(), Qt::ElideNone);
    const QModelIndex cell =
        window.changes().index(int(signer - list.begin()), ChangesModel::newColumn);
    EXPECT_EQ(cell.data().toString(), signer->newValue);
    const QRect shown = view->visualRect(cell);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect needed = view->fontMetrics().boundingRect(shown.adjusted(margin, 0, -margin, 0),
                                                          Qt::TextWordWrap, signer->newValue);
    EXPECT_GT(needed.height(), view->fontMetrics().height()) << "the signer wraps";
    EXPECT_GE(shown.height(), needed.height());
    EXPECT_TRUE(view->isColumnHidden(ChangesModel::componentColumn));

    compare(before, helped);
    EXPECT_EQ(window.windowTitle(), "v1/Host.app → v2/Host.app");
    EXPECT_FALSE(view->isColumnHidden(ChangesModel::componentColumn));
}

}  // namespace
}  // namespace varko
