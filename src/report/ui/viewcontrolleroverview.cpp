// The whole-app view of the inspection window: the verdict bar, and the components and
// privacy services that fill in as they are read and checked.

#include <QTabWidget>
#include <QtConcurrent>

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

void ViewController::startOverview(const QString& path, bool isApp) {
    showsApp = isApp;
    tabs->setTabVisible(tabs->indexOf(componentsPage), isApp);
    tabs->setTabVisible(tabs->indexOf(privacyPage->parentWidget()), isApp);
    showVerdict();
    if (!isApp) return;
    itemPath = host::pathToSystem(path).toStdString();
    host::whenFinished(
        this,
        QtConcurrent::run(processingQueue,
                          [item = itemPath] { return overview::readOverview(item); }),
        [this](const overview::Overview& read) { overviewArrived(read); });
}

void ViewController::overviewArrived(overview::Overview read) {
    theOverview = std::move(read);
    overviewReady = true;
    componentsView->componentsModel().setOverview(theOverview);
    privacyView->privacyModel().setServices(theOverview.services);
    manifestsView->setOverview(theOverview);
    componentsPage->setNote(componentsNote(theOverview));
    privacyPage->setNote(privacyNote(theOverview));
    checksPending = 0;
    for (std::size_t i = 0; i < theOverview.components.size(); ++i) {
        const overview::Component& c = theOverview.components[i];
        if (!c.identity.codeFound) continue;
        ++checksPending;
        host::whenFinished(
            this,
            QtConcurrent::run(processingQueue,
                              [tools = tools, item = itemPath, c, cancel = cancel] {
                                  return overview::verifyComponent(tools, item, c, cancel);
                              }),
            [this, i](const overview::ComponentCheck& check) { componentChecked(i, check); });
    }
    componentsView->componentsModel().setChecking(checksPending > 0);
    showVerdict();
    emit overviewRead();
    if (checksPending == 0) emit componentsChecked();
}

void ViewController::componentChecked(std::size_t index, const overview::ComponentCheck& check) {
    if (index >= theOverview.components.size()) return;
    std::vector<std::vector<std::string>> before;
    for (const overview::Component& c : theOverview.components) before.push_back(c.flags);
    theOverview.components[index].check = check;
    overview::flagComponents(theOverview, overview::PrivacyCatalog::builtIn());
    ComponentsModel& model = componentsView->componentsModel();
    for (std::size_t i = 0; i < theOverview.components.size(); ++i) {
        if (i == index)
            model.updateCheck(i, check, theOverview.components[i].flags);
        else if (theOverview.components[i].flags != before[i])
            model.setFlags(i, theOverview.components[i].flags);
    }
    if (checksPending > 0 && --checksPending == 0) {
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
