#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <fstream>

#include "app/appdelegate.h"
#include "app/opendialog.h"
#include "fixtures/exampleapp.h"
#include "fixtures/udifwriter.h"
#include "fixtures/zipwriter.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/faketool.h"
#include "support/shell.h"

using namespace varko;

namespace {

namespace fs = std::filesystem;

void writeZip(const QString& path, const std::vector<examplegen::ZipEntry>& entries) {
    const std::vector<std::byte> bytes = examplegen::writeZip(entries);
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

/// The private folder that holds a window's app: the app lies in its "files" folder.
QString privateFolderOf(DocumentWindowController* window) {
    const QString app = window->windowFilePath();
    const qsizetype files = app.indexOf(QLatin1String("/files/"));
    return files < 0 ? QString() : app.left(files);
}

/// Opens disk images and zip archives as a Linux user does: File › Open, the name typed,
/// Return; or Mount Disk Image when the image can't be attached.
class ContainerWindowsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    varko::testing::FakeTool tool{dir, "tool"};
    std::unique_ptr<DocumentController> controller;

    void SetUp() override {
        QSettings().clear();
        tool.answer("");
        controller = std::make_unique<DocumentController>(Storyboard(
            varko::testing::signatureTools(tool).withProfile(host::PlatformProfile::journal())));
        const fs::path volume = dir.filePath("volume").toStdString();
        fs::create_directories(volume);
        ASSERT_TRUE(examplegen::writeExampleApp(volume).ok());
        if (!examplegen::writeDiskImage(volume, dir.filePath("Installer.dmg").toStdString()))
            GTEST_SKIP() << "genisoimage is needed to make disk images";
        fs::remove_all(volume);
        const examplegen::ZipEntry plist{
            "A.app/Contents/Info.plist", "<plist/>", 0100644, 0, 0, false};
        writeZip(dir.filePath("Apps.zip"),
                 {plist, {"Tools/B.app/Contents/Info.plist", "<plist/>", 0100644, 0, 0, false}});
        writeZip(dir.filePath("Empty.zip"), {{"readme.txt", "x", 0100644, 0, 0, false}});
        writeZip(dir.filePath("Hostile.zip"), {plist, {"../../x", "x", 0100644, 0, 0, false}});
    }
    void TearDown() override {
        if (controller)
            for (DocumentWindowController* w : controller->windows()) delete w;
        varko::testing::deleteLeftoverDialogs();
    }

    /// File › Open, the name typed and Return pressed; waits for the container to open.
    void openWithDialog(const QString& name) {
        QSignalSpy opened(controller.get(), &DocumentController::containerOpened);
        controller->showOpenDialog(nullptr);
        auto* dialog = varko::testing::shown<OpenDialog>();
        ASSERT_NE(dialog, nullptr);
        dialog->setDirectory(dir.path());
        ASSERT_TRUE(varko::testing::activate(dialog));
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        edit->setFocus();
        QTest::keyClicks(edit, name);
        QTest::keyClick(edit, Qt::Key_Return);
        ASSERT_TRUE(opened.wait(30000));
    }
    [[nodiscard]] QStringList titles() const {
        QStringList shown;
        for (DocumentWindowController* w : controller->windows()) shown << w->windowTitle();
        shown.sort();
        return shown;
    }
};

TEST_F(ContainerWindowsTest, EachAppInsideOpensInAWindowThatKeepsItsCopy) {
    const struct {
        const char* name;
        QStringList titles;
        const char* refusal;
    } cases[] = {
        {"Installer.dmg", {"Example.app — Installer.dmg"}, nullptr},
        {"Apps.zip", {"A.app — Apps.zip", "B.app — Apps.zip"}, nullptr},
        {"Empty.zip", {}, "No app was found in “Empty.zip”."},
        {"Hostile.zip", {}, "Varko won't open “Hostile.zip”"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QSignalSpy refused(controller.get(), &DocumentController::openRefused);
        openWithDialog(c.name);
        EXPECT_EQ(titles(), c.titles);
        if (c.refusal) {
            ASSERT_EQ(refused.size(), 1);
            EXPECT_TRUE(refused[0][0].toString().startsWith(c.refusal))
                << refused[0][0].toString().toStdString();
            continue;
        }
        EXPECT_TRUE(refused.isEmpty());
        QList<DocumentWindowController*> windows = controller->windows();
        ASSERT_FALSE(windows.isEmpty());
        const QString folder = privateFolderOf(windows.first());
        ASSERT_FALSE(folder.isEmpty()) << windows.first()->windowFilePath().toStdString();
        QSignalSpy read(windows.first(), &DocumentWindowController::documentRead);
        ASSERT_TRUE(!windows.first()->isReading() || read.wait(20000));
        EXPECT_TRUE(windows.first()->document()->isApp);
        // The report names the app inside its container, not by the copy that goes with it.
        const QString report = windows.first()->viewController()->reportText();
        EXPECT_TRUE(report.contains("App path: " + dir.filePath(c.name) + u'/'))
            << report.toStdString();
        EXPECT_FALSE(report.contains(folder)) << report.toStdString();

        // Opened again, the same windows come forward.
        controller->openDocument(dir.filePath(c.name));
        EXPECT_EQ(controller->windows().size(), windows.size());
        EXPECT_EQ(controller->recentDocuments().first(), documentKey(dir.filePath(c.name)));

        // The copy lasts as long as the last of its windows.
        delete windows.takeFirst();
        EXPECT_EQ(QFileInfo::exists(folder), !windows.isEmpty());
        qDeleteAll(windows);
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
}

TEST_F(ContainerWindowsTest, MountDiskImageOpensTheAppsOfAnImageItCantAttach) {
    varko::testing::FakeTool hdiutil(dir, "hdiutil");
    hdiutil.answer("", 1, "hdiutil: attach failed - Apple's compressed images are not read");
    AppDelegate delegate(host::ToolSet::withPrograms({{host::hdiutilPath, hdiutil.program()}})
                             .withProfile(host::PlatformProfile::journal()));
    QSignalSpy opened(&delegate.documents(), &DocumentController::containerOpened);
    delegate.mountDMG();
    auto* panel = varko::testing::shown<QFileDialog>();
    ASSERT_NE(panel, nullptr);
    panel->setDirectory(dir.path());
    panel->selectFile(dir.filePath("Installer.dmg"));
    QTest::mouseClick(panel->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
                          ->button(QDialogButtonBox::Open),
                      Qt::LeftButton);
    ASSERT_TRUE(opened.wait(30000));
    ASSERT_EQ(delegate.documents().windows().size(), 1);
    EXPECT_EQ(delegate.documents().windows().first()->windowTitle(), "Example.app — Installer.dmg");
    for (DocumentWindowController* w : delegate.documents().windows()) delete w;
}

TEST_F(ContainerWindowsTest, OnMacOSAnImageIsNoItemToOpen) {
    DocumentController mac{Storyboard(varko::testing::signatureTools(tool))};
    QSignalSpy refused(&mac, &DocumentController::openRefused);
    EXPECT_EQ(mac.openDocument(dir.filePath("Installer.dmg")), nullptr);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0][0].toString().contains("neither an app bundle"));
    EXPECT_TRUE(mac.windows().isEmpty());
}

}  // namespace
