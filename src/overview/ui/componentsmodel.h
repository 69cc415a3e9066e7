#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <QTimer>
#include <optional>
#include <vector>

#include "overview/overview.h"

namespace varko {

/// Every piece of code in a bundle as a tree by where it sits, one column per finding.
/// Verification answers one component at a time: `updateCheck` changes that row alone, so
/// the view keeps its selection, expansion and scroll position. Thousands of rows arrive a
/// batch per turn of the event loop, in the list's order, so a parent is always in before
/// its children and the window answers meanwhile.
class ComponentsModel final : public QAbstractItemModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComponentsModel)
public:
    enum Column {
        name,
        kind,
        identifier,
        version,
        signer,
        teamIdentifier,
        hardened,
        valid,
        services,
        usageKeys,
        flags,
        columnCount_
    };
    enum Role {
        /// The component's path inside the bundle, as it is.
        PathRole = Qt::UserRole,
        /// Whether the component has flags: the row stands out.
        FlaggedRole,
        /// The component's index in the overview's list.
        ComponentRole,
    };

    struct Row {
        overview::Component component;
        QString shownName;   ///< the path, from the parent's folder where it lies inside it
        QStringList titles;  ///< its privacy services
        std::vector<std::size_t> children;
        int row = 0;  ///< among its parent's children
        std::optional<std::size_t> parent;
    };
    /// The rows of an overview's components and those at the top, ready to show.
    struct Rows {
        std::vector<Row> rows;
        std::vector<std::size_t> top;
    };

    explicit ComponentsModel(QObject* parent = nullptr);

    /// The rows for the overview's components: a component whose parent is not an earlier
    /// one goes to the top, so that a broken list cannot form a cycle. A pure function of
    /// values, for a worker thread.
    [[nodiscard]] static Rows prepareRows(const overview::Overview& overview);
    /// Shows `rows`: the first batch at once, the rest one per turn of the event loop;
    /// `filled` follows the last.
    void setRows(Rows rows);
    void setOverview(const overview::Overview& overview) { setRows(prepareRows(overview)); }
    /// Whether rows are still waiting to be shown.
    [[nodiscard]] bool isFilling() const { return shown < rows.size(); }
    /// Verification answered for one component; its flags may have changed with it.
    void updateCheck(std::size_t component, const overview::ComponentCheck& check,
                     const std::vector<std::string>& flags);
    /// A component's flags changed without a check of its own (the main executable's
    /// answer decides whether others are "inside a signed app").
    void setFlags(std::size_t component, const std::vector<std::string>& flags);
    /// While checks run, components without an answer say "Checking…", afterwards
    /// "Not checked".
    void setChecking(bool running);

    [[nodiscard]] QModelIndex indexOf(std::size_t component, int column = 0) const;
    /// The components shown so far.
    [[nodiscard]] std::size_t componentCount() const { return shown; }

    /// Rows inserted in one turn of the event loop: a few milliseconds of the view's work.
    static constexpr std::size_t rowsPerTurn = 250;

    [[nodiscard]] QModelIndex index(int row, int column,
                                    const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

signals:
    /// Every row given to `setRows` is shown.
    void filled();

private:
    void showMore();
    /// How many of `list` (components in the list's order) are shown.
    [[nodiscard]] int shownOf(const std::vector<std::size_t>& list) const;
    [[nodiscard]] QVariant display(const Row& row, int column) const;
    [[nodiscard]] QVariant toolTip(const Row& row, int column) const;
    void rowChanged(std::size_t component);

    std::vector<Row> rows;
    std::vector<std::size_t> top;
    /// Components [0, shown) are in the model; the rest wait for `filler`.
    std::size_t shown = 0;
    QTimer filler;
    bool checking = true;
};

}  // namespace varko
