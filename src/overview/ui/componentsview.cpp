#include "overview/ui/componentsview.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "overview/ui/overviewpage.h"

namespace varko {

ComponentsView::ComponentsView(QWidget* parent)
    : QTreeView(parent), components(new ComponentsModel(this)) {
    setModel(components);
    setSortingEnabled(false);
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setTextElideMode(Qt::ElideMiddle);
    setAccessibleName(tr("Components"));
    header()->setStretchLastSection(true);
    connect(components, &QAbstractItemModel::modelReset, this, [this] {
        expandAll();
        // Fitted once per bundle, not at every answer: columns that jump while someone
        // reads them are worse than a cut-off cell with its tooltip.
        const int widest = fontMetrics().averageCharWidth() * 48;
        for (int column = 0; column < ComponentsModel::columnCount_; ++column)
            setColumnWidth(column, std::min(widest, sizeHintForColumn(column) + indentation()));
    });
}

void ComponentsView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelectedRows(*this);
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace varko
