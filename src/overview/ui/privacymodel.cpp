#include "overview/ui/privacymodel.h"

#include <QApplication>
#include <QColor>

#include "overview/ui/overviewtexts.h"
#include "overview/ui/tristateicon.h"

namespace varko {

namespace {

/// A service can name thousands of components: a cell and its tooltip show the first few
/// and count the rest, so that neither is measured or drawn at full length.
QStringList shown(const std::vector<std::string>& items) {
    constexpr std::size_t maxShown = 20;
    QStringList out;
    for (std::size_t i = 0; i < items.size() && i < maxShown; ++i) out << shownText(items[i]);
    if (items.size() > maxShown)
        out << PrivacyModel::tr("and %1 more").arg(items.size() - maxShown);
    return out;
}

}  // namespace

PrivacyModel::PrivacyModel(QObject* parent) : QAbstractTableModel(parent) {}

namespace {

/// "Allowed", with what the code requirement says of this build in a word or two; a receiver
/// of Apple events before its own.
QString grantCell(const privacy::Grant& grant) {
    QString state = shownText(privacy::authorizationName(grant.row.authValue));
    if (!state.isEmpty()) state[0] = state[0].toUpper();
    switch (grant.match) {
        case privacy::BuildMatch::thisBuild:
            state += PrivacyModel::tr(", this build");
            break;
        case privacy::BuildMatch::signedDifferently:
            state += PrivacyModel::tr(", signed differently");
            break;
        case privacy::BuildMatch::undecided:
            state += PrivacyModel::tr(", this build?");
            break;
        case privacy::BuildMatch::undecodable:
            state += PrivacyModel::tr(", unreadable requirement");
            break;
        case privacy::BuildMatch::noRequirement:
            break;
    }
    if (grant.row.indirectObject.empty()) return state;
    return shownText(grant.row.indirectObject) + ": " + state;
}

}  // namespace

void PrivacyModel::setServices(const std::vector<overview::ServiceUse>& services) {
    used = services;
    merge();
}

void PrivacyModel::setGrants(std::vector<privacy::Grant> granted) {
    grants = std::move(granted);
    grantsRead = true;
    merge();
}

void PrivacyModel::merge() {
    beginResetModel();
    rows = used;
    if (grantsRead) overview::addGrants(rows, grants, overview::PrivacyCatalog::builtIn());
    endResetModel();
}

int PrivacyModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

int PrivacyModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant PrivacyModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= rows.size()) return {};
    const overview::ServiceUse& use = rows[std::size_t(index.row())];
    const auto list = [&]() -> QStringList {
        switch (Column(index.column())) {
            case usageKeys:
                return shown(use.usageKeys);
            case entitlements:
                return shown(use.entitlements);
            case allowances:
                return shown(use.allowances);
            case granted: {
                std::vector<std::string> texts;
                for (const privacy::Grant& g : use.grants) texts.push_back(privacy::grantText(g));
                return shown(texts);
            }
            case components:
                return shown(use.components);
            default:
                return {};
        }
    };
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == granted) {
                if (!grantsRead) return {};
                if (use.grants.empty()) return tr("Not recorded");
                QStringList cells;
                for (const privacy::Grant& g : use.grants) cells << grantCell(g);
                return cells.join(QStringLiteral("; "));
            }
            if (index.column() != service) return list().join(QStringLiteral(", "));
            if (use.known) return shownText(use.title);
            return tr("Unknown service (%1)").arg(shownText(use.service));
        case Qt::ToolTipRole:
            if (index.column() != service) return plainToolTip(list());
            if (use.known) return plainToolTip({shownText(use.service)});
            return plainToolTip(
                {tr("Not in the table of privacy services: %1").arg(shownText(use.service))});
        case Qt::DecorationRole:
            if (index.column() == service && !use.known)
                return triIcon(overview::Tri::unknown, QApplication::palette());
            return {};
        case Qt::BackgroundRole:
            if (!use.known) return QColor(255, 170, 0, 56);
            return {};
        case KnownRole:
            return use.known;
        case NameRole:
            return QString::fromStdString(use.service);
        default:
            return {};
    }
}

QVariant PrivacyModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (Column(section)) {
        case service:
            return tr("Service");
        case usageKeys:
            return tr("Usage description keys");
        case entitlements:
            return tr("Public entitlements");
        case allowances:
            return tr("Private allowances");
        case granted:
            return tr("Granted");
        case components:
            return tr("Components");
        case columnCount_:
            break;
    }
    return {};
}

}  // namespace varko
