#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "app/documentcontroller.h"
#include "app/opendialog.h"
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

/// Drives File › Open as a user does, in a folder holding an app, a flat package, a
/// package kept as a folder and a plain folder.
class OpenDialogTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    testing::FakeTool tool{dir, "tool"};
    std::unique_ptr<DocumentController> controller;
    QString app, flatPackage, folderPackage, plain;
    QPointer<OpenDialog> dialog;  // it deletes itself once closed

    void SetUp() override {
#ifdef Q_OS_MACOS
        GTEST_SKIP() << "the system's own panel is used, and treats bundles as files itself";
#endif
        QSettings().clear();
        tool.answer("");
        controller =
            std::make_unique<DocumentController>(Storyboard(testing::signatureTools(tool)));
        app = makeBundle(dir, "Some.app", xmlPlist(""));
        folderPackage = makeBundle(dir, "Old.pkg", std::nullopt);
        plain = dir.filePath("Plain");
        QDir().mkpath(plain + "/Inner.app");
        flatPackage = dir.filePath("Tool.pkg");
        ASSERT_TRUE(testing::writeFile(flatPackage));
        showDialog();
    }
    void TearDown() override {
        if (!controller) return;  // skipped
        for (DocumentWindowController* w : controller->windows()) delete w;
        testing::deleteLeftoverDialogs();
    }

    /// File › Open, showing the test's folder.
    void showDialog() {
        controller->showOpenDialog(nullptr);
        dialog = testing::shown<OpenDialog>();
        ASSERT_NE(dialog, nullptr);
        dialog->setDirectory(dir.path());
    }
    /// The view that shows the files: a list, or a tree in the detail view.
    [[nodiscard]] QAbstractItemView* list() const {
        return dialog->viewMode() == QFileDialog::Detail
                   ? static_cast<QAbstractItemView*>(dialog->findChild<QTreeView*>("treeView"))
                   : dialog->findChild<QListView*>("listView");
    }
    [[nodiscard]] QLineEdit* nameEdit() const {
        return dialog->findChild<QLineEdit*>("fileNameEdit");
    }
    void pressOpen() const {
        auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
        QTest::mouseClick(box->button(QDialogButtonBox::Open), Qt::LeftButton);
    }
    /// The list's row for `name` once the folder has been read, clicked like a user would.
    QRect click(const QString& name, Qt::KeyboardModifiers modifiers = {}) const {
        QModelIndex found;
        const auto listed = [&] {
            const QModelIndex root = list()->rootIndex();
            for (int row = 0; row < list()->model()->rowCount(root); ++row) {
                const QModelIndex index = list()->model()->index(row, 0, root);
                if (index.data().toString() == name) found = index;
            }
            return found.isValid();
        };
        EXPECT_TRUE(QTest::qWaitFor(listed, 10000)) << name.toStdString();
        const QRect rect = list()->visualRect(found);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers, rect.center());
        return rect;
    }
    /// Types into the file name box, which has the focus as it would after a click.
    void type(const QString& text) const {
        EXPECT_TRUE(varko::testing::activate(dialog));
        nameEdit()->setFocus();
        QTest::keyClicks(nameEdit(), text);
        QTest::keyClick(nameEdit(), Qt::Key_Return);
        // A Return that closes the completions accepts on the next turn of the event loop.
        QCoreApplication::processEvents();
    }
    [[nodiscard]] bool closed() const {
        return dialog.isNull() || !dialog->isVisible();
    }
    [[nodiscard]] QStringList openedItems() const {
        QStringList items;
        for (DocumentWindowController* w : controller->windows()) items << w->windowFilePath();
        items.sort();
        return items;
    }
};

TEST_F(OpenDialogTest, ASelectedBundleOpensWithTheOpenButton) {
    click("Some.app");
    pressOpen();
    EXPECT_EQ(openedItems(), QStringList{app});
    EXPECT_TRUE(closed());
}

TEST_F(OpenDialogTest, ReturnOrADoubleClickOnABundleInTheListOpensIt) {
    click("Some.app");
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(openedItems(), QStringList{app});
    EXPECT_TRUE(closed());

    showDialog();
    ASSERT_NE(dialog, nullptr);
    const QRect row = click("Tool.pkg");
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(openedItems(), (QStringList{app, flatPackage}));
}

TEST_F(OpenDialogTest, TheDetailViewOpensABundleWithReturnToo) {
    dialog->setViewMode(QFileDialog::Detail);
    click("Some.app");
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(openedItems(), QStringList{app});
    EXPECT_TRUE(closed());
}

TEST_F(OpenDialogTest, ATypedPathOpensWithReturn) {
    type(app);
    EXPECT_EQ(openedItems(), QStringList{app});
    EXPECT_TRUE(closed());
}

TEST_F(OpenDialogTest, SeveralSelectedItemsOpenTogether) {
    click("Some.app");
    click("Tool.pkg", Qt::ControlModifier);
    pressOpen();
    EXPECT_EQ(openedItems(), (QStringList{app, flatPackage}));
}

TEST_F(OpenDialogTest, APackageKeptAsAFolderIsChosenNotEntered) {
    type("Old.pkg");
    EXPECT_TRUE(closed());
    EXPECT_EQ(openedItems(), QStringList{folderPackage});
}

TEST_F(OpenDialogTest, PlainFoldersAreEnteredWhetherSelectedOrTyped) {
    click("Plain");
    pressOpen();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->directory().absolutePath(), plain);

    click("Inner.app");  // a bundle inside it still opens
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(openedItems(), QStringList{plain + "/Inner.app"});

    showDialog();
    ASSERT_NE(dialog, nullptr);
    type(plain);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->directory().absolutePath(), plain);
    EXPECT_EQ(controller->windows().size(), 1);
}

}  // namespace
}  // namespace varko
