#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <string>
#include <vector>

#include "package/payload.h"

namespace varko {

/// What a package would install as a tree of folders, built off the GUI thread: a node per
/// path component, the entry's own facts where the payload lists it.
struct PayloadTree {
    struct Node {
        std::string name;
        const package::PayloadFile* file = nullptr;  ///< none for a folder only implied
        Node* parent = nullptr;
        int row = 0;
        bool flagged = false;  ///< it or anything under it is setuid, setgid or world-writable
        std::vector<std::unique_ptr<Node>> children;
    };
    package::PackageContents contents;
    Node root;

    [[nodiscard]] static std::shared_ptr<PayloadTree> build(package::PackageContents contents);
};

/// The tree for a view: Name, Kind, Mode, Owner, Size, Flags; flagged entries and the
/// folders above them on an amber ground, as flagged components are.
class PayloadModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Column { name, kind, mode, owner, size, flags, columnCount_ };

    explicit PayloadModel(QObject* parent = nullptr);
    void setTree(std::shared_ptr<PayloadTree> tree);

    [[nodiscard]] QModelIndex index(int row, int column,
                                    const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    [[nodiscard]] const PayloadTree::Node* node(const QModelIndex& index) const;
    std::shared_ptr<PayloadTree> tree;
};

/// The apps a package would install, each inspected from a copy in a private folder that
/// lives as long as `folder` is held.
struct PackageApps {
    struct Row {
        QString installedPath;  ///< where the package would put it, control characters shown
        QString onDisk;         ///< its copy
        QString verdict;        ///< "Accepted", "Rejected", "Can't tell"
        QString signer;
        QString mayUse;
    };
    std::shared_ptr<package::PrivateFolder> folder;
    std::vector<Row> rows;
};

/// The package in a line: "12 items into /Applications (Foo.app); runs install scripts:
/// preinstall, postinstall; 1 entry setuid, setgid or world-writable".
[[nodiscard]] QString installsText(const package::PackageContents& contents);

/// "setuid, world-writable"; empty for an entry with none of the flags.
[[nodiscard]] QString payloadFlags(const package::PayloadFile& file);

}  // namespace varko
