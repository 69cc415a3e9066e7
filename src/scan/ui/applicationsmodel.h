#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <vector>

#include "scan/scan.h"

namespace varko {

/// Who signed an item, in the broad kinds the signer filter offers; told from the
/// leaf certificate's name, so a chain that isn't trusted can still claim a kind.
enum class SignerKind { apple, appStore, developerId, development, adHoc, unsigned_, other };

[[nodiscard]] SignerKind signerKind(QStringView signer);

/// One column per privacy service: the table's services in its order, then the unknown
/// ones in the order the scan met them.
struct ServiceColumn {
    QString key;    ///< as `ItemSummary::services` names it
    QString title;  ///< as System Settings names it; for an unknown service, its name
};

/// The rows of the Applications window, one per item, appended as the scan answers.
/// Texts that the items control are kept with their control characters made visible.
class ApplicationsModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationsModel)
public:
    enum Column { name, identifier, version, signer, teamIdentifier, verdict, hardenedRuntime };
    static constexpr int fixedColumns = hardenedRuntime + 1;
    /// The most service columns, the table's and unknown ones together.
    static constexpr std::size_t maxServiceColumns = 400;

    explicit ApplicationsModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    /// Adds the rows in one insertion, and a column for each service not met before.
    void appendItems(std::vector<scan::ItemSummary> items);

    [[nodiscard]] const scan::ItemSummary& item(int row) const { return rows[row].summary; }
    /// A fixed column's text as shown.
    [[nodiscard]] const QString& text(int row, int column) const { return rows[row].texts[column]; }
    [[nodiscard]] SignerKind kind(int row) const { return rows[row].kind; }
    /// "accepted", "rejected", "unknown", or "unreadable" for an item not read at all.
    [[nodiscard]] const QString& verdictKey(int row) const;
    /// The item's marks for the service of `service` (an index into `services()`).
    [[nodiscard]] scan::ServiceMarks marks(int row, int service) const;
    [[nodiscard]] const std::vector<ServiceColumn>& services() const { return serviceColumns; }
    /// The index of the service named `key`, or -1.
    [[nodiscard]] int serviceIndex(const QString& key) const {
        return serviceIndexes.value(key, -1);
    }

    /// The short mark of a cell ("D E A" for declared, entitled, allowed) and its words.
    [[nodiscard]] static QString markText(scan::ServiceMarks marks);
    [[nodiscard]] static QString markWords(scan::ServiceMarks marks);

signals:
    /// New service columns were added (the filter's list of services grows with them).
    void servicesAdded();

private:
    struct Row {
        scan::ItemSummary summary;
        QString texts[fixedColumns];
        SignerKind kind = SignerKind::other;
        /// Indexed like the service columns; shorter when columns came later.
        std::vector<scan::ServiceMarks> marks;
    };

    std::vector<Row> rows;
    std::vector<ServiceColumn> serviceColumns;
    QHash<QString, int> serviceIndexes;
};

}  // namespace varko
