#include "scan/ui/applicationsmodel.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "overview/privacycatalog.h"
#include "tools/utf8.h"

namespace varko {

namespace {

/// The name the scan gives a service of the table, as the privacy services view does.
QString serviceKey(const overview::PrivacyService& row) {
    if (!row.tccServices.empty()) return QString::fromStdString(row.tccServices.front());
    if (!row.usageKeys.empty()) return QString::fromStdString(row.usageKeys.front().key);
    return QString::fromStdString(row.entitlements.empty() ? row.id : row.entitlements.front());
}

/// A service in words: the table's title, or the item's own name for it, made visible.
QString serviceTitle(const scan::ItemService& service) {
    return service.title.isEmpty() ? ApplicationsModel::tr("unknown service %1")
                                         .arg(host::visibleControls(service.name))
                                   : host::visibleControls(service.title);
}

const QString unreadableKey = QStringLiteral("unreadable");

}  // namespace

SignerKind signerKind(QStringView signer) {
    // The leaf names Apple gives each kind of certificate.
    if (signer == u"ad hoc") return SignerKind::adHoc;
    if (signer == u"unsigned") return SignerKind::unsigned_;
    if (signer == u"Software Signing" || signer.startsWith(u"Apple Code Signing"))
        return SignerKind::apple;
    if (signer == u"Apple Mac OS Application Signing" ||
        signer.startsWith(u"Apple iPhone OS Application Signing") ||
        signer.startsWith(u"3rd Party Mac Developer") || signer.startsWith(u"Apple Distribution:"))
        return SignerKind::appStore;
    if (signer.startsWith(u"Developer ID ")) return SignerKind::developerId;
    if (signer.startsWith(u"Apple Development:") || signer.startsWith(u"Mac Developer:") ||
        signer.startsWith(u"iPhone Developer:"))
        return SignerKind::development;
    return SignerKind::other;
}

ApplicationsModel::ApplicationsModel(QObject* parent) : QAbstractTableModel(parent) {
    for (const overview::PrivacyService& row : overview::PrivacyCatalog::builtIn().services()) {
        ServiceName service{serviceKey(row), QString::fromStdString(row.title)};
        if (serviceIndexes.contains(service.key)) continue;
        serviceIndexes.insert(service.key, int(serviceNames.size()));
        serviceNames.push_back(std::move(service));
    }
}

int ApplicationsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

int ApplicationsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

const QString& ApplicationsModel::verdictKey(int row) const {
    return rows[row].summary.unreadable ? unreadableKey : rows[row].summary.verdict;
}

scan::ServiceMarks ApplicationsModel::marks(int row, int service) const {
    const auto& uses = rows[row].uses;
    const auto at = std::lower_bound(uses.begin(), uses.end(), service,
                                     [](const auto& use, int key) { return use.first < key; });
    return at != uses.end() && at->first == service ? at->second : scan::ServiceMarks{};
}

QString ApplicationsModel::markWords(scan::ServiceMarks marks) {
    QStringList words;
    if (marks.declared) words << tr("declared");
    if (marks.entitled) words << tr("entitled");
    if (marks.allowed) words << tr("allowed");
    return words.isEmpty() ? tr("not asked for") : words.join(QStringLiteral(", "));
}

QString ApplicationsModel::servicesDetail(const Row& row, QStringView separator) const {
    QStringList lines;
    for (const auto& [service, marks] : row.uses)
        lines << QStringLiteral("%1 (%2)").arg(serviceNames[service].title, markWords(marks));
    lines << row.unlisted;
    return lines.join(separator);
}

void ApplicationsModel::setScannedFolders(const QStringList& folders) {
    for (const QString& folder : folders) {
        const QString clean = QDir::cleanPath(folder);
        if (!scanned.contains(clean)) scanned << clean;
    }
}

QString ApplicationsModel::folderText(const QString& path) const {
    const QString folder = QFileInfo(path).path();
    for (const QString& root : scanned) {
        const QString name = QFileInfo(root).fileName();
        if (name.isEmpty() || !(folder == root || folder.startsWith(root + u'/'))) continue;
        return host::visibleControls(QDir::toNativeSeparators(name + folder.mid(root.size())));
    }
    return host::visibleControls(QDir::toNativeSeparators(folder));
}

QVariant ApplicationsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows.size()) || index.column() >= columns) return {};
    const Row& row = rows[index.row()];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return row.texts[column];
        case exportRole:
            return column == servicesUsed ? servicesDetail(row, u"; ") : row.texts[column];
        case Qt::ToolTipRole:
            if (column == name) return row.path;
            if (column == folder) return row.folder;
            if (column == verdict) {
                const QString& why =
                    row.summary.unreadable ? row.summary.problem : row.summary.verdictReason;
                return why.isEmpty() ? QVariant() : QVariant(host::visibleControls(why));
            }
            if (column == servicesUsed)
                return row.uses.empty() && row.unlisted.isEmpty()
                           ? QVariant()
                           : QVariant(servicesDetail(row, u"\n"));
            return row.texts[column].isEmpty() ? QVariant() : QVariant(row.texts[column]);
        default:
            return {};
    }
}

QVariant ApplicationsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns) return {};
    static const char* const titles[columns] = {QT_TR_NOOP("Name"),       QT_TR_NOOP("Folder"),
                                                QT_TR_NOOP("Identifier"), QT_TR_NOOP("Version"),
                                                QT_TR_NOOP("Signer"),     QT_TR_NOOP("Team ID"),
                                                QT_TR_NOOP("Verdict"),    QT_TR_NOOP("Services")};
    if (role == Qt::DisplayRole) return tr(titles[section]);
    if (role == Qt::ToolTipRole && section == servicesUsed)
        return tr(
            "The privacy services the item or one of its pieces may use: declared in a "
            "usage description, entitled, or privately allowed");
    return {};
}

void ApplicationsModel::appendItems(std::vector<scan::ItemSummary> items) {
    if (items.empty()) return;
    // Services no one met before. Their names are the items' own, so a stranger's folder
    // could name thousands: past a bound they are only named in their rows.
    const std::size_t known = serviceNames.size();
    for (const scan::ItemSummary& summary : items)
        for (const scan::ItemService& service : summary.services) {
            if (serviceNames.size() >= maxServices) break;
            if (serviceIndexes.contains(service.name)) continue;
            serviceIndexes.insert(service.name, int(serviceNames.size()));
            serviceNames.push_back({service.name, serviceTitle(service)});
        }

    const int first = int(rows.size());
    beginInsertRows({}, first, first + int(items.size()) - 1);
    for (scan::ItemSummary& summary : items) {
        Row row;
        row.path = host::visibleControls(QDir::toNativeSeparators(summary.path));
        row.texts[name] = host::visibleControls(summary.name);
        row.folder =
            host::visibleControls(QDir::toNativeSeparators(QFileInfo(summary.path).path()));
        row.texts[folder] = folderText(summary.path);
        row.texts[identifier] = host::visibleControls(summary.identifier);
        row.texts[version] = host::visibleControls(summary.version);
        row.texts[signer] = host::visibleControls(summary.signer);
        row.texts[teamIdentifier] = host::visibleControls(summary.teamIdentifier);
        row.texts[verdict] =
            summary.unreadable ? unreadableKey : host::visibleControls(summary.verdict);
        row.kind = signerKind(summary.signer);
        std::size_t unnamed = 0;
        for (const scan::ItemService& named : summary.services) {
            const int service = serviceIndexes.value(named.name, -1);
            if (service < 0) {
                if (std::size_t(row.unlisted.size()) < maxNamedServices)
                    row.unlisted << QStringLiteral("%1 (%2)").arg(serviceTitle(named),
                                                                  markWords(named.marks));
                else
                    ++unnamed;
                continue;
            }
            const auto at = std::find_if(row.uses.begin(), row.uses.end(),
                                         [&](const auto& use) { return use.first == service; });
            if (at == row.uses.end()) {
                row.uses.emplace_back(service, named.marks);
                continue;
            }
            at->second = {at->second.declared || named.marks.declared,
                          at->second.entitled || named.marks.entitled,
                          at->second.allowed || named.marks.allowed};
        }
        std::sort(row.uses.begin(), row.uses.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        if (unnamed > 0) row.unlisted << tr("and %1 more").arg(unnamed);
        QStringList titles;
        for (const auto& use : row.uses) {
            if (std::size_t(titles.size()) == maxNamedServices) {
                titles << tr("and %1 more").arg(row.uses.size() - maxNamedServices);
                break;
            }
            titles << serviceNames[use.first].title;
        }
        if (!row.unlisted.isEmpty()) titles << tr("and others");
        row.texts[servicesUsed] = titles.join(QStringLiteral(", "));
        row.summary = std::move(summary);
        rows.push_back(std::move(row));
    }
    endInsertRows();
    if (serviceNames.size() > known) emit servicesAdded();
}

}  // namespace varko
