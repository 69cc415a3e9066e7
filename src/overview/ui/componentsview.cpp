#include "overview/ui/componentsview.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>

#include "overview/ui/overviewpage.h"
#include "overview/ui/overviewtexts.h"

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
    // Rows arrive in batches, parents first: each parent opens as its first child comes.
    connect(components, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first) {
                if (parent.isValid() && first == 0) expand(parent);
            });
    // Fitted once per bundle, to its first batch of rows, not at every answer: columns that
    // jump while someone reads them are worse than a cut-off cell with its tooltip, and
    // measuring thousands of rows would hold up the window.
    connect(components, &QAbstractItemModel::modelReset, this,
            [this] { QTimer::singleShot(0, this, &ComponentsView::fitColumns); });
}

void ComponentsView::fitColumns() {
    const int widest = fontMetrics().averageCharWidth() * 48;
    for (int column = 0; column < ComponentsModel::columnCount_; ++column)
        setColumnWidth(column, std::min(widest, std::max(header()->sectionSizeHint(column),
                                                         sizeHintForColumn(column))));
    // Verification answers later: leave room for the longest answer now.
    const auto room = [this](int column, const QStringList& texts, bool icon) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.features = QStyleOptionViewItem::HasDisplay;
        if (icon) option.features |= QStyleOptionViewItem::HasDecoration;
        int width = columnWidth(column);
        for (const QString& text : texts) {
            option.text = text;
            width = std::max(
                width,
                style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width());
        }
        setColumnWidth(column, width);
    };
    QStringList signers{ComponentsModel::tr("Checking…"), ComponentsModel::tr("Not checked")};
    for (const auto signer :
         {overview::Signer::unsigned_, overview::Signer::adhoc, overview::Signer::developerId,
          overview::Signer::apple, overview::Signer::appStore, overview::Signer::untrusted})
        signers << signerText(signer);
    room(ComponentsModel::signer, signers, false);
    room(ComponentsModel::valid,
         {ComponentsModel::tr("Valid"), ComponentsModel::tr("Not valid"),
          ComponentsModel::tr("Checking…"), ComponentsModel::tr("Not checked")},
         true);
}

void ComponentsView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelectedRows(*this);
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace varko
