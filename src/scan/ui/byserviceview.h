#pragma once

#include <QSet>
#include <QTreeView>

class QStandardItemModel;

namespace varko {

class ApplicationsFilter;

/// The Applications window's other view: each privacy service, and under it the items
/// that may use it and how (declared, entitled, allowed). It lists the rows the filter
/// lets through, in the filter's order, and is filled anew when they change.
class ByServiceView final : public QTreeView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ByServiceView)
public:
    enum Column { item, folder, how };

    explicit ByServiceView(QWidget* parent = nullptr);

    /// Lists what `shown` shows; only the chosen service when it narrows to one. A
    /// service's rows stay collapsed or open as the user left them, and the current item
    /// stays current when it still shows.
    void fill(const ApplicationsFilter& shown);
    /// The model row of the item at `index`, or -1 on a service's own row.
    [[nodiscard]] int itemRow(const QModelIndex& index) const;

signals:
    /// The item in model row `row` was double-clicked or chosen with Return.
    void itemChosen(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStandardItemModel* uses = nullptr;
    /// Services by key that the user closed; every other one opens.
    QSet<QString> collapsedServices;
    bool filling = false;
};

}  // namespace varko
