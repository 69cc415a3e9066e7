#include "overview/ui/manifestsview.h"

#include <QHeaderView>

#include "overview/ui/overviewtexts.h"

namespace varko {

namespace {

QString titled(const std::string& value) {
    const std::string_view title = overview::manifestTitle(value);
    return shownText(title.empty() ? std::string_view(value) : title);
}

QString yesNo(const std::optional<bool>& value) {
    if (!value) return ManifestsView::tr("not said");
    return *value ? ManifestsView::tr("yes") : ManifestsView::tr("no");
}

QTreeWidgetItem* add(QTreeWidgetItem* parent, const QString& what, const QString& detail = {}) {
    auto* item = new QTreeWidgetItem(parent, {what, detail});
    item->setToolTip(1, detail);
    return item;
}

void fill(QTreeWidgetItem* top, const overview::PrivacyManifest& m) {
    add(top, ManifestsView::tr("Tracking"), yesNo(m.tracking));
    if (!m.trackingDomains.empty()) {
        auto* domains = add(top, ManifestsView::tr("Tracking domains"),
                            QString::number(m.trackingDomains.size()));
        for (const std::string& d : m.trackingDomains) add(domains, shownText(d));
    }
    if (!m.collectedData.empty()) {
        auto* data =
            add(top, ManifestsView::tr("Collected data"), QString::number(m.collectedData.size()));
        for (const overview::CollectedData& d : m.collectedData) {
            QStringList purposes;
            for (const std::string& p : d.purposes) purposes << titled(p);
            add(data, titled(d.type),
                ManifestsView::tr("linked to the user: %1; used to track: %2; for: %3")
                    .arg(yesNo(d.linked), yesNo(d.tracking),
                         purposes.isEmpty() ? ManifestsView::tr("no purpose given")
                                            : purposes.join(QStringLiteral(", "))));
        }
    }
    if (!m.accessedApis.empty()) {
        auto* apis = add(top, ManifestsView::tr("Required-reason APIs"),
                         QString::number(m.accessedApis.size()));
        for (const overview::AccessedApi& a : m.accessedApis) {
            QStringList reasons;
            for (const std::string& r : a.reasons) reasons << shownText(r);
            add(apis, titled(a.category),
                reasons.isEmpty() ? ManifestsView::tr("no reason given")
                                  : reasons.join(QStringLiteral(", ")));
        }
    }
    for (const std::string& problem : m.problems)
        add(top, ManifestsView::tr("Problem"), shownText(problem));
}

}  // namespace

ManifestsView::ManifestsView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderLabels({tr("Privacy manifest"), tr("Declares")});
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header()->setStretchLastSection(true);
}

void ManifestsView::setOverview(const overview::Overview& overview) {
    clear();
    for (const overview::Component& c : overview.components) {
        if (!c.identity.privacyManifest) continue;
        auto* top = new QTreeWidgetItem(this, {shownText(c.path), componentKindText(c.kind)});
        fill(top, *c.identity.privacyManifest);
    }
    if (topLevelItemCount() == 0)
        new QTreeWidgetItem(this,
                            {tr("Neither the app nor its components has a privacy manifest.")});
    expandAll();
}

}  // namespace varko
