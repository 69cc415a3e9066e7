// The inspection window's controls: what the interface definition would hold.

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "inspection/infoservice.h"
#include "overview/ui/componentsview.h"
#include "overview/ui/manifestsview.h"
#include "overview/ui/overviewpage.h"
#include "overview/ui/privacyview.h"
#include "overview/ui/verdictbar.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/payloadmodel.h"
#include "report/ui/scriptsview.h"
#include "report/ui/viewcontroller.h"
#include "ui/findbar.h"

namespace varko {

void ViewController::buildInterface() {
    const auto make = [this](Check check, const QString& text, const QString& meaning) {
        auto* box = new NoTouchButtonCell(text, this);
        box->setObjectName(checkName(check));
        box->setToolTip(meaning);
        box->setAccessibleName(meaning);
        checkboxes[std::size_t(check)] = box;
        return box;
    };

    appIDText = new QLineEdit(this);
    versionText = new QLineEdit(this);
    for (QLineEdit* field : {appIDText, versionText}) {
        field->setReadOnly(true);
        field->setPlaceholderText(tr("—"));
    }
    appIDText->setObjectName("appIDText");
    versionText->setObjectName("versionText");

    busySpinner = new QProgressBar(this);
    busySpinner->setRange(0, 0);  // indeterminate: it turns until hidden
    busySpinner->setTextVisible(false);
    busySpinner->setMaximumWidth(120);
    busySpinner->setAccessibleName(tr("Checking the signature"));

    auto* identity = new QFormLayout;
    identity->addRow(tr("Bundle identifier:"), appIDText);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(versionText, 1);
    versionRow->addWidget(busySpinner);
    identity->addRow(tr("Version:"), versionRow);

    // One row per service, one column per kind of permission; a missing checkbox
    // means the platform has no such permission for that service.
    auto* privacy = new QGroupBox(tr("Privacy"), this);
    auto* grid = new QGridLayout(privacy);
    const QString headers[] = {tr("Asks with a usage description"), tr("Public entitlement"),
                               tr("Private TCC allowance")};
    // Plain text in a bold font: a rich text label lays out a whole text document for each
    // width the grid tries while the window opens.
    QFont bold = font();
    bold.setBold(true);
    for (int col = 0; col < 3; ++col) {
        auto* header = new QLabel(headers[col], privacy);
        header->setObjectName(QStringLiteral("privacyHeader%1").arg(col));
        header->setTextFormat(Qt::PlainText);
        header->setFont(bold);
        header->setAlignment(Qt::AlignCenter);
        header->setWordWrap(true);
        grid->addWidget(header, 0, col + 1);
    }
    const QString meanings[] = {tr("%1: the app declares a usage description"),
                                tr("%1: the signature carries the public entitlement"),
                                tr("%1: the private TCC allow-list names the service")};
    int row = 1;
    for (const InfoService& s : infoServices) {
        const QString service = tr(s.label);
        grid->addWidget(new QLabel(service, privacy), row, 0);
        const std::optional<Check> cells[] = {s.usageCheck, s.entitlement.check, s.allowance.check};
        for (int col = 0; col < 3; ++col) {
            if (!cells[col]) continue;
            grid->addWidget(make(*cells[col], {}, meanings[col].arg(service)), row, col + 1,
                            Qt::AlignCenter);
        }
        ++row;
    }
    grid->setColumnStretch(0, 2);
    for (int col = 1; col <= 3; ++col) grid->setColumnStretch(col, 1);

    auto* sdk = new QGroupBox(tr("Built with the SDK of"), this);
    appFindings = {privacy, sdk};
    auto* sdkRow = new QHBoxLayout(sdk);
    using C = Check;
    sdkRow->addWidget(make(C::hsCheck, tr("macOS 10.13"), tr("Built against the macOS 10.13 SDK")));
    sdkRow->addWidget(make(C::mojaveCheck, tr("10.14"), tr("Built against the macOS 10.14 SDK")));
    sdkRow->addWidget(make(C::catalinaCheck, tr("10.15"), tr("Built against the macOS 10.15 SDK")));
    sdkRow->addWidget(
        make(C::tensixteenCheck, tr("10.16 / 11"), tr("Built against the macOS 10.16 or 11 SDK")));
    sdkRow->addWidget(
        make(C::appleCheck, tr("Apple-internal SDK"), tr("Built against an Apple-internal SDK")));
    sdkRow->addStretch();

    auto* signature = new QGroupBox(tr("Signature"), this);
    auto* sigRow = new QHBoxLayout(signature);
    sigRow->addWidget(
        make(C::isNotarizedCheck, tr("Notarized"), tr("Gatekeeper accepts it as notarized")));
    sigRow->addWidget(
        make(C::isAppleCheck, tr("Apple"), tr("Signed by Apple as part of the system")));
    sigRow->addWidget(
        make(C::isAppStoreCheck, tr("Mac App Store"), tr("Signed for the Mac App Store")));
    sigRow->addWidget(make(C::isDevIDCheck, tr("Developer ID"), tr("Signed with a Developer ID")));
    sigRow->addWidget(
        make(C::isHardenedCheck, tr("Hardened runtime"), tr("Runs with the hardened runtime")));
    sigRow->addStretch();

    outputTextbox = new ReportTextView(report, this);
    outputTextbox->setObjectName("outputTextbox");
    outputTextbox->setReadOnly(true);
    outputTextbox->setAcceptDrops(false);  // dropped items go to the window, to be opened
    outputTextbox->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    outputTextbox->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);

    // The findings scroll on their own, so that on a small screen the report keeps
    // its room and the user drags the splitter to choose.
    auto* findings = new QWidget;
    auto* findingsLayout = new QVBoxLayout(findings);
    findingsLayout->setContentsMargins(0, 0, 0, 0);
    findingsLayout->addLayout(identity);
    findingsLayout->addWidget(privacy);
    findingsLayout->addWidget(sdk);
    findingsLayout->addWidget(signature);
    findingsLayout->addStretch();
    auto* findingsArea = new QScrollArea;
    findingsArea->setWidget(findings);
    findingsArea->setWidgetResizable(true);
    findingsArea->setFrameShape(QFrame::NoFrame);
    findingsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    findingsArea->setMinimumWidth(findings->minimumSizeHint().width());

    // Beside the report, what the whole app holds; the report stays as it always was.
    componentsTab = new QWidget;
    privacyTab = new QWidget;
    tabs = new QTabWidget(this);
    tabs->setObjectName("reportTabs");
    tabs->setDocumentMode(true);
    tabs->addTab(outputTextbox, tr("Report"));
    tabs->addTab(componentsTab, tr("Components"));
    tabs->addTab(privacyTab, tr("Privacy"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (tabs->widget(index) == componentsTab || tabs->widget(index) == privacyTab)
            buildOverviewTabs();
    });

    verdictBar = new VerdictBar(this);
    verdictBar->setObjectName("verdictBar");

    splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName("findingsSplitter");
    splitter->addWidget(findingsArea);
    splitter->addWidget(tabs);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    outputTextbox->setMinimumHeight(outputTextbox->fontMetrics().lineSpacing() * 4);
    splitter->setSizes({findings->sizeHint().height(), findings->sizeHint().height()});

    findBar = new FindBar(this);
    connect(findBar, &FindBar::findNext, this, [this](const QString& text) { findText(text); });
    connect(findBar, &FindBar::findPrevious, this,
            [this](const QString& text) { findText(text, true); });
    connect(findBar, &FindBar::dismissed, outputTextbox, [this] { outputTextbox->setFocus(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(verdictBar);
    layout->addWidget(splitter, 1);
    layout->addWidget(findBar);
    explainMacMechanisms();
}

void ViewController::buildOverviewTabs() {
    if (componentsView != nullptr) return;
    componentsView = new ComponentsView;
    componentsView->setObjectName("componentsView");
    componentsPage = new OverviewPage(componentsView);
    privacyView = new PrivacyView;
    privacyView->setObjectName("privacyView");
    privacyPage = new OverviewPage(privacyView);
    manifestsView = new ManifestsView;
    manifestsView->setObjectName("manifestsView");
    // The services above, what the manifests declare below.
    auto* privacySplit = new QSplitter(Qt::Vertical);
    privacySplit->setObjectName("privacySplitter");
    privacySplit->addWidget(privacyPage);
    privacySplit->addWidget(manifestsView);
    privacySplit->setChildrenCollapsible(false);
    // The tab stays where it was, as shown or hidden and as chosen as it was.
    const QSignalBlocker quiet(tabs);
    const int current = tabs->currentIndex();
    const auto replace = [this](QWidget*& tab, QWidget* page) {
        const int at = tabs->indexOf(tab);
        const bool shown = tabs->isTabVisible(at);
        tabs->insertTab(at, page, tabs->tabText(at));
        tabs->removeTab(at + 1);
        delete tab;
        tab = page;
        showTab(page, shown);
    };
    replace(componentsTab, componentsPage);
    replace(privacyTab, privacySplit);
    tabs->setCurrentIndex(current);
}

void ViewController::addPackageTabs() {
    if (payloadView != nullptr) return;
    payloadModel = new PayloadModel(this);
    payloadView = new QTreeView;
    payloadView->setObjectName("payloadView");
    payloadView->setModel(payloadModel);
    payloadView->setUniformRowHeights(true);
    payloadView->setAlternatingRowColors(true);
    scriptsView = new ScriptsView;
    appsView = new QTreeWidget;
    appsView->setObjectName("packageAppsView");
    appsView->setRootIsDecorated(false);
    appsView->setHeaderLabels({tr("App"), tr("Verdict"), tr("Signed by"), tr("May use")});
    tabs->addTab(payloadView, tr("Files"));
    tabs->addTab(scriptsView, tr("Scripts"));
    tabs->addTab(appsView, tr("Apps"));
    // Double-click or Return: the app's copy opens as if dropped on this window.
    connect(appsView, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const QString copy = item->data(0, Qt::UserRole).toString();
        if (auto* w = qobject_cast<DocumentWindowController*>(window()); w && !copy.isEmpty())
            emit w->itemsDropped({copy});
    });
}

void ViewController::explainMacMechanisms() {
    // TCC is the Mac's own record of what the user granted; only the app's claims are read.
    findChild<QLabel*>(QStringLiteral("privacyHeader2"))
        ->setToolTip(tr("The private TCC allow-list in the app's signature "
                        "(com.apple.private.tcc.allow): services it claims to use without "
                        "asking. What a Mac has granted the app is not read here."));
    if (tools.profile().assessesOnline) return;
    // Here the names stand for Varko's own offline checks, which must not pass for Apple's.
    verdictBar->setLabelNote(
        QStringLiteral("Gatekeeper"),
        tr("On this computer Varko checks offline what Gatekeeper checks: every code page, the "
           "sealed resources, nested code and the certificate chain up to Apple's roots. "
           "Revocation and notarization need Apple's servers and are not checked."));
    checkbox(Check::isNotarizedCheck)
        ->setToolTip(tr("Gatekeeper accepts it as notarized. Notarization needs Apple's "
                        "servers: on this computer it is not checked, and this stays off."));
}

}  // namespace varko
