#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "overview/privacyservices.h"

namespace varko {

/// One row per privacy service the app or its components use: what the main executable
/// declares, is entitled to and is privately allowed, what an opened privacy database granted
/// it, and which other components use it. A service the table doesn't know stands out, under
/// its own name; one that is granted but not used gets a row too.
class PrivacyModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PrivacyModel)
public:
    enum Column { service, usageKeys, entitlements, allowances, granted, components, columnCount_ };
    enum Role {
        /// Whether the table of privacy services knows the row's service.
        KnownRole = Qt::UserRole,
        /// The TCC service name, or the usage key, as it is.
        NameRole,
    };

    explicit PrivacyModel(QObject* parent = nullptr);

    void setServices(const std::vector<overview::ServiceUse>& services);
    /// What a privacy database granted the app; it stays while the services change.
    void setGrants(std::vector<privacy::Grant> grants);
    /// Whether a privacy database was read: without one the Granted column says nothing.
    [[nodiscard]] bool hasGrants() const { return grantsRead; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    void merge();

    std::vector<overview::ServiceUse> used;  ///< as the overview gave them
    std::vector<privacy::Grant> grants;
    bool grantsRead = false;
    std::vector<overview::ServiceUse> rows;  ///< `used` with the grants put on them
};

}  // namespace varko
