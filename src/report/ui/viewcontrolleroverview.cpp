// The whole-app view of the inspection window: the verdict bar, and the components and
// privacy services that fill in as they are read and checked.

#include <QHeaderView>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>
#include <QtConcurrent>
#include <atomic>
#include <memory>
#include <mutex>

#include "inspection/document.h"
#include "overview/componentcheck.h"
#include "overview/ui/componentsview.h"
#include "overview/ui/manifestsview.h"
#include "overview/ui/overviewpage.h"
#include "overview/ui/overviewtexts.h"
#include "overview/ui/privacyview.h"
#include "overview/ui/tristateicon.h"
#include "overview/ui/verdictbar.h"
#include "report/iteminspection.h"
#include "report/payloadjson.h"
#include "report/ui/payloadmodel.h"
#include "report/ui/scriptsview.h"
#include "report/ui/viewcontroller.h"
#include "tools/pathbytes.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"

namespace varko {

/// The overview as read, with its rows and manifests made ready on the pool, so that the
/// window only has to show them.
struct PreparedOverview {
    overview::Overview overview;
    ComponentsModel::Rows rows;
    ManifestsView::Entries manifests;
};

/// One window's checks of its components: a few loops on the pool take the pieces in turn
/// and leave their answers here, and the window takes them in on a timer of its own. The
/// loops touch nothing of the window, so a window that closes meanwhile receives nothing.
struct CheckRun {
    struct Piece {
        std::size_t index;
        std::filesystem::path location;
    };
    struct Answer {
        std::size_t index;
        overview::ComponentCheck check;
    };
    std::vector<Piece> pieces;
    std::atomic<std::size_t> next{0};
    /// Raised when the window reads its item anew; the window's cancel flag ends it too.
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<Answer> answers;  ///< under `lock`
    /// The item's hashing, shared by every check: each file once, and bounded in all.
    codesign::HashBudget budget;
};

namespace {

// Answers are taken in together at this pace: the list redraws and the verdict is judged
// this often at most, however quickly thousands of components answer.
constexpr int checkBatchMs = 50;

}  // namespace

void ViewController::startOverview(const QString& path, bool isApp) {
    showsApp = isApp;
    verdictBar->setMayUse({});
    showVerdict();
    const Document* doc = document();
    const bool isPackage = !isApp && doc && doc->isPackage;
    showTab(componentsTab, isApp);
    showTab(privacyTab, isApp);
    if (isPackage) addPackageTabs();
    if (payloadView != nullptr) {
        showTab(payloadView, isPackage);
        showTab(scriptsView, isPackage);
        showTab(appsView, false);
        appsView->clear();
    }
    if (isPackage) {
        // Without the app's service grid the findings need a few lines; the room goes to
        // the tabs that tell what the package installs.
        const auto* area = qobject_cast<QScrollArea*>(splitter->widget(0));
        const int top = area && area->widget() ? area->widget()->sizeHint().height() : 0;
        if (top > 0 && splitter->height() > top)
            splitter->setSizes({top, splitter->height() - top});
        startPayload(path);
    }
    if (!isApp) return;
    itemPath = host::pathToSystem(path).toStdString();
    // Shared, not copied: a result is handed over by copy, and thousands of components
    // are megabytes.
    host::whenFinished(
        this,
        QtConcurrent::run(processingQueue,
                          [item = itemPath, work = work()] {
                              const Work::Scope scope(work);
                              auto read = std::make_shared<PreparedOverview>();
                              read->overview = overview::readOverview(item);
                              read->rows = ComponentsModel::prepareRows(read->overview);
                              read->manifests = ManifestsView::prepare(read->overview);
                              return read;
                          }),
        [this](const std::shared_ptr<PreparedOverview>& read) { overviewArrived(*read); });
}

void ViewController::overviewArrived(PreparedOverview& read) {
    theOverview = std::move(read.overview);
    overviewReady = true;
    buildOverviewTabs();
    componentsView->componentsModel().setRows(std::move(read.rows));
    privacyView->privacyModel().setServices(theOverview.services);
    // No manifest is said in a line, so that the services keep the tab's room.
    const bool anyManifest = !read.manifests.entries.empty();
    manifestsView->setEntries(std::move(read.manifests));
    manifestsView->setVisible(anyManifest);
    componentsPage->setNote(componentsNote(theOverview));
    QString note = privacyNote(theOverview);
    if (!anyManifest)
        note += (note.isEmpty() ? QString() : QStringLiteral(" ")) +
                tr("Neither the app nor its components has a privacy manifest.");
    privacyPage->setNote(note);
    verdictBar->setMayUse(theOverview.problem ? tr("can't tell: the app could not be read")
                                              : mayUseText(theOverview));
    startChecks();
    componentsView->componentsModel().setChecking(checksPending > 0);
    showVerdict();
    emit overviewRead();
    if (checksPending == 0) emit componentsChecked();
}

void ViewController::startChecks() {
    // Answers for an earlier reading would land on the wrong rows.
    if (checkRun) checkRun->stop = true;
    checkRun.reset();
    delete checkApplier;
    checkApplier = nullptr;
    auto run = std::make_shared<CheckRun>();
    for (std::size_t i = 0; i < theOverview.components.size(); ++i)
        if (theOverview.components[i].identity.codeFound)
            run->pieces.push_back({i, theOverview.components[i].location});
    checksPending = run->pieces.size();
    if (run->pieces.empty()) return;
    checkRun = run;
    checkApplier = new QTimer(this);
    checkApplier->setInterval(checkBatchMs);
    connect(checkApplier, &QTimer::timeout, this, &ViewController::applyChecks);
    checkApplier->start();
    const auto check = [run, tools = tools, item = itemPath, cancel = cancel, work = work()] {
        const Work::Scope scope(work);
        for (std::size_t k;
             !run->stop && !cancel->load() && (k = run->next++) < run->pieces.size();) {
            overview::Component piece;
            piece.location = run->pieces[k].location;
            CheckRun::Answer answer{
                run->pieces[k].index,
                overview::verifyComponent(tools, item, piece, cancel, &run->budget)};
            const std::lock_guard<std::mutex> locked(run->lock);
            run->answers.push_back(std::move(answer));
        }
    };
    // No more loops than cores: more would only take turns with the event loop.
    const int loops = std::min({processingQueue->maxThreadCount(),
                                std::max(1, QThread::idealThreadCount()), int(run->pieces.size())});
    for (int i = 0; i < loops; ++i) processingQueue->start(check);
}

void ViewController::applyChecks() {
    if (!checkRun) return;
    std::vector<CheckRun::Answer> answers;
    {
        const std::lock_guard<std::mutex> locked(checkRun->lock);
        answers.swap(checkRun->answers);
    }
    if (answers.empty()) return;
    std::vector<std::size_t> changed;
    bool mainAnswered = false;
    for (CheckRun::Answer& answer : answers) {
        if (answer.index >= theOverview.components.size()) continue;
        theOverview.components[answer.index].check = std::move(answer.check);
        changed.push_back(answer.index);
        mainAnswered = mainAnswered || answer.index == 0;
    }
    ComponentsModel& model = componentsView->componentsModel();
    const overview::PrivacyCatalog& catalog = overview::PrivacyCatalog::builtIn();
    if (mainAnswered) {
        // Whether the others are "inside a signed app" is the main executable's answer.
        overview::flagComponents(theOverview, catalog);
        for (std::size_t i = 0; i < theOverview.components.size(); ++i)
            model.setFlags(i, theOverview.components[i].flags);
    } else {
        overview::flagComponents(theOverview, catalog, changed);
    }
    for (const std::size_t i : changed) {
        const overview::Component& c = theOverview.components[i];
        model.updateCheck(i, *c.check, c.flags);
    }
    checksPending -= std::min(checksPending, changed.size());
    if (checksPending == 0) {
        checkRun.reset();
        checkApplier->deleteLater();
        checkApplier = nullptr;
        model.setChecking(false);
        showVerdict();
        emit componentsChecked();
        return;
    }
    showVerdict();
}

overview::Verdict ViewController::verdict() const {
    const bool online = tools.profile().assessesOnline;
    return overview::judge(showsApp, overviewReady ? &theOverview : nullptr, gatekeeper,
                           {online, online}, notAPackage);
}

void ViewController::showVerdict() {
    verdictBar->setVerdict(verdict());
}

void ViewController::showTab(QWidget* page, bool shown) {
    const int at = tabs->indexOf(page);
    tabs->setTabVisible(at, shown);
    // Ctrl+Tab would still step onto a hidden tab that is enabled.
    tabs->setTabEnabled(at, shown);
}

void ViewController::startPayload(const QString& path) {
    packagePath = path;
    verdictBar->setInstalls(tr("reading the package…"));
    host::whenFinished(
        this,
        QtConcurrent::run(
            processingQueue,
            [item = host::pathToSystem(path).toStdString(), cancel = cancel] {
                package::PayloadBudget budget;
                budget.cancel = cancel.get();
                auto read = package::readPackageContents(item, budget);
                std::optional<Error> problem;
                if (!read) problem = read.error();
                return std::pair(
                    PayloadTree::build(read ? std::move(*read) : package::PackageContents{}),
                    problem);
            }),
        [this](const auto& answer) { payloadArrived(answer.first, answer.second); });
}

void ViewController::payloadArrived(const std::shared_ptr<PayloadTree>& tree,
                                    const std::optional<Error>& problem) {
    payloadModel->setTree(tree);
    payloadView->expandToDepth(1);
    // Widths from the widest value each column can hold: fitting the rows would read only
    // those expanded, and cut the rest.
    payloadView->resizeColumnToContents(PayloadModel::name);
    const QFontMetrics metrics = payloadView->fontMetrics();
    const std::pair<int, QString> widest[] = {
        {PayloadModel::kind, tr("Symbolic link")},
        {PayloadModel::mode, QStringLiteral("0000")},
        {PayloadModel::owner, QStringLiteral("99999:99999")},
        {PayloadModel::size, QLocale().toString(999999999999LL)},
    };
    for (const auto& [column, text] : widest)
        payloadView->setColumnWidth(
            column, std::max(metrics.horizontalAdvance(text) + metrics.averageCharWidth() * 3,
                             payloadView->header()->sectionSizeHint(column)));
    scriptsView->setScripts(tree->contents);
    if (!problem && !payloadApps(tree->contents).empty()) startPackageApps(packagePath);
    verdictBar->setInstalls(
        problem ? tr("can't tell: %1")
                      .arg(host::visibleControls(QString::fromStdString(problem->message)))
                : installsText(tree->contents));
}

namespace {

/// Code other than an app in a word, and what its own signature comes to: "Framework:
/// signature valid".
QString codeWords(package::CodeKind kind, const overview::Overview& overview) {
    const QString what = kind == package::CodeKind::framework ? ViewController::tr("Framework")
                         : kind == package::CodeKind::plugIn
                             ? ViewController::tr("Plug-in")
                             : ViewController::tr("Tool or library");
    const overview::ComponentCheck* check =
        overview.components.empty() || !overview.components.front().check
            ? nullptr
            : &*overview.components.front().check;
    const QString state = !check || check->unchecked ? ViewController::tr("can't tell")
                          : check->valid             ? ViewController::tr("signature valid")
                          : check->signer == overview::Signer::unsigned_
                              ? ViewController::tr("not signed")
                              : ViewController::tr("signature not valid");
    return what + QStringLiteral(": ") + state;
}

}  // namespace

void ViewController::startPackageApps(const QString& path) {
    host::whenFinished(
        this,
        QtConcurrent::run(
            processingQueue,
            [item = host::pathToSystem(path).toStdString(), tools = tools, work = work()] {
                const Work::Scope scope(work);
                PackageApps out;
                out.folder = std::make_shared<package::PrivateFolder>();
                if (out.folder->path().empty()) return out;
                package::PayloadBudget budget;
                budget.cancel = work.cancel.get();
                const auto contents = package::extractPackageApps(
                    item, {out.folder->path(), package::maxExtractedBytes}, budget);
                if (!contents) return out;
                for (const PayloadApp& app : inspectPayloadApps(*contents, tools, work)) {
                    const Inspection& inner = app.inspection;
                    const bool isApp = app.kind == package::CodeKind::app;
                    // Only an app opens in a window of its own.
                    const std::string onDisk = isApp ? app.onDisk.native() : std::string();
                    out.rows.push_back(
                        {host::visibleControls(QString::fromStdString(app.installedPath)),
                         host::pathFromSystem(QByteArray::fromStdString(onDisk)),
                         isApp ? verdictWords(inner.verdict.state)
                               : codeWords(app.kind, *inner.overview),
                         host::visibleControls(QString::fromStdString(inner.verdict.signer)),
                         inner.overview ? mayUseText(*inner.overview) : QString()});
                }
                return out;
            }),
        [this](const PackageApps& apps) { packageAppsArrived(apps); });
}

void ViewController::packageAppsArrived(const PackageApps& apps) {
    packageCopy = apps.folder;
    appsView->clear();
    for (const PackageApps::Row& row : apps.rows) {
        auto* item =
            new QTreeWidgetItem(appsView, {row.installedPath, row.verdict, row.signer, row.mayUse});
        item->setData(0, Qt::UserRole, row.onDisk);
        item->setToolTip(3, row.mayUse);
    }
    for (int column = 0; column < 3; ++column) appsView->resizeColumnToContents(column);
    showTab(appsView, !apps.rows.empty());
}

}  // namespace varko
