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

void expandAllOf(QTreeWidgetItem* item) {
    if (item->childCount() == 0) return;
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i) expandAllOf(item->child(i));
}

/// Adds a row per entry of `list`, as many as `ManifestsView::maxListed`, and one that
/// counts the rest.
template <class List, class Add>
void addListed(QTreeWidgetItem* parent, const List& list, Add addOne) {
    std::size_t count = 0;
    for (const auto& entry : list) {
        if (count++ == ManifestsView::maxListed) {
            add(parent,
                ManifestsView::tr("and %1 more").arg(list.size() - ManifestsView::maxListed));
            break;
        }
        addOne(entry);
    }
}

/// The rows `fill` adds for `m`, at most.
std::size_t rowsOf(const overview::PrivacyManifest& m) {
    const auto listed = [](std::size_t n) {
        return n == 0 ? 0 : 1 + std::min(n, ManifestsView::maxListed + 1);
    };
    return 2 + listed(m.trackingDomains.size()) + listed(m.collectedData.size()) +
           listed(m.accessedApis.size()) + m.problems.size();
}

void fill(QTreeWidgetItem* top, const overview::PrivacyManifest& m) {
    add(top, ManifestsView::tr("Tracking"), yesNo(m.tracking));
    if (!m.trackingDomains.empty()) {
        auto* domains = add(top, ManifestsView::tr("Tracking domains"),
                            QString::number(m.trackingDomains.size()));
        addListed(domains, m.trackingDomains,
                  [&](const std::string& d) { add(domains, shownText(d)); });
    }
    if (!m.collectedData.empty()) {
        auto* data =
            add(top, ManifestsView::tr("Collected data"), QString::number(m.collectedData.size()));
        addListed(data, m.collectedData, [&](const overview::CollectedData& d) {
            QStringList purposes;
            for (const std::string& p : d.purposes) purposes << titled(p);
            add(data, titled(d.type),
                ManifestsView::tr("linked to the user: %1; used to track: %2; for: %3")
                    .arg(yesNo(d.linked), yesNo(d.tracking),
                         purposes.isEmpty() ? ManifestsView::tr("no purpose given")
                                            : purposes.join(QStringLiteral(", "))));
        });
    }
    if (!m.accessedApis.empty()) {
        auto* apis = add(top, ManifestsView::tr("Required-reason APIs"),
                         QString::number(m.accessedApis.size()));
        addListed(apis, m.accessedApis, [&](const overview::AccessedApi& a) {
            QStringList reasons;
            for (const std::string& r : a.reasons) reasons << shownText(r);
            add(apis, titled(a.category),
                reasons.isEmpty() ? ManifestsView::tr("no reason given")
                                  : reasons.join(QStringLiteral(", ")));
        });
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
    header()->setStretchLastSection(true);
    filler.setInterval(0);
    connect(&filler, &QTimer::timeout, this, &ManifestsView::showMore);
}

ManifestsView::Entries ManifestsView::prepare(const overview::Overview& overview) {
    Entries prepared;
    std::size_t rows = 0;
    for (const overview::Component& c : overview.components) {
        if (!c.identity.privacyManifest) continue;
        const overview::PrivacyManifest& m = *c.identity.privacyManifest;
        if (rows >= maxRows) {
            ++prepared.left;
            continue;
        }
        rows += rowsOf(m);
        prepared.entries.push_back({shownText(c.path), componentKindText(c.kind), m});
    }
    return prepared;
}

void ManifestsView::setEntries(Entries entries) {
    filler.stop();
    clear();
    waiting = std::move(entries.entries);
    left = entries.left;
    next = 0;
    if (waiting.empty())
        new QTreeWidgetItem(this,
                            {tr("Neither the app nor its components has a privacy manifest.")});
    showMore();
    // Fitted to the first batch once: fitting to every row would measure thousands.
    resizeColumnToContents(0);
}

void ManifestsView::showMore() {
    const std::size_t end = std::min(waiting.size(), next + manifestsPerTurn);
    // Built apart and added together: one insertion for the view to lay out.
    QList<QTreeWidgetItem*> tops;
    for (; next < end; ++next) {
        auto* top = new QTreeWidgetItem({waiting[next].path, waiting[next].kind});
        fill(top, waiting[next].manifest);
        tops << top;
    }
    if (next == waiting.size() && left > 0)
        tops << new QTreeWidgetItem(
            {tr("%1 more privacy manifests are not listed here; varko-report lists them all.")
                 .arg(left)});
    addTopLevelItems(tops);
    for (QTreeWidgetItem* top : tops) expandAllOf(top);
    if (next < waiting.size()) {
        filler.start();
    } else {
        filler.stop();
        waiting.clear();
        next = 0;
        left = 0;
    }
}

}  // namespace varko
