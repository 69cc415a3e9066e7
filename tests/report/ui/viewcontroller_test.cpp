#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>

#include "fixtures/machowriter.h"
#include "fixtures/pkgwriter.h"
#include "overview/datafile.h"
#include "overview/ui/verdictbar.h"
#include "report/inspectionreport.h"
#include "report/ui/payloadmodel.h"
#include "report/ui/scriptsview.h"
#include "report/ui/viewcontrollerfixture.h"
#include "support/filesizelimit.h"
#include "support/savedialogs.h"
#include "support/shell.h"

using namespace varko;
using varko::testing::eventually;
using varko::testing::readFile;
using varko::testing::save;
using varko::testing::saveDialog;
using varko::testing::testData;
using varko::testing::untilExists;
using varko::testing::ViewControllerTest;
using varko::testing::writeFile;

namespace {

// The report, then the findings, which neither Tab, clicks, keys nor accessibility actions
// can stop at or change.
TEST_F(ViewControllerTest, AppWindowShowsTheReportAndFindingsThatNoInputChanges) {
    auto w = window(app(), applicationBundleType);
    ViewController* v = w->viewController();
    ASSERT_TRUE(showAndFinish(*w));
    const QString path = w->document()->theInfo->path();
    EXPECT_EQ(v->outputTextbox->toPlainText(),
              QString::fromUtf8(testData("app-window.txt")).replace("@PATH@", path));
    EXPECT_EQ(v->appIDText->text(), "com.example.a");
    EXPECT_EQ(v->versionText->text(), "1.0");
    for (Check on :
         {Check::catalinaCheck, Check::appleCheck, Check::cameraCheck, Check::pubCameraCheck,
          Check::privMicrophoneCheck, Check::isNotarizedCheck, Check::isHardenedCheck})
        EXPECT_TRUE(v->checkbox(on)->isChecked()) << checkName(on).toStdString();
    for (Check off :
         {Check::mojaveCheck, Check::tensixteenCheck, Check::microphoneCheck, Check::isDevIDCheck})
        EXPECT_FALSE(v->checkbox(off)->isChecked()) << checkName(off).toStdString();
    EXPECT_TRUE(v->busySpinner->isHidden());

    ASSERT_TRUE(varko::testing::activate(w.get()));
    for (QWidget* box : v->appFindings) EXPECT_TRUE(box->isVisible());
    v->outputTextbox->setFocus();
    QSet<QWidget*> visited;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    // The report, the find bar's and tabs' controls: a handful of stops, no finding among them.
    EXPECT_LE(visited.size(), 8) << visited.size();
    for (QWidget* stop : visited) {
        EXPECT_EQ(qobject_cast<NoTouchButtonCell*>(stop), nullptr);
        EXPECT_EQ(qobject_cast<QLabel*>(stop), nullptr) << stop->objectName().toStdString();
    }

    for (Check c : {Check::cameraCheck, Check::mojaveCheck}) {
        SCOPED_TRACE(checkName(c).toStdString());
        NoTouchButtonCell* box = v->checkbox(c);
        const bool before = box->isChecked();
        EXPECT_TRUE(box->isEnabled());
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        EXPECT_EQ(box->isChecked(), before);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        EXPECT_EQ(box->isChecked(), before);
        box->click();
        box->toggle();
        box->setChecked(!before);
        EXPECT_EQ(box->isChecked(), before);
        if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
            a && a->actionInterface()) {
            for (const QString& action : a->actionInterface()->actionNames())
                a->actionInterface()->doAction(action);
            EXPECT_EQ(box->isChecked(), before);
        }
        box->setFinding(!before);
        EXPECT_EQ(box->isChecked(), !before);
    }
}

TEST_F(ViewControllerTest, PackageAddsOnlyTheSectionsAndItsVerdictAndLeavesTheRestAlone) {
    auto w = window(package(), installerPackageType);
    ViewController* v = w->viewController();
    v->appIDText->setText("before");
    v->versionText->setText("before");
    for (int i = 0; i < checkCount; ++i) v->checkbox(Check(i))->setFinding(i % 2 == 0);
    ASSERT_TRUE(showAndFinish(*w));
    EXPECT_EQ(v->outputTextbox->toPlainText(),
              "\nInstaller package signature info:\n" + w->document()->theInfo->path() +
                  ": accepted\nsource=Notarized Developer ID\n"
                  "\npkgutil signature check:\n⛔️ pkgutil error 1\nPackage \"P.pkg\":\n   "
                  "Status: no signature\n\n\n");
    EXPECT_EQ(v->appIDText->text(), "before");
    EXPECT_EQ(v->versionText->text(), "before");
    for (int i = 0; i < checkCount; ++i) {
        const Check c = Check(i);
        if (c >= Check::isNotarizedCheck) continue;
        EXPECT_EQ(v->checkbox(c)->isChecked(), i % 2 == 0) << checkName(c).toStdString();
    }
    EXPECT_TRUE(v->checkbox(Check::isNotarizedCheck)->isChecked());
    EXPECT_FALSE(v->checkbox(Check::isDevIDCheck)->isChecked());
    EXPECT_FALSE(v->checkbox(Check::isHardenedCheck)->isChecked());
    EXPECT_FALSE(codesign.ran());
    // The app's service grid and SDK row are not shown empty for a package, nor its tabs.
    for (QWidget* box : v->appFindings) EXPECT_FALSE(box->isVisible());
    EXPECT_FALSE(v->tabs->isTabVisible(1));
    EXPECT_FALSE(v->tabs->isTabVisible(2));
    EXPECT_FALSE(varko::testing::menuItem(w.get(), "Export &Privacy Profile…")->isEnabled());
    // The verdict is Gatekeeper's; in place of what an app may use, what the package installs.
    EXPECT_EQ(v->verdictBar->findChild<QLabel*>("verdictHeadline")->text(), "Accepted");
    EXPECT_TRUE(v->verdict().complete);
    const auto* installs = v->verdictBar->findChild<QLabel*>("verdictMayUse");
    ASSERT_TRUE(eventually([&] { return !installs->text().endsWith("…"); }));
    EXPECT_EQ(installs->text(), "nothing: the package has no payload");
}

TEST_F(ViewControllerTest, LabelsNamingAMacMechanismSayWhatWasCheckedInstead) {
    // Where the system has no assessment of its own, as on Linux.
    const host::ToolSet offline = toolSet().withProfile(host::PlatformProfile::journal());
    auto doc = std::make_shared<Document>();
    doc->readFromURL(QUrl::fromLocalFile(app()), applicationBundleType, offline);
    DocumentWindowController w(offline);
    w.setDocument(doc, "A.app");
    ViewController* v = w.viewController();
    ASSERT_TRUE(showAndFinish(w));
    EXPECT_TRUE(v->findChild<QLabel*>("privacyHeader2")
                    ->toolTip()
                    .contains("What a Mac has granted the app is not read here."));
    QLabel* gatekeeper = nullptr;
    for (QLabel* label : v->verdictBar->findChildren<QLabel*>())
        if (label->text() == "Gatekeeper") gatekeeper = label;
    ASSERT_NE(gatekeeper, nullptr);
    EXPECT_TRUE(gatekeeper->toolTip().contains("Varko checks offline what Gatekeeper checks"))
        << gatekeeper->toolTip().toStdString();
    EXPECT_TRUE(v->checkbox(Check::isNotarizedCheck)->toolTip().contains("not checked"));
}

TEST_F(ViewControllerTest, SavedFileHoldsTheTextOfTheMomentSaveWasChosen) {
    // spctl answers only once released, after the dialog has opened.
    const QString release = dir.filePath("release");
    spctl.answer("", 0, "x: accepted\n", untilExists(release));
    auto w = window(app(), applicationBundleType);
    ViewController* v = w->viewController();
    QSignalSpy finished(v, &ViewController::signatureChecksFinished);
    w->show();
    ASSERT_TRUE(finished.isEmpty());
    const QString atSave = v->outputTextbox->toPlainText();
    EXPECT_EQ(v->proposedFileName(), "A.app-Varko.text");
    QFileDialog* dialog = saveDialog(v);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(finished.isEmpty());
    (void)writeFile(release);
    ASSERT_TRUE(finished.wait(20000));
    const QString target = dir.filePath("report.text");
    QSignalSpy saved(v, &ViewController::reportSaved);
    varko::testing::chooseInSaveDialog(dialog, target);
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(10000));
    EXPECT_EQ(readFile(target), atSave.toUtf8());
    EXPECT_NE(atSave, v->outputTextbox->toPlainText());
}

TEST_F(ViewControllerTest, ANameTypedWithoutSuffixGetsItAndAFailedSaveKeepsTheOldFile) {
    auto w = window(app(), applicationBundleType);
    ViewController* v = w->viewController();
    ASSERT_TRUE(showAndFinish(*w));
    QFileDialog* dialog = saveDialog(v);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(dir.path());
    // As a user does: type a bare name and press Return.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("myreport"));
    QSignalSpy saved(v, &ViewController::reportSaved);
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(10000));
    EXPECT_TRUE(QFile::exists(dir.filePath("myreport.text")));
    EXPECT_FALSE(QFile::exists(dir.filePath("myreport")));

    const QString target = dir.filePath("old.text");
    ASSERT_TRUE(writeFile(target, "old report"));
    const QString before = v->outputTextbox->toPlainText();
    {
        const varko::testing::FileSizeLimit limit;  // every write past 16 bytes fails
        ASSERT_TRUE(save(v, target));
    }
    EXPECT_EQ(readFile(target), "old report");
    const QString after = v->outputTextbox->toPlainText();
    EXPECT_TRUE(after.startsWith(before));
    EXPECT_EQ(after.mid(before.size()),
              "\n⛔️ The report could not be saved to " + target + ": File too large.\n");
    EXPECT_EQ(QDir(dir.path()).entryList({"old.text*"}, QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(ViewControllerTest, FontSizeIsBoundedStoredAndApplied) {
    struct Case {
        QVariant stored;
        double loaded;
    };
    for (const Case& c :
         {Case{3.5, 12}, Case{0.0, 12}, Case{QVariant(), 12}, Case{30.0, 30}, Case{12.5, 12.5}}) {
        QSettings().remove("fontSize");
        if (c.stored.isValid()) QSettings().setValue("fontSize", c.stored);
        ViewController v(toolSet());
        EXPECT_EQ(v.theFontSize, c.loaded) << c.stored.toString().toStdString();
    }
    QSettings().setValue("fontSize", 24.0);
    ViewController v(toolSet());
    v.appendOutput("some text");
    v.incFontSize();
    EXPECT_EQ(v.theFontSize, 24.0);
    EXPECT_EQ(QSettings().value("fontSize").toDouble(), 24.0);
    for (int i = 0; i < 30; ++i) v.decFontSize();
    EXPECT_EQ(v.theFontSize, 4.0);
    EXPECT_EQ(QSettings().value("fontSize").toDouble(), 4.0);
    v.incFontSize();
    QTextCursor cursor(v.outputTextbox->document());
    cursor.movePosition(QTextCursor::End);
    EXPECT_EQ(cursor.charFormat().font().pointSizeF(), 5.0);
    EXPECT_EQ(v.outputTextbox->toPlainText(), "some text");

    QSettings().setValue("fontSize", 30.0);
    ViewController big(toolSet());
    big.incFontSize();
    EXPECT_EQ(big.theFontSize, 24.0);
}

TEST_F(ViewControllerTest, AHugeReportFillsTheViewBetweenEventsAndIsSavedWhole) {
    QString report;
    for (int i = 0; i < 100000; ++i)
        report += QStringLiteral("NSKey%1UsageDescription : Why.\n").arg(i);
    report += "NSCameraUsageDescription : " + QString(1'000'000, 'x') + "\nEntitlements:\n";
    ViewController v(toolSet());
    v.resize(700, 600);
    v.show();
    // Counted only while the view fills, so the count says how often events ran between
    // pieces, however long each piece takes.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticks += v.isFillingView() ? 1 : 0; });
    ticker.start(0);
    QSignalSpy filled(&v, &ViewController::viewFilled);
    v.appendOutput(report);
    EXPECT_TRUE(v.isFillingView());
    ASSERT_TRUE(filled.wait(120000));
    EXPECT_GT(ticks, 10) << "the text went in without the event loop running between pieces";
    EXPECT_EQ(v.reportText(), report);
    EXPECT_EQ(v.outputTextbox->toPlainText(), shownForm(report));

    const QString file = dir.filePath("huge.text");
    ASSERT_TRUE(save(&v, file));
    EXPECT_EQ(readFile(file), report.toUtf8());
}

TEST_F(ViewControllerTest, ShowingDoesNotWaitForTheToolsAndClosingEndsThem) {
    // spctl answers only when it is ended, so whatever shows before that came first.
    const QString pidFile = dir.filePath("spctl.pid");
    spctl.answer("", 0, {}, QStringLiteral("echo $$ > '%1'; sleep 600").arg(pidFile));
    auto w = window(app(), applicationBundleType);
    ViewController* v = w->viewController();
    w->show();
    EXPECT_FALSE(v->busySpinner->isHidden());
    EXPECT_TRUE(v->outputTextbox->toPlainText().startsWith("App path: "));
    ASSERT_TRUE(eventually([&] { return varko::testing::pidIn(pidFile) > 0; }));
    const pid_t pid = varko::testing::pidIn(pidFile);

    const QPointer<QThreadPool> pool = v->processingQueue;
    w.reset();  // closed while spctl still runs
    EXPECT_TRUE(eventually([pid] { return !varko::testing::processRuns(pid); }));
    // The retired pool goes only after its run has returned and anything it sent
    // has been handled: none of it may reach the closed window.
    EXPECT_TRUE(eventually([&pool] { return pool.isNull(); }));
}

// What a package would install, in its own tabs: the tree with its flagged entries marked,
// the scripts' text chosen by clicking, and a line in the verdict bar.
TEST_F(ViewControllerTest, APackageShowsItsFilesAndScriptsInTabsOfTheirOwn) {
    using namespace examplegen;
    const auto tool = makeMachO({});
    const auto payload = makeCpio(
        {folderEntry("."), folderEntry("./Foo.app"), fileEntry("./Foo.app/helper", "x", 04755),
         fileEntry("./Foo.app/notes\x1b[2J.txt", "y"),
         fileEntry("./tool", std::string(reinterpret_cast<const char*>(tool.data()), tool.size()),
                   0755)},
        Compression::pbzx);
    const auto scripts = makeCpio({fileEntry("./preinstall", "#!/bin/sh\nexit 0\n", 0755),
                                   fileEntry("./postinstall", "#!/bin/sh\necho done\n", 0755)},
                                  Compression::gzip);
    const auto bytes =
        makeFlatPackage({{"A.pkg/PackageInfo", packageInfo("com.example.a", "1", "/Applications")},
                         {"A.pkg/Payload", payload},
                         {"A.pkg/Scripts", scripts}});
    ASSERT_TRUE(writeFile(dir.filePath("Product.pkg"), bytes));
    auto w = window(dir.filePath("Product.pkg"), installerPackageType);
    ViewController* v = w->viewController();
    ASSERT_TRUE(showAndFinish(*w));
    ASSERT_TRUE(eventually([&] { return v->payloadView->model()->rowCount() > 0; }));
    EXPECT_PRED_FORMAT2(
        ::testing::IsSubstring,
        "Installs: 5 items into /Applications (Foo.app); runs install scripts: preinstall, "
        "postinstall; 1 entry setuid, setgid or world-writable",
        v->verdictBar->text().toStdString());
    QStringList titles;
    for (int i = 0; i < v->tabs->count(); ++i)
        if (v->tabs->isTabVisible(i)) titles << v->tabs->tabText(i);
    // Apps joins them once the app inside has been inspected.
    EXPECT_EQ(titles.mid(0, 3), (QStringList{"Report", "Files", "Scripts"}));

    // Applications › Foo.app › helper, marked with its flag named.
    QAbstractItemModel* model = v->payloadView->model();
    varko::testing::expectDataFile(varko::testing::modelText(*model), "product-files.txt");
    const QModelIndex app = model->index(0, 0, model->index(0, 0));
    EXPECT_TRUE(model->index(0, 0, app).data(Qt::BackgroundRole).isValid());
    EXPECT_FALSE(model->index(1, 0, app).data(Qt::BackgroundRole).isValid());

    // Ctrl+Tab steps over the app's hidden tabs.
    v->tabs->setCurrentIndex(0);
    QTest::keyClick(v->tabs, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(v->tabs->currentWidget(), v->payloadView);
    QTest::keyClick(v->tabs, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(v->tabs->currentWidget(), v->scriptsView);
    QListWidget* list = v->scriptsView->list();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "A.pkg › preinstall");
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(v->scriptsView->textView()->toPlainText(), "#!/bin/sh\necho done\n");
    EXPECT_TRUE(v->scriptsView->textView()->isReadOnly());

    // The app inside, inspected from a private copy that double-clicking opens and that goes
    // with the window.
    ASSERT_TRUE(eventually([&] { return v->appsView->topLevelItemCount() == 2; }));
    EXPECT_TRUE(v->tabs->isTabVisible(v->tabs->indexOf(v->appsView)));
    QTreeWidgetItem* row = v->appsView->topLevelItem(0);
    EXPECT_EQ(row->text(0), "/Applications/Foo.app");
    EXPECT_FALSE(row->text(1).isEmpty());
    // A loose tool is judged by its own signature, and has no window to open.
    QTreeWidgetItem* looseTool = v->appsView->topLevelItem(1);
    EXPECT_EQ(looseTool->text(0), "/Applications/tool");
    EXPECT_EQ(looseTool->text(1), "Tool or library: signature valid");
    EXPECT_EQ(looseTool->text(2), "ad hoc");
    v->tabs->setCurrentWidget(v->appsView);
    QCoreApplication::processEvents();  // lays the page out before it is clicked
    QSignalSpy opened(w.get(), &DocumentWindowController::itemsDropped);
    const QRect toolAt = v->appsView->visualItemRect(looseTool);
    QTest::mouseDClick(v->appsView->viewport(), Qt::LeftButton, {}, toolAt.center());
    EXPECT_EQ(opened.count(), 0);
    const QRect at = v->appsView->visualItemRect(row);
    QTest::mouseClick(v->appsView->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(v->appsView->viewport(), Qt::LeftButton, {}, at.center());
    ASSERT_EQ(opened.count(), 1);
    const QString copy = opened.front().front().toStringList().value(0);
    EXPECT_TRUE(copy.endsWith("/Foo.app") && QFileInfo(copy).isDir()) << copy.toStdString();
    // The copy lies two folders down in the private folder, which only this user may enter.
    const QString privateFolder = QFileInfo(QFileInfo(copy).path()).path();
    EXPECT_EQ(std::filesystem::status(privateFolder.toStdString()).permissions(),
              std::filesystem::perms::owner_all);
    w.reset();
    EXPECT_TRUE(eventually([&] { return !QFileInfo::exists(copy); }));
}

// The Installs line never says more than the listing established.
TEST(InstallsText, APartlyReadOrCutPayloadSaysSo) {
    package::PackageContents contents;
    package::ComponentPackage c;
    c.installLocation = "/Applications";
    c.files.push_back({"/Applications/A.app", package::EntryType::directory, 0755, 0, 0, 0, {}});
    contents.components.push_back(c);
    const QString whole = "1 item into /Applications (A.app)";
    EXPECT_EQ(installsText(contents), whole);
    const struct {
        ErrorCode code;
        QString says;
    } cases[] = {
        {ErrorCode::malformed, whole + "; part of it could not be read, so there may be more"},
        {ErrorCode::tooLarge, whole + "; the listing was cut short (see Files)"},
        {ErrorCode::refused, whole},  // a refused extraction leaves the listing whole
    };
    for (const auto& k : cases) {
        contents.components[0].problems = {Error{0, "Payload: a pbzx chunk is cut short", k.code}};
        EXPECT_EQ(installsText(contents), k.says) << int(k.code);
    }
}

}  // namespace
