#include "scan/ui/frozencolumntable.h"

#include <QHeaderView>
#include <QScrollBar>

namespace varko {

FrozenColumnTable::FrozenColumnTable(QWidget* parent)
    : QTableView(parent), frozen(new QTableView(this)) {
    frozen->setFocusPolicy(Qt::NoFocus);
    frozen->setFrameShape(QFrame::NoFrame);
    frozen->verticalHeader()->hide();
    frozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen->setEditTriggers(NoEditTriggers);
    frozen->setSelectionBehavior(SelectRows);
    frozen->setWordWrap(false);
    frozen->horizontalHeader()->setHighlightSections(false);
    frozen->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    frozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setHorizontalScrollMode(ScrollPerPixel);
    // Rows scroll together, by whichever view is scrolled.
    connect(frozen->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(verticalScrollBar(), &QAbstractSlider::valueChanged, frozen->verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) {
                if (column != 0) return;
                frozen->setColumnWidth(0, width);
                placeFrozen();
            });
    // Sorting by the frozen title is sorting the table, and the two show the same order.
    frozen->horizontalHeader()->setSectionsClickable(true);
    connect(frozen->horizontalHeader(), &QHeaderView::sortIndicatorChanged, horizontalHeader(),
            &QHeaderView::setSortIndicator);
    connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, frozen->horizontalHeader(),
            &QHeaderView::setSortIndicator);
    for (auto signal : {&QAbstractItemView::doubleClicked, &QAbstractItemView::activated})
        connect(frozen, signal, this, signal);
}

void FrozenColumnTable::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    frozen->setModel(model);
    frozen->setSelectionModel(selectionModel());
    frozen->horizontalHeader()->setSortIndicatorShown(true);
    for (int column = 1; column < model->columnCount(); ++column)
        frozen->setColumnHidden(column, true);
    frozen->setColumnWidth(0, columnWidth(0));
    frozen->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    viewport()->stackUnder(frozen);
    frozen->show();
    placeFrozen();
}

void FrozenColumnTable::setRowFont(const QFont& font) {
    setFont(font);
    frozen->setFont(font);
    const int height = QFontMetrics(font).height() + 6;
    verticalHeader()->setDefaultSectionSize(height);
    frozen->verticalHeader()->setDefaultSectionSize(height);
}

void FrozenColumnTable::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    placeFrozen();
}

QModelIndex FrozenColumnTable::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = QTableView::moveCursor(action, modifiers);
    // A cell that went left under the frozen column is brought out from under it.
    if (action == MoveLeft && current.column() > 0 &&
        visualRect(current).left() < frozen->columnWidth(0)) {
        const int by = visualRect(current).left() - frozen->columnWidth(0);
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + by);
    }
    return current;
}

void FrozenColumnTable::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // The first column is always in view: to it, only the rows scroll.
    const int across = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    if (index.column() == 0) horizontalScrollBar()->setValue(across);
}

void FrozenColumnTable::placeFrozen() {
    frozen->setGeometry(verticalHeader()->width() + frameWidth(), frameWidth(), columnWidth(0),
                        viewport()->height() + horizontalHeader()->height());
}

}  // namespace varko
