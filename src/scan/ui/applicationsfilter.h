#pragma once

#include <QSortFilterProxyModel>
#include <optional>

#include "scan/ui/applicationsmodel.h"

namespace varko {

/// The Applications window's order and filters over an `ApplicationsModel`: every column
/// sorts (names, folders and versions in their natural order, services by how many), and
/// rows can be narrowed to a service, a kind of signer, a verdict and a text.
/// It reads the model's rows directly, not through `data()`, so that thousands of rows
/// sort and filter in a few milliseconds.
class ApplicationsFilter final : public QSortFilterProxyModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationsFilter)
public:
    explicit ApplicationsFilter(QObject* parent = nullptr);

    /// The model must be an `ApplicationsModel`.
    void setSourceModel(QAbstractItemModel* model) override;

    /// Only items that may use the service named `key` (any of its marks); empty for all.
    void setService(const QString& key);
    [[nodiscard]] const QString& serviceKey() const { return service; }
    void setSignerKind(std::optional<SignerKind> kind);
    /// Only items with this verdict key (see `ApplicationsModel::verdictKey`); empty for all.
    void setVerdict(const QString& verdict);
    /// Only items whose path (so its folder and name), identifier or Team ID holds `text`,
    /// ignoring case.
    void setSearchText(const QString& text);

    [[nodiscard]] const ApplicationsModel* applications() const { return model; }

protected:
    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex& parent) const override;
    [[nodiscard]] bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    const ApplicationsModel* model = nullptr;
    QString service;
    int serviceIndex = -1;
    std::optional<SignerKind> signer;
    QString verdict;
    QString search;
};

/// Compares versions as people read them: runs of digits by their value ("1.10" after
/// "1.9"), the rest by its characters, ignoring case.
[[nodiscard]] int compareNaturally(QStringView a, QStringView b);

}  // namespace varko
