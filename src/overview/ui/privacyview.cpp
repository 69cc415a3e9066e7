#include "overview/ui/privacyview.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "overview/ui/overviewpage.h"

namespace varko {

PrivacyView::PrivacyView(QWidget* parent) : QTreeView(parent), services(new PrivacyModel(this)) {
    setModel(services);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAccessibleName(tr("Privacy services"));
    header()->setStretchLastSection(true);
    // Granted says nothing until a privacy database is opened.
    setColumnHidden(PrivacyModel::granted, true);
    connect(services, &QAbstractItemModel::modelReset, this, [this] {
        setColumnHidden(PrivacyModel::granted, !services->hasGrants());
        const int widest = fontMetrics().averageCharWidth() * 60;
        for (int column = 0; column < PrivacyModel::columnCount_; ++column)
            setColumnWidth(column, std::min(widest, std::max(header()->sectionSizeHint(column),
                                                             sizeHintForColumn(column))));
    });
}

void PrivacyView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelectedRows(*this);
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace varko
