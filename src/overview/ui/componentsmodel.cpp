#include "overview/ui/componentsmodel.h"

#include <QApplication>
#include <QColor>
#include <QStyle>
#include <algorithm>
#include <unordered_map>

#include "overview/ui/overviewtexts.h"
#include "overview/ui/tristateicon.h"

namespace varko {

using overview::Tri;

namespace {

QStringList shownList(const std::vector<std::string>& items, QString (*show)(std::string_view)) {
    QStringList out;
    out.reserve(qsizetype(items.size()));
    for (const std::string& item : items) out << show(item);
    return out;
}

bool usesService(const overview::ServiceUse& use) {
    return !use.usageKeys.empty() || !use.entitlements.empty() || !use.allowances.empty();
}

}  // namespace

ComponentsModel::ComponentsModel(QObject* parent) : QAbstractItemModel(parent) {
    filler.setInterval(0);
    connect(&filler, &QTimer::timeout, this, &ComponentsModel::showMore);
}

ComponentsModel::Rows ComponentsModel::prepareRows(const overview::Overview& overview) {
    Rows prepared;
    std::vector<Row>& rows = prepared.rows;
    // The services list names the other components by path and the main executable by its
    // own lists: turn that round to each component's services.
    std::unordered_map<std::string, QStringList> servicesByPath;
    QStringList mainServices;
    for (const overview::ServiceUse& use : overview.services) {
        const QString title = shownText(use.title);
        if (usesService(use)) mainServices << title;
        for (const std::string& path : use.components) servicesByPath[path] << title;
    }
    rows.reserve(overview.components.size());
    for (std::size_t i = 0; i < overview.components.size(); ++i) {
        Row row;
        row.component = overview.components[i];
        // Not shown, and may be large.
        row.component.identity.entitlements = {};
        row.component.identity.privacyManifest.reset();
        if (row.component.parent && *row.component.parent < i) row.parent = row.component.parent;
        std::string_view path = row.component.path;
        if (row.parent) {
            const std::string& outer = rows[*row.parent].component.path;
            if (path.size() > outer.size() + 1 && path.starts_with(outer) &&
                path[outer.size()] == '/')
                path.remove_prefix(outer.size() + 1);
        }
        row.shownName = shownText(path);
        if (i == 0) row.titles = mainServices;
        if (const auto found = servicesByPath.find(row.component.path);
            found != servicesByPath.end())
            row.titles << found->second;
        row.titles.removeDuplicates();
        std::vector<std::size_t>& siblings = row.parent ? rows[*row.parent].children : prepared.top;
        row.row = int(siblings.size());
        siblings.push_back(i);
        rows.push_back(std::move(row));
    }
    return prepared;
}

void ComponentsModel::setRows(Rows prepared) {
    filler.stop();
    beginResetModel();
    rows = std::move(prepared.rows);
    top = std::move(prepared.top);
    shown = 0;
    endResetModel();
    showMore();
}

void ComponentsModel::showMore() {
    const std::size_t end = std::min(rows.size(), shown + rowsPerTurn);
    // Consecutive components under one parent are consecutive rows of it: one insertion each.
    while (shown < end) {
        const std::optional<std::size_t> parent = rows[shown].parent;
        std::size_t last = shown;
        while (last + 1 < end && rows[last + 1].parent == parent) ++last;
        beginInsertRows(parent ? indexOf(*parent) : QModelIndex(), rows[shown].row, rows[last].row);
        shown = last + 1;
        endInsertRows();
    }
    if (shown < rows.size()) {
        filler.start();
    } else {
        filler.stop();
        emit filled();
    }
}

int ComponentsModel::shownOf(const std::vector<std::size_t>& list) const {
    return int(std::lower_bound(list.begin(), list.end(), shown) - list.begin());
}

void ComponentsModel::updateCheck(std::size_t component, const overview::ComponentCheck& check,
                                  const std::vector<std::string>& flags) {
    if (component >= rows.size()) return;
    rows[component].component.check = check;
    rows[component].component.flags = flags;
    if (component < shown) rowChanged(component);
}

void ComponentsModel::setFlags(std::size_t component, const std::vector<std::string>& flags) {
    if (component >= rows.size() || rows[component].component.flags == flags) return;
    rows[component].component.flags = flags;
    if (component < shown) rowChanged(component);
}

void ComponentsModel::setChecking(bool running) {
    if (checking == running) return;
    checking = running;
    // A range per parent: thousands of rows must not mean thousands of signals.
    const auto changed = [this](const QModelIndex& parent) {
        if (const int count = rowCount(parent); count > 0)
            emit dataChanged(index(0, 0, parent), index(count - 1, columnCount_ - 1, parent));
    };
    changed({});
    for (std::size_t i = 0; i < shown; ++i)
        if (!rows[i].children.empty()) changed(indexOf(i));
}

void ComponentsModel::rowChanged(std::size_t component) {
    emit dataChanged(indexOf(component, 0), indexOf(component, columnCount_ - 1));
}

QModelIndex ComponentsModel::indexOf(std::size_t component, int column) const {
    if (component >= shown || column < 0 || column >= columnCount_) return {};
    return createIndex(rows[component].row, column, quintptr(component));
}

QModelIndex ComponentsModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount_) return {};
    if (parent.isValid() && parent.column() != 0) return {};
    const std::vector<std::size_t>& list =
        parent.isValid() ? rows[parent.internalId()].children : top;
    if (row >= shownOf(list)) return {};
    return createIndex(row, column, quintptr(list[std::size_t(row)]));
}

QModelIndex ComponentsModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    const std::optional<std::size_t> outer = rows[child.internalId()].parent;
    return outer ? indexOf(*outer) : QModelIndex();
}

int ComponentsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return shownOf(top);
    if (parent.column() != 0) return 0;
    return shownOf(rows[parent.internalId()].children);
}

int ComponentsModel::columnCount(const QModelIndex&) const {
    return columnCount_;
}

QVariant ComponentsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Row& row = rows[index.internalId()];
    const overview::Component& c = row.component;
    const bool flagged = !c.flags.empty();
    switch (role) {
        case Qt::DisplayRole:
            return display(row, index.column());
        case Qt::ToolTipRole:
            return toolTip(row, index.column());
        case Qt::DecorationRole:
            if (index.column() == name && flagged)
                return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            if (index.column() == valid)
                return triIcon(!c.check         ? Tri::unknown
                               : c.check->valid ? Tri::yes
                                                : Tri::no,
                               QApplication::palette());
            return {};
        case Qt::BackgroundRole:
            // A tint that reads on light and dark palettes alike.
            if (flagged) return QColor(255, 170, 0, 56);
            return {};
        case PathRole:
            return QString::fromStdString(c.path);
        case FlaggedRole:
            return flagged;
        case ComponentRole:
            return qulonglong(index.internalId());
        default:
            return {};
    }
}

QVariant ComponentsModel::display(const Row& row, int column) const {
    const overview::Component& c = row.component;
    const overview::ComponentIdentity& id = c.identity;
    const QString pending = checking ? tr("Checking…") : tr("Not checked");
    switch (Column(column)) {
        case name:
            return row.shownName;
        case kind:
            return componentKindText(c.kind);
        case identifier:
            return shownText(id.identifier);
        case version:
            return shownText(id.version);
        case signer:
            return c.check ? signerText(c.check->signer) : pending;
        case teamIdentifier:
            return id.teamIdentifier ? shownText(*id.teamIdentifier) : QString();
        case hardened:
            return id.hardenedRuntime ? tr("Yes") : tr("No");
        case valid:
            return !c.check ? pending : c.check->valid ? tr("Valid") : tr("Not valid");
        case services:
            return row.titles.join(QStringLiteral(", "));
        case usageKeys: {
            QStringList keys;
            for (const auto& [key, text] : id.usageDescriptions) keys << shownText(key);
            return keys.join(QStringLiteral(", "));
        }
        case flags:
            return shownList(c.flags, flagTitle).join(QStringLiteral(", "));
        case columnCount_:
            break;
    }
    return {};
}

QVariant ComponentsModel::toolTip(const Row& row, int column) const {
    const overview::Component& c = row.component;
    const QStringList flagLines = shownList(c.flags, flagDescription);
    switch (Column(column)) {
        case name:
            return plainToolTip(QStringList{shownText(c.path)} + flagLines);
        case flags:
            return plainToolTip(flagLines);
        case signer: {
            if (!c.check)
                return plainToolTip(
                    {tr("Its signature claims: %1").arg(signatureFormText(c.identity.signature))});
            QStringList lines;
            if (c.check->leafName) lines << shownText(*c.check->leafName);
            if (!c.check->designatedRequirement.empty())
                lines << (c.check->designatedImplicit ? tr("Designated requirement (implicit): %1")
                                                      : tr("Designated requirement: %1"))
                             .arg(shownText(c.check->designatedRequirement));
            return lines.isEmpty() ? QVariant() : QVariant(plainToolTip(lines));
        }
        case valid:
            if (c.check && !c.check->reason.empty())
                return plainToolTip({shownText(c.check->reason)});
            return {};
        case usageKeys: {
            QStringList lines;
            for (const auto& [key, text] : c.identity.usageDescriptions)
                lines << QStringLiteral("%1: %2").arg(shownText(key), shownText(text));
            return plainToolTip(lines);
        }
        default:
            return flagLines.isEmpty() ? QVariant() : QVariant(plainToolTip(flagLines));
    }
}

QVariant ComponentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (Column(section)) {
        case name:
            return tr("Path");
        case kind:
            return tr("Kind");
        case identifier:
            return tr("Identifier");
        case version:
            return tr("Version");
        case signer:
            return tr("Signer");
        case teamIdentifier:
            return tr("Team ID");
        case hardened:
            return tr("Hardened");
        case valid:
            return tr("Valid");
        case services:
            return tr("Privacy services");
        case usageKeys:
            return tr("Usage descriptions");
        case flags:
            return tr("Flags");
        case columnCount_:
            break;
    }
    return {};
}

}  // namespace varko
