#include "scan/ui/applicationsmodel.h"

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
        ServiceColumn column{serviceKey(row), QString::fromStdString(row.title)};
        if (serviceIndexes.contains(column.key)) continue;
        serviceIndexes.insert(column.key, int(serviceColumns.size()));
        serviceColumns.push_back(std::move(column));
    }
}

int ApplicationsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

int ApplicationsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : fixedColumns + int(serviceColumns.size());
}

const QString& ApplicationsModel::verdictKey(int row) const {
    return rows[row].summary.unreadable ? unreadableKey : rows[row].summary.verdict;
}

scan::ServiceMarks ApplicationsModel::marks(int row, int service) const {
    const std::vector<scan::ServiceMarks>& marks = rows[row].marks;
    return service >= 0 && std::size_t(service) < marks.size() ? marks[service]
                                                               : scan::ServiceMarks{};
}

QString ApplicationsModel::markText(scan::ServiceMarks marks) {
    QStringList letters;
    if (marks.declared) letters << QStringLiteral("D");
    if (marks.entitled) letters << QStringLiteral("E");
    if (marks.allowed) letters << QStringLiteral("A");
    return letters.join(u' ');
}

QString ApplicationsModel::markWords(scan::ServiceMarks marks) {
    QStringList words;
    if (marks.declared) words << tr("declared in a usage description");
    if (marks.entitled) words << tr("entitled");
    if (marks.allowed) words << tr("privately allowed");
    return words.isEmpty() ? tr("not asked for") : words.join(QStringLiteral(", "));
}

QVariant ApplicationsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows.size())) return {};
    const Row& row = rows[index.row()];
    const int column = index.column();
    if (column < fixedColumns) {
        if (role == Qt::DisplayRole) return row.texts[column];
        if (role != Qt::ToolTipRole) return {};
        if (column == name) return host::visibleControls(row.summary.path);
        if (column == verdict) {
            const QString& why =
                row.summary.unreadable ? row.summary.problem : row.summary.verdictReason;
            return why.isEmpty() ? QVariant() : QVariant(host::visibleControls(why));
        }
        return row.texts[column].isEmpty() ? QVariant() : QVariant(row.texts[column]);
    }
    const int service = column - fixedColumns;
    if (service >= int(serviceColumns.size())) return {};
    const scan::ServiceMarks cell = marks(index.row(), service);
    if (role == Qt::DisplayRole) return markText(cell);
    if (role == Qt::ToolTipRole)
        return QStringLiteral("%1: %2").arg(serviceColumns[service].title, markWords(cell));
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return {};
}

QVariant ApplicationsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0) return {};
    static const char* const titles[fixedColumns] = {QT_TR_NOOP("Name"),
                                                     QT_TR_NOOP("Identifier"),
                                                     QT_TR_NOOP("Version"),
                                                     QT_TR_NOOP("Signer"),
                                                     QT_TR_NOOP("Team ID"),
                                                     QT_TR_NOOP("Verdict"),
                                                     QT_TR_NOOP("Hardened runtime")};
    if (section < fixedColumns) return role == Qt::DisplayRole ? tr(titles[section]) : QVariant();
    const int service = section - fixedColumns;
    if (service >= int(serviceColumns.size())) return {};
    if (role == Qt::DisplayRole) return serviceColumns[service].title;
    if (role == Qt::ToolTipRole)
        return tr("%1 (%2): D declared, E entitled, A privately allowed")
            .arg(serviceColumns[service].title, serviceColumns[service].key);
    return {};
}

void ApplicationsModel::appendItems(std::vector<scan::ItemSummary> items) {
    if (items.empty()) return;
    // Services no column has yet. Their names are the items' own, so a stranger's
    // folder could name thousands: past a bound they get no column.
    std::vector<ServiceColumn> added;
    QHash<QString, int> addedIndexes;
    for (const scan::ItemSummary& summary : items)
        for (const scan::ItemService& service : summary.services) {
            const QString& key = service.name;
            if (serviceIndexes.contains(key) || addedIndexes.contains(key)) continue;
            if (serviceColumns.size() + added.size() >= maxServiceColumns) break;
            addedIndexes.insert(key, int(serviceColumns.size() + added.size()));
            added.push_back({key, host::visibleControls(key)});
        }
    if (!added.empty()) {
        const int firstColumn = fixedColumns + int(serviceColumns.size());
        beginInsertColumns({}, firstColumn, firstColumn + int(added.size()) - 1);
        for (ServiceColumn& column : added) serviceColumns.push_back(std::move(column));
        serviceIndexes.insert(addedIndexes);
        endInsertColumns();
        emit servicesAdded();
    }

    const int first = int(rows.size());
    beginInsertRows({}, first, first + int(items.size()) - 1);
    for (scan::ItemSummary& summary : items) {
        Row row;
        row.texts[name] = host::visibleControls(summary.name);
        row.texts[identifier] = host::visibleControls(summary.identifier);
        row.texts[version] = host::visibleControls(summary.version);
        row.texts[signer] = host::visibleControls(summary.signer);
        row.texts[teamIdentifier] = host::visibleControls(summary.teamIdentifier);
        row.texts[verdict] =
            summary.unreadable ? unreadableKey : host::visibleControls(summary.verdict);
        row.texts[hardenedRuntime] = host::visibleControls(summary.hardenedRuntime);
        row.kind = signerKind(summary.signer);
        row.marks.resize(serviceColumns.size());
        for (const scan::ItemService& named : summary.services) {
            const int service = serviceIndexes.value(named.name, -1);
            if (service < 0) continue;
            // A service named twice counts every way it was named.
            const scan::ServiceMarks& marks = named.marks;
            scan::ServiceMarks& cell = row.marks[service];
            cell = {cell.declared || marks.declared, cell.entitled || marks.entitled,
                    cell.allowed || marks.allowed};
        }
        row.summary = std::move(summary);
        rows.push_back(std::move(row));
    }
    endInsertRows();
}

}  // namespace varko
