#include "scan/ui/applicationsfilter.h"

namespace varko {

int compareNaturally(QStringView a, QStringView b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compared as numbers of any length: without leading zeros, the longer run
            // is the larger; of equal lengths, the first differing digit decides.
            while (i < a.size() && a[i] == u'0') ++i;
            while (j < b.size() && b[j] == u'0') ++j;
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit()) ++ei;
            while (ej < b.size() && b[ej].isDigit()) ++ej;
            if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j)
                if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
            continue;
        }
        const char16_t x = a[i].toCaseFolded().unicode(), y = b[j].toCaseFolded().unicode();
        if (x != y) return x < y ? -1 : 1;
        ++i, ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

ApplicationsFilter::ApplicationsFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
}

void ApplicationsFilter::setSourceModel(QAbstractItemModel* source) {
    if (model) disconnect(model, nullptr, this, nullptr);
    model = qobject_cast<const ApplicationsModel*>(source);
    Q_ASSERT(model || !source);
    QSortFilterProxyModel::setSourceModel(source);
    if (!model) return;
    // A service chosen before the scan met it is known to the model later.
    connect(model, &ApplicationsModel::servicesAdded, this, [this] {
        if (service.isEmpty() || serviceIndex >= 0) return;
        serviceIndex = model->serviceIndex(service);
        invalidateRowsFilter();
    });
}

void ApplicationsFilter::setService(const QString& key) {
    service = key;
    serviceIndex = model && !key.isEmpty() ? model->serviceIndex(key) : -1;
    invalidateRowsFilter();
}

void ApplicationsFilter::setSignerKind(std::optional<SignerKind> kind) {
    signer = kind;
    invalidateRowsFilter();
}

void ApplicationsFilter::setVerdict(const QString& key) {
    verdict = key;
    invalidateRowsFilter();
}

void ApplicationsFilter::setSearchText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == search) return;
    search = trimmed;
    invalidateRowsFilter();
}

bool ApplicationsFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    if (!model || parent.isValid() || row >= model->rowCount()) return false;
    if (!service.isEmpty() && !model->marks(row, serviceIndex).any()) return false;
    if (signer && model->kind(row) != *signer) return false;
    if (!verdict.isEmpty() && model->verdictKey(row) != verdict) return false;
    if (search.isEmpty()) return true;
    return model->pathText(row).contains(search, Qt::CaseInsensitive) ||
           model->text(row, ApplicationsModel::identifier).contains(search, Qt::CaseInsensitive) ||
           model->text(row, ApplicationsModel::teamIdentifier)
               .contains(search, Qt::CaseInsensitive);
}

bool ApplicationsFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int a = left.row(), b = right.row(), column = left.column();
    if (!model) return a < b;
    int order = 0;
    switch (column) {
        case ApplicationsModel::name:
        case ApplicationsModel::folder:
        case ApplicationsModel::version:
            // "copy10" after "copy9", "1.10" after "1.9".
            order = compareNaturally(model->text(a, column), model->text(b, column));
            break;
        case ApplicationsModel::servicesUsed:
            // The items that may use most come first when descending.
            order = int(model->uses(a).size()) - int(model->uses(b).size());
            if (order == 0)
                order = model->text(a, column).compare(model->text(b, column), Qt::CaseInsensitive);
            break;
        default:
            order = model->text(a, column).compare(model->text(b, column), Qt::CaseInsensitive);
    }
    // Equal cells keep the items in name order, then in the order found.
    if (order == 0 && column != ApplicationsModel::name)
        order = compareNaturally(model->text(a, ApplicationsModel::name),
                                 model->text(b, ApplicationsModel::name));
    if (order == 0 && column != ApplicationsModel::folder)
        order = compareNaturally(model->pathText(a), model->pathText(b));
    return order != 0 ? order < 0 : a < b;
}

}  // namespace varko
