#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "compare/compare.h"

namespace varko {

/// The changes between two versions, a row each in the comparison's order: the
/// severity (its word, and a coloured icon as decoration), what changed, the component
/// it is in (empty for the app itself), and the old and new values. Every text the items control is
/// shown with its controls visible.
class ChangesModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChangesModel)
public:
    enum Column {
        severityColumn,
        changeColumn,
        componentColumn,
        oldColumn,
        newColumn,
        columnCount_
    };

    explicit ChangesModel(QObject* parent = nullptr);

    void setChanges(std::vector<compare::Change> changes);
    [[nodiscard]] const std::vector<compare::Change>& changes() const { return list; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    std::vector<compare::Change> list;
};

/// The severity's colour, dark enough to read on a light background and light enough on a
/// dark one.
[[nodiscard]] QColor severityColor(compare::Severity severity, bool darkPalette);
/// "High", "Medium", "Low".
[[nodiscard]] QString severityWords(compare::Severity severity);

}  // namespace varko
