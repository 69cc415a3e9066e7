#include "scan/ui/byserviceview.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStandardItemModel>

#include "scan/ui/applicationsfilter.h"

namespace varko {

namespace {

constexpr int rowRole = Qt::UserRole;
constexpr int serviceRole = Qt::UserRole + 1;

QStandardItem* cell(const QString& text) {
    auto* cell = new QStandardItem(text);
    cell->setEditable(false);
    return cell;
}

}  // namespace

ByServiceView::ByServiceView(QWidget* parent)
    : QTreeView(parent), uses(new QStandardItemModel(this)) {
    uses->setHorizontalHeaderLabels({tr("Service and item"), tr("Folder"), tr("May use it as")});
    setModel(uses);
    setEditTriggers(NoEditTriggers);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    header()->setStretchLastSection(true);
    header()->resizeSection(item, 300);
    header()->resizeSection(folder, 420);
    const auto remember = [this](const QModelIndex& index, bool collapsed) {
        if (filling) return;
        const QString key = index.data(serviceRole).toString();
        if (collapsed)
            collapsedServices.insert(key);
        else
            collapsedServices.remove(key);
    };
    connect(this, &QTreeView::collapsed, this,
            [remember](const QModelIndex& index) { remember(index, true); });
    connect(this, &QTreeView::expanded, this,
            [remember](const QModelIndex& index) { remember(index, false); });
    connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (const int row = itemRow(index); row >= 0) emit itemChosen(row);
    });
}

int ByServiceView::itemRow(const QModelIndex& index) const {
    if (!index.isValid() || !index.parent().isValid()) return -1;
    return index.siblingAtColumn(item).data(rowRole).toInt();
}

void ByServiceView::fill(const ApplicationsFilter& shown) {
    const ApplicationsModel* model = shown.applications();
    if (!model) return;
    const QModelIndex current = currentIndex();
    const QString currentService = current.parent().isValid()
                                       ? current.parent().data(serviceRole).toString()
                                       : current.data(serviceRole).toString();
    const int currentRow = itemRow(current);

    // Each service's rows, in the order the filter shows them.
    const std::vector<ServiceName>& services = model->services();
    std::vector<std::vector<std::pair<int, scan::ServiceMarks>>> users(services.size());
    for (int r = 0; r < shown.rowCount(); ++r) {
        const int row = shown.mapToSource(shown.index(r, 0)).row();
        for (const auto& [service, marks] : model->uses(row))
            users[std::size_t(service)].emplace_back(row, marks);
    }
    const int only = model->serviceIndex(shown.serviceKey());

    filling = true;
    uses->removeRows(0, uses->rowCount());
    QModelIndex restored;
    for (std::size_t s = 0; s < services.size(); ++s) {
        if (users[s].empty() || (only >= 0 && int(s) != only)) continue;
        const int count = int(users[s].size());
        QStandardItem* top =
            cell(count == 1 ? tr("%1 — 1 item").arg(services[s].title)
                            : tr("%1 — %2 items").arg(services[s].title).arg(count));
        top->setData(services[s].key, serviceRole);
        QFont bold = font();
        bold.setBold(true);
        top->setFont(bold);
        for (const auto& [row, marks] : users[s]) {
            QStandardItem* name = cell(model->text(row, ApplicationsModel::name));
            name->setData(row, rowRole);
            name->setToolTip(model->pathText(row));
            top->appendRow({name, cell(model->text(row, ApplicationsModel::folder)),
                            cell(ApplicationsModel::markWords(marks))});
        }
        uses->appendRow({top, cell({}), cell({})});
        const QModelIndex at = top->index();
        setExpanded(at, !collapsedServices.contains(services[s].key));
        if (services[s].key != currentService) continue;
        restored = at;
        for (int c = 0; currentRow >= 0 && c < top->rowCount(); ++c)
            if (top->child(c)->data(rowRole).toInt() == currentRow)
                restored = top->child(c)->index();
    }
    filling = false;
    if (restored.isValid()) setCurrentIndex(restored);
}

void ByServiceView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const QModelIndex index = currentIndex();
        if (const int row = itemRow(index); row >= 0)
            emit itemChosen(row);
        else if (index.isValid())
            setExpanded(index.siblingAtColumn(item), !isExpanded(index.siblingAtColumn(item)));
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace varko
