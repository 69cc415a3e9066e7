// The inspection window's whole-app view, used as a user does: the verdict first, then
// the Components and Privacy tabs beside the report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <map>

#include "fixtures/componentbundle.h"
#include "fixtures/machowriter.h"
#include "format/plist/plist.h"
#include "overview/datafile.h"
#include "overview/overview.h"
#include "overview/ui/componentsview.h"
#include "overview/ui/manifestsview.h"
#include "overview/ui/privacyview.h"
#include "overview/ui/verdictbar.h"
#include "report/ui/viewcontrollerfixture.h"
#include "support/shell.h"
#include "ui/findbar.h"

using namespace varko;
using varko::testing::ViewControllerTest;
using varko::testing::xmlPlist;

namespace {

namespace fs = std::filesystem;

void writeCode(const fs::path& file, const std::string& id, const std::string& team,
               std::optional<std::string> entitlements = {}) {
    examplegen::MachOOptions o;
    o.signature->identifier = id;
    o.signature->teamId = team;
    o.signature->entitlements = std::move(entitlements);
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(examplegen::writeFile(file, examplegen::makeMachO(o), true));
}

class OverviewWindowTest : public ViewControllerTest {
protected:
    /// An app whose helper has another team and holds the camera the app doesn't.
    QString twoPieceApp() {
        const QString path = varko::testing::makeBundle(
            dir, "Two.app",
            xmlPlist("<key>CFBundleExecutable</key><string>Two</string>"
                     "<key>CFBundleIdentifier</key><string>com.example.two</string>"
                     "<key>NSCalendarsFullAccessUsageDescription</key><string>Plan.</string>"));
        const fs::path contents = fs::path(path.toStdString()) / "Contents";
        writeCode(contents / "MacOS" / "Two", "com.example.two", "TEAMAAAAAA");
        writeCode(contents / "MacOS" / "helper", "com.example.helper", "TEAMBBBBBB",
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                  "<key>com.apple.security.device.camera</key><true/></dict></plist>");
        return path;
    }

    static void clickTab(QTabWidget* tabs, const QString& title) {
        QTabBar* bar = tabs->tabBar();
        for (int i = 0; i < bar->count(); ++i)
            if (bar->tabText(i) == title)
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
    }
};

TEST_F(OverviewWindowTest, VerdictComponentsAndPrivacyFillInBesideTheReport) {
    auto w = window(twoPieceApp(), applicationBundleType);
    ViewController* v = w->viewController();
    QSignalSpy checked(v, &ViewController::componentsChecked);
    ASSERT_TRUE(showAndFinish(*w));
    ASSERT_TRUE(checked.count() > 0 || checked.wait(20000));

    // The verdict reads first: the system accepted it as notarized.
    const auto* headline = v->verdictBar->findChild<QLabel*>("verdictHeadline");
    ASSERT_TRUE(headline);
    EXPECT_EQ(headline->text(), "Accepted");
    EXPECT_LT(v->verdictBar->mapTo(v, QPoint()).y(), v->splitter->mapTo(v, QPoint()).y());
    const overview::Verdict verdict = v->verdict();
    EXPECT_EQ(verdict.notarization, overview::Tri::yes);
    EXPECT_EQ(verdict.teamIdentifier, "TEAMAAAAAA");
    EXPECT_TRUE(verdict.complete);
    // What it may use is told beside the verdict, in the window as first shown.
    const auto* mayUse = v->verdictBar->findChild<QLabel*>("verdictMayUse");
    EXPECT_EQ(mayUse->text(), "Calendars (asks), Camera (in a component)");
    EXPECT_TRUE(mayUse->isVisible());
    EXPECT_LE(mayUse->mapTo(w.get(), QPoint(0, mayUse->height())).y(), w->height());

    EXPECT_EQ(v->tabs->currentWidget(), v->outputTextbox);
    clickTab(v->tabs, "Components");
    ASSERT_TRUE(v->componentsView->isVisible());
    const ComponentsModel& components = v->componentsView->componentsModel();
    ASSERT_EQ(components.componentCount(), 2u);
    const QModelIndex helper = components.indexOf(1);
    EXPECT_EQ(helper.data(ComponentsModel::PathRole).toString(), "Contents/MacOS/helper");
    EXPECT_TRUE(helper.data(ComponentsModel::FlaggedRole).toBool());
    EXPECT_EQ(v->appOverview().components[1].flags,
              (std::vector<std::string>{"team-mismatch", "privacy-beyond-main"}));

    // Edit › Copy copies the rows the user selected in the list, not the report.
    const QRect helperRow = v->componentsView->visualRect(helper);
    QTest::mouseClick(v->componentsView->viewport(), Qt::LeftButton, {}, helperRow.center());
    QTest::keyClick(w.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().contains("Contents/MacOS/helper"))
        << QApplication::clipboard()->text().toStdString();
    EXPECT_FALSE(QApplication::clipboard()->text().contains("App path"));
    // And so does the menu item itself.
    QApplication::clipboard()->setText("before");
    varko::testing::menuItem(w.get(), "&Copy")->trigger();
    EXPECT_TRUE(QApplication::clipboard()->text().contains("Contents/MacOS/helper"))
        << QApplication::clipboard()->text().toStdString();

    clickTab(v->tabs, "Privacy");
    ASSERT_TRUE(v->privacyView->isVisible());
    varko::testing::expectDataFile(varko::testing::modelText(v->privacyView->privacyModel()),
                                   "two-piece-services.txt");
    // No manifest takes a line, not the services' room.
    EXPECT_FALSE(v->manifestsView->isVisible());
    EXPECT_TRUE(v->privacyView->parentWidget()->findChild<QLabel*>()->text().contains(
        "Neither the app nor its components has a privacy manifest."));

    // Find searches the report, so it brings the report back.
    QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(v->findBar->findChild<QLineEdit*>(), "App path");
    QTest::keyClick(v->findBar->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_EQ(v->tabs->currentWidget(), v->outputTextbox);
}

TEST_F(OverviewWindowTest, ATabChosenBeforeTheAppIsReadStaysChosenAndFillsIn) {
    auto w = window(twoPieceApp(), applicationBundleType);
    ViewController* v = w->viewController();
    QSignalSpy checked(v, &ViewController::componentsChecked);
    w->show();
    clickTab(v->tabs, "Privacy");
    ASSERT_NE(v->privacyView, nullptr);
    EXPECT_TRUE(v->tabs->currentWidget()->isAncestorOf(v->privacyView));
    ASSERT_TRUE(checked.wait(20000));
    EXPECT_TRUE(v->tabs->currentWidget()->isAncestorOf(v->privacyView));
    EXPECT_GT(v->privacyView->privacyModel().rowCount(), 0);
    QStringList titles;
    for (int i = 0; i < v->tabs->count(); ++i)
        if (v->tabs->isTabVisible(i)) titles << v->tabs->tabText(i);
    EXPECT_EQ(titles, (QStringList{"Report", "Components", "Privacy"}));
}

TEST_F(OverviewWindowTest, APrivacyListThatMayBeIncompleteSaysSoWhereItIs) {
    // Bundles nested past the walk's depth: whatever code lies below goes unread.
    const QString path = twoPieceApp();
    fs::path deep = fs::path(path.toStdString()) / "Contents";
    for (int level = 0; level <= overview::maxNesting; ++level)
        deep /= "PlugIns/L" + std::to_string(level) + ".bundle/Contents";
    writeCode(deep / "MacOS" / "spy", "com.example.spy", "TEAMAAAAAA",
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
              "<key>com.apple.security.device.microphone</key><true/></dict></plist>");
    auto w = window(path, applicationBundleType);
    ViewController* v = w->viewController();
    QSignalSpy read(v, &ViewController::overviewRead);
    ASSERT_TRUE(showAndFinish(*w));
    ASSERT_TRUE(read.count() > 0 || read.wait(20000));
    clickTab(v->tabs, "Privacy");
    QLabel* note = nullptr;
    for (QLabel* label : v->privacyView->parentWidget()->findChildren<QLabel*>())
        if (label->isVisible() && label->text().startsWith("This list may be incomplete"))
            note = label;
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains("the rest may use more services"))
        << note->text().toStdString();
    EXPECT_TRUE(v->verdictBar->findChild<QLabel*>("verdictMayUse")
                    ->text()
                    .endsWith("; the list may be incomplete (see Privacy)"));
}

TEST_F(OverviewWindowTest, ExportPrivacyProfileSavesTheAppsProfileAndSaysWhatItDenies) {
    const examplegen::TestPki pki;
    examplegen::ComponentApp description;
    description.info.set("NSCameraUsageDescription", "Calls.");
    description.info.set("NSCalendarsFullAccessUsageDescription", "Plan.");
    const auto app = examplegen::writeComponentApp(dir.path().toStdString(), description, pki);
    ASSERT_TRUE(app) << app.error().message;
    auto w = window(QString::fromStdString(app->string()), applicationBundleType);
    ViewController* v = w->viewController();
    QAction* item = varko::testing::menuItem(w.get(), "Export &Privacy Profile…");
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->isEnabled());
    QSignalSpy read(v, &ViewController::overviewRead);
    ASSERT_TRUE(showAndFinish(*w));
    ASSERT_TRUE(read.count() > 0 || read.wait(20000));
    ASSERT_TRUE(item->isEnabled());

    QSignalSpy opened(v, &ViewController::saveDialogOpened);
    QSignalSpy exported(v, &ViewController::privacyProfileExported);
    item->trigger();
    ASSERT_TRUE(opened.count() > 0 || opened.wait(20000));
    auto* dialog = qobject_cast<QFileDialog*>(opened[0][0].value<QWidget*>());
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->selectedFiles().value(0).endsWith("/Host Privacy.mobileconfig"));
    // Typed without its suffix, which the dialog adds.
    varko::testing::chooseInSaveDialog(dialog, dir.filePath("Fleet"));
    ASSERT_TRUE(exported.count() > 0 || exported.wait(20000));
    EXPECT_TRUE(exported[0][1].toBool());

    const QByteArray bytes = varko::testing::readFile(dir.filePath("Fleet.mobileconfig"));
    const auto profile = plist::parseXml(std::as_bytes(std::span(bytes.data(), bytes.size())));
    ASSERT_TRUE(profile && profile->dictionary());
    const plist::Value* services =
        (*profile->dictionary()->find("PayloadContent")->array())[0].dictionary()->find("Services");
    ASSERT_TRUE(services && services->dictionary());
    std::map<std::string, std::string> grants;
    for (const auto& [service, entries] : *services->dictionary())
        grants[service] = *(*entries.array())[0].dictionary()->find("Authorization")->string();
    EXPECT_EQ(grants,
              (std::map<std::string, std::string>{{"Calendar", "Allow"}, {"Camera", "Deny"}}));
    // Whoever deploys it learns that the camera entry denies.
    ASSERT_TRUE(
        varko::testing::eventually([] { return !varko::testing::shownMessageBoxes().isEmpty(); }));
    EXPECT_TRUE(varko::testing::shownMessageBoxes().first()->informativeText().startsWith(
        "Camera is denied"));
}

}  // namespace
