#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <utility>
#include <vector>

#include "scan/scan.h"

namespace varko {

/// Who signed an item, in the broad kinds the signer filter offers; told from the
/// leaf certificate's name, so a chain that isn't trusted can still claim a kind.
enum class SignerKind { apple, appStore, developerId, development, adHoc, unsigned_, other };

[[nodiscard]] SignerKind signerKind(QStringView signer);

/// A privacy service the window can filter by: the table's services in its order, then
/// the unknown ones in the order the scan met them.
struct ServiceName {
    QString key;    ///< as `ItemSummary::services` names it
    QString title;  ///< as System Settings names it; for an unknown service, its name shown
};

/// The rows of the Applications window, one per item, appended as the scan answers; the
/// rows never move, so a row number names an item for as long as the model lives.
/// Texts that the items control are kept with their control characters made visible.
class ApplicationsModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationsModel)
public:
    enum Column {
        name,
        folder,
        identifier,
        version,
        signer,
        teamIdentifier,
        verdict,
        servicesUsed
    };
    static constexpr int columns = servicesUsed + 1;
    /// The text the exports write: the Services column's says how each service is used.
    static constexpr int exportRole = Qt::UserRole;
    /// The most services the filter offers, the table's and unknown ones together.
    static constexpr std::size_t maxServices = 400;
    /// The most services one row names; a stranger's item could name thousands.
    static constexpr std::size_t maxNamedServices = 60;

    explicit ApplicationsModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    /// The folders scanned: an item's folder is then shown from the one that holds it, by
    /// that one's name ("Macs/lab-02/Applications"), so that copies differ in what shows.
    void setScannedFolders(const QStringList& folders);
    /// Adds the rows in one insertion, and to `services()` each service not met before.
    void appendItems(std::vector<scan::ItemSummary> items);

    [[nodiscard]] const scan::ItemSummary& item(int row) const { return rows[row].summary; }
    /// A column's text as shown.
    [[nodiscard]] const QString& text(int row, int column) const { return rows[row].texts[column]; }
    /// The item's path as shown.
    [[nodiscard]] const QString& pathText(int row) const { return rows[row].path; }
    [[nodiscard]] SignerKind kind(int row) const { return rows[row].kind; }
    /// "accepted", "rejected", "unknown", or "unreadable" for an item not read at all.
    [[nodiscard]] const QString& verdictKey(int row) const;
    /// The services the item may use, as indexes into `services()` in ascending order, each
    /// with how; a service named more than once counts every way it was named.
    [[nodiscard]] const std::vector<std::pair<int, scan::ServiceMarks>>& uses(int row) const {
        return rows[row].uses;
    }
    /// Services past the bound of `services()`, each with how, only named in the row.
    [[nodiscard]] const QStringList& unlistedServices(int row) const { return rows[row].unlisted; }
    /// The item's marks for the service of `service` (an index into `services()`).
    [[nodiscard]] scan::ServiceMarks marks(int row, int service) const;
    [[nodiscard]] const std::vector<ServiceName>& services() const { return serviceNames; }
    /// The index of the service named `key`, or -1.
    [[nodiscard]] int serviceIndex(const QString& key) const {
        return serviceIndexes.value(key, -1);
    }

    /// How a service is used, in words: "declared, entitled, allowed", or "not asked for".
    [[nodiscard]] static QString markWords(scan::ServiceMarks marks);

signals:
    /// Services not met before were added (the filter's list of services grows with them).
    void servicesAdded();

private:
    struct Row {
        scan::ItemSummary summary;
        QString texts[columns];
        QString path;
        QString folder;  ///< the whole of it, shown
        SignerKind kind = SignerKind::other;
        std::vector<std::pair<int, scan::ServiceMarks>> uses;
        QStringList unlisted;
    };

    [[nodiscard]] QString servicesDetail(const Row& row, QStringView separator) const;
    [[nodiscard]] QString folderText(const QString& path) const;

    std::vector<Row> rows;
    QStringList scanned;
    std::vector<ServiceName> serviceNames;
    QHash<QString, int> serviceIndexes;
};

}  // namespace varko
