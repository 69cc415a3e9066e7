// The whole-app view of the inspection window: the verdict bar, and the components and
// privacy services that fill in as they are read and checked.

#include <QTabWidget>
#include <QtConcurrent>
#include <memory>

#include "overview/componentcheck.h"
#include "overview/ui/componentsview.h"
#include "overview/ui/manifestsview.h"
#include "overview/ui/overviewpage.h"
#include "overview/ui/privacyview.h"
#include "overview/ui/verdictbar.h"
#include "report/ui/viewcontroller.h"
#include "tools/pathbytes.h"
#include "tools/threadpools.h"

namespace varko {

/// The overview as read, with its rows and manifests made ready on the pool, so that the
/// window only has to show them.
struct PreparedOverview {
    overview::Overview overview;
    ComponentsModel::Rows rows;
    ManifestsView::Entries manifests;
};

namespace {

// Answers taken in together: the list redraws and the verdict is judged this often at most.
constexpr int checkBatchMs = 50;

}  // namespace

void ViewController::startOverview(const QString& path, bool isApp) {
    showsApp = isApp;
    tabs->setTabVisible(tabs->indexOf(componentsPage), isApp);
    tabs->setTabVisible(tabs->indexOf(privacyPage->parentWidget()), isApp);
    showVerdict();
    if (!isApp) return;
    itemPath = host::pathToSystem(path).toStdString();
    // Shared, not copied: a result is handed over by copy, and thousands of components
    // are megabytes.
    host::whenFinished(
        this,
        QtConcurrent::run(processingQueue,
                          [item = itemPath] {
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
    componentsView->componentsModel().setRows(std::move(read.rows));
    privacyView->privacyModel().setServices(theOverview.services);
    manifestsView->setEntries(std::move(read.manifests));
    componentsPage->setNote(componentsNote(theOverview));
    startChecks();
    componentsView->componentsModel().setChecking(checksPending > 0);
    showVerdict();
    emit overviewRead();
    if (checksPending == 0) emit componentsChecked();
}

void ViewController::startChecks() {
    // Answers for an earlier reading would land on the wrong rows.
    if (checkWatcher) {
        checkWatcher->future().cancel();
        delete checkWatcher;
        delete checkApplier;
        answered.clear();
    }
    // The checks need only where each piece lies.
    struct Piece {
        std::size_t index;
        std::filesystem::path location;
    };
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < theOverview.components.size(); ++i)
        if (theOverview.components[i].identity.codeFound)
            pieces.push_back({i, theOverview.components[i].location});
    checksPending = pieces.size();
    if (pieces.empty()) return;
    checkApplier = new QTimer(this);
    checkApplier->setSingleShot(true);
    checkApplier->setInterval(checkBatchMs);
    connect(checkApplier, &QTimer::timeout, this, &ViewController::applyChecks);
    checkWatcher = new QFutureWatcher<CheckAnswer>(this);
    connect(checkWatcher, &QFutureWatcherBase::resultsReadyAt, this, [this](int begin, int end) {
        for (int i = begin; i < end; ++i) answered.push_back(checkWatcher->resultAt(i));
        if (!checkApplier->isActive()) checkApplier->start();
    });
    // The last answers come before the end: take them in now rather than a batch later.
    connect(checkWatcher, &QFutureWatcherBase::finished, this, &ViewController::applyChecks);
    checkWatcher->setFuture(QtConcurrent::mapped(
        processingQueue, std::move(pieces),
        [tools = tools, item = itemPath, cancel = cancel](const Piece& piece) {
            overview::Component c;
            c.location = piece.location;
            return CheckAnswer{piece.index, overview::verifyComponent(tools, item, c, cancel)};
        }));
}

void ViewController::applyChecks() {
    if (answered.empty()) return;
    const std::vector<CheckAnswer> answers = std::exchange(answered, {});
    std::vector<std::size_t> changed;
    bool mainAnswered = false;
    for (const CheckAnswer& answer : answers) {
        if (answer.index >= theOverview.components.size()) continue;
        theOverview.components[answer.index].check = answer.check;
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
        // Its future holds every answer until it goes.
        checkWatcher->deleteLater();
        checkWatcher = nullptr;
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
                           {online, online});
}

void ViewController::showVerdict() {
    verdictBar->setVerdict(verdict());
}

}  // namespace varko
