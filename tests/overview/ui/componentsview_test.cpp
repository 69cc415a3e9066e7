#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include "overview/datafile.h"
#include "overview/ui/componentsview.h"
#include "overview/ui/manifestsview.h"
#include "overview/ui/overviewpage.h"
#include "overview/ui/privacyview.h"

namespace varko {
namespace {

using overview::Component;
using overview::ComponentKind;
using M = ComponentsModel;
using testing::expectDataFile;
using testing::modelText;

Component component(ComponentKind kind, std::string path, std::optional<std::size_t> parent,
                    std::string identifier = {}) {
    Component c;
    c.kind = kind;
    c.path = std::move(path);
    c.parent = parent;
    c.identity.identifier = std::move(identifier);
    c.identity.signature = overview::SignatureForm::cms;
    c.identity.teamIdentifier = "A1B2C3D4E5";
    return c;
}

// An app with a framework that holds a helper, an XPC service, a plug-in with a hostile
// name, and an entry whose parent points forward, as a broken list could.
overview::Overview sample() {
    overview::Overview o;
    o.isApp = true;
    o.components = {
        component(ComponentKind::mainExecutable, "Contents/MacOS/Example", {}, "com.example"),
        component(ComponentKind::framework, "Contents/Frameworks/Kit.framework", 0, "com.kit"),
        component(ComponentKind::helper, "Contents/Frameworks/Kit.framework/Versions/A/Helpers/kh",
                  1),
        component(ComponentKind::xpcService, "Contents/XPCServices/Fetch.xpc", 0, "com.fetch"),
        component(ComponentKind::plugIn, "Contents/PlugIns/<b>x\ny.bundle", 0),
        component(ComponentKind::loginItem, "Contents/Library/LoginItems/Odd.app", 9),
    };
    o.components[0].identity.hardenedRuntime = true;
    o.components[0].identity.usageDescriptions = {{"NSCameraUsageDescription", "<i>Scan</i>"}};
    o.components[4].flags = {"unsigned", "risky-entitlement:com.apple.security.get-task-allow",
                             "privacy-beyond-main"};
    overview::ServiceUse camera{"kTCCServiceCamera",
                                "Camera",
                                true,
                                {"NSCameraUsageDescription"},
                                {"com.apple.security.device.camera"},
                                {},
                                {"Contents/XPCServices/Fetch.xpc"},
                                {}};
    overview::ServiceUse odd{"kTCCServiceSomethingNew",
                             "kTCCServiceSomethingNew",
                             false,
                             {},
                             {},
                             {},
                             {"Contents/Frameworks/Kit.framework"},
                             {}};
    o.services = {camera, odd};
    return o;
}

QString shown(const QModelIndex& index, int column, int role = Qt::DisplayRole) {
    return index.siblingAtColumn(column).data(role).toString();
}

TEST(ComponentsView, RowsNestByParentAndSayWhatEachIs) {
    ComponentsView view;
    M& model = view.componentsModel();
    model.setOverview(sample());
    // The main executable, then the one its parent list could not place on top.
    expectDataFile(modelText(model), "sample-components.txt");
    EXPECT_EQ(model.parent(model.indexOf(2)), model.indexOf(1));
    EXPECT_EQ(model.index(1, 0), model.indexOf(5));
    EXPECT_EQ(model.index(0, 0, model.indexOf(1)), model.indexOf(2));
    EXPECT_TRUE(view.isExpanded(model.indexOf(1)));
    EXPECT_EQ(shown(model.indexOf(2), M::name, M::PathRole),
              "Contents/Frameworks/Kit.framework/Versions/A/Helpers/kh");
    const QModelIndex main = model.indexOf(0);
    EXPECT_TRUE(shown(main, M::usageKeys, Qt::ToolTipRole).contains("&lt;i&gt;Scan&lt;/i&gt;"));
    model.setChecking(false);
    EXPECT_EQ(shown(main, M::signer), "Not checked");
}

TEST(ComponentsView, HostileNamesShowLiterallyAndFlaggedRowsSayWhy) {
    ComponentsView view;
    view.componentsModel().setOverview(sample());
    view.resize(900, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QModelIndex plugIn = view.componentsModel().indexOf(4);
    EXPECT_EQ(shown(plugIn, M::name), QString::fromUtf8("Contents/PlugIns/<b>x\u240Ay.bundle"));
    EXPECT_TRUE(plugIn.data(M::FlaggedRole).toBool());
    EXPECT_FALSE(plugIn.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(view.componentsModel().indexOf(3).data(M::FlaggedRole).toBool());

    // Hovering the row shows its tooltip: the flags in words, the name escaped.
    const QPoint at = view.visualRect(plugIn).center();
    QHelpEvent hover(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &hover);
    const QString tip = QToolTip::text();
    EXPECT_TRUE(tip.contains("&lt;b&gt;x")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("<b>x"));
    for (const char* words :
         {"unsigned code inside a signed app",
          "risky entitlement: com.apple.security.get-task-allow",
          "holds a privacy entitlement or allowance the main executable does not"})
        EXPECT_TRUE(tip.contains(words)) << words;
    EXPECT_EQ(shown(plugIn, M::flags),
              "Unsigned, Risky: com.apple.security.get-task-allow, More privacy than the app");
}

TEST(ComponentsView, AnAnswerChangesOnlyItsRowAndKeepsSelectionAndExpansion) {
    ComponentsView view;
    M& model = view.componentsModel();
    model.setOverview(sample());
    view.resize(900, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      view.visualRect(model.indexOf(2)).center());
    view.setCurrentIndex(model.indexOf(1));
    QTest::keyClick(&view, Qt::Key_Left);  // collapses the framework
    ASSERT_FALSE(view.isExpanded(model.indexOf(1)));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      view.visualRect(model.indexOf(3)).center());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    overview::ComponentCheck check;
    check.signer = overview::Signer::developerId;
    check.valid = false;
    check.reason = "a sealed resource is missing or invalid";
    check.leafName = "Developer ID Application: Other (Z9Z9Z9Z9Z9)";
    model.updateCheck(3, check, {"team-mismatch"});
    model.updateCheck(99, check, {});  // no such component: ignored

    EXPECT_EQ(reset.count(), 0);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.indexOf(3, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.indexOf(3, M::columnCount_ - 1));
    EXPECT_EQ(view.currentIndex().siblingAtColumn(0), model.indexOf(3));
    EXPECT_EQ(view.selectionModel()->selectedRows(), QModelIndexList{model.indexOf(3)});
    EXPECT_FALSE(view.isExpanded(model.indexOf(1)));
    EXPECT_TRUE(view.isExpanded(model.indexOf(0)));

    // The XPC service's row says its answer; every other row still waits for its own.
    expectDataFile(modelText(model), "sample-components-one-answered.txt");
    const QModelIndex xpc = model.indexOf(3);
    EXPECT_TRUE(shown(xpc, M::valid, Qt::ToolTipRole).contains(check.reason.c_str()));
    EXPECT_TRUE(shown(xpc, M::name, Qt::ToolTipRole)
                    .contains("Team ID differs from the main executable&#x27;s") ||
                shown(xpc, M::name, Qt::ToolTipRole)
                    .contains("Team ID differs from the main executable's"));
    EXPECT_TRUE(xpc.data(M::FlaggedRole).toBool());

    // Copy takes the selected row's cells as shown.
    QTest::keySequence(&view, QKeySequence::Copy);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(
        "Contents/XPCServices/Fetch.xpc\tXPC service\tcom.fetch\t\tDeveloper ID\t"));
}

TEST(ComponentsView, ThousandsOfRowsArriveInBatchesEachUnderItsParent) {
    // Chains ten deep, so that batches end between parents and their children.
    overview::Overview o;
    o.components.push_back(component(ComponentKind::mainExecutable, "Contents/MacOS/Big", {}));
    const std::size_t count = 3 * M::rowsPerTurn + 17;
    for (std::size_t i = 1; i < count; ++i)
        o.components.push_back(
            component(ComponentKind::framework, "F" + std::to_string(i), i % 10 == 1 ? 0 : i - 1));
    o.components.push_back(component(ComponentKind::helper, "forward", count + 5));

    ComponentsView view;
    M& model = view.componentsModel();
    // Every insertion must agree with what the model says before and after it.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy filled(&model, &M::filled);
    model.setOverview(o);
    EXPECT_EQ(model.componentCount(), M::rowsPerTurn);
    EXPECT_TRUE(model.isFilling());
    overview::ComponentCheck check;
    check.valid = true;
    model.updateCheck(count, check, {});  // not shown yet: kept for when it is
    ASSERT_TRUE(filled.wait(10000));

    EXPECT_EQ(model.componentCount(), count + 1);
    EXPECT_EQ(model.rowCount(), 2);  // the main executable and the one whose parent comes later
    for (std::size_t i = 1; i < count; ++i) {
        const QModelIndex parent = model.indexOf(i % 10 == 1 ? 0 : i - 1);
        ASSERT_EQ(model.parent(model.indexOf(i)), parent) << i;
        ASSERT_TRUE(view.isExpanded(parent)) << i;
    }
    EXPECT_EQ(shown(model.indexOf(count), M::valid), "Valid");

    // A new overview while the old one still fills replaces it whole.
    model.setOverview(o);
    model.setOverview(sample());
    QCoreApplication::processEvents();
    EXPECT_EQ(model.componentCount(), sample().components.size());
    EXPECT_FALSE(model.isFilling());
}

TEST(PrivacyView, EveryServiceIsARowAndUnknownOnesStandOut) {
    PrivacyView view;
    PrivacyModel& model = view.privacyModel();
    auto services = sample().services;
    services[1].service = "kTCCService<b>New\n";
    model.setServices(services);
    expectDataFile(modelText(model), "sample-services.txt");
    const QModelIndex camera = model.index(0, 0), odd = model.index(1, 0);
    EXPECT_FALSE(camera.data(Qt::BackgroundRole).isValid());
    EXPECT_FALSE(odd.data(PrivacyModel::KnownRole).toBool());
    EXPECT_TRUE(odd.data(Qt::BackgroundRole).isValid());
    EXPECT_FALSE(odd.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_TRUE(shown(odd, 0, Qt::ToolTipRole).contains("kTCCService&lt;b&gt;New"));
}

TEST(OverviewPage, SaysWhenTheListIsIncomplete) {
    auto* view = new ComponentsView;
    OverviewPage page(view);
    overview::Overview whole = sample();
    page.setNote(componentsNote(whole));
    EXPECT_TRUE(page.findChild<QLabel*>()->isHidden());
    whole.componentsCut = true;
    page.setNote(componentsNote(whole));
    EXPECT_FALSE(page.findChild<QLabel*>()->isHidden());
    EXPECT_TRUE(page.note().contains("5000"));
    whole.problem = Error{0, "not a bundle\n<b>", ErrorCode::unsupported};
    EXPECT_EQ(componentsNote(whole),
              QString::fromUtf8("The bundle's code could not be listed: not a bundle\u240A<b>"));
    EXPECT_EQ(page.findChild<QLabel*>()->textFormat(), Qt::PlainText);
}

TEST(ManifestsView, EachManifestSaysWhatItDeclaresInWords) {
    overview::Overview o;
    Component main;
    main.path = "Contents/MacOS/App";
    overview::PrivacyManifest m;
    m.tracking = true;
    m.trackingDomains = {"evil\n.example"};
    m.collectedData = {{"NSPrivacyCollectedDataTypeEmailAddress",
                        true,
                        false,
                        {"NSPrivacyCollectedDataTypePurposeAnalytics"}}};
    m.accessedApis = {{"NSPrivacyAccessedAPICategoryUserDefaults", {"CA92.1"}}};
    main.identity.privacyManifest = m;
    Component kit;
    kit.kind = ComponentKind::framework;
    kit.path = "Contents/Frameworks/Kit.framework";
    o.components = {main, kit};

    ManifestsView view;
    view.setOverview(o);
    // The framework has none; a line feed in a domain shows as its picture.
    expectDataFile(modelText(*view.model()), "sample-manifest.txt");

    o.components = {kit};
    view.setOverview(o);
    ASSERT_EQ(view.topLevelItemCount(), 1);
    EXPECT_TRUE(view.topLevelItem(0)->text(0).startsWith("Neither"));
}

TEST(ManifestsView, AHostileNumberOfManifestsIsShownInPartAndCounted) {
    overview::Overview o;
    overview::PrivacyManifest m;
    for (int i = 0; i < 150; ++i) m.trackingDomains.push_back("t" + std::to_string(i));
    for (int i = 0; i < 300; ++i) {
        Component c;
        c.path = "Contents/Frameworks/K" + std::to_string(i) + ".framework";
        c.identity.privacyManifest = m;
        o.components.push_back(c);
    }
    ManifestsView view;
    view.setOverview(o);
    EXPECT_TRUE(view.isFilling());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isFilling(); }, 10000));

    // Each manifest's rows: itself, tracking, the domains' heading, 100 domains and a count.
    const int perManifest = 2 + 1 + int(ManifestsView::maxListed) + 1;
    const int shownManifests = int(ManifestsView::maxRows + perManifest - 1) / perManifest;
    ASSERT_EQ(view.topLevelItemCount(), shownManifests + 1);
    const QTreeWidgetItem* domains = view.topLevelItem(0)->child(1);
    EXPECT_EQ(domains->childCount(), int(ManifestsView::maxListed) + 1);
    EXPECT_EQ(domains->child(domains->childCount() - 1)->text(0), "and 50 more");
    EXPECT_TRUE(view.topLevelItem(shownManifests)
                    ->text(0)
                    .startsWith(QString::number(300 - shownManifests) + " more privacy manifests"));
}

}  // namespace
}  // namespace varko
