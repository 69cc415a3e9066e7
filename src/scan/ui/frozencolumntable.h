#pragma once

#include <QTableView>

namespace varko {

/// A table whose first column stays in view when the others scroll sideways, so that
/// every row still says which item it is. A second view, over the same model and
/// selection, shows that column on top of the first; it takes no focus, and clicks on it
/// select, sort and open as on the table.
class FrozenColumnTable final : public QTableView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrozenColumnTable)
public:
    explicit FrozenColumnTable(QWidget* parent = nullptr);

    /// Sets the model of both views; call once.
    void setModel(QAbstractItemModel* model) override;
    /// The table's font and row height, for both.
    void setRowFont(const QFont& font);

protected:
    void resizeEvent(QResizeEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

private:
    void placeFrozen();

    QTableView* frozen = nullptr;
};

}  // namespace varko
