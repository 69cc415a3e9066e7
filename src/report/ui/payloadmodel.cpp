#include "report/ui/payloadmodel.h"

#include <QColor>
#include <QLocale>
#include <algorithm>
#include <map>

#include "overview/ui/overviewtexts.h"
#include "report/payloadjson.h"

namespace varko {

namespace {

QString kindText(package::EntryType type) {
    using T = package::EntryType;
    switch (type) {
        case T::file:
            return QObject::tr("File");
        case T::directory:
            return QObject::tr("Folder");
        case T::symlink:
            return QObject::tr("Symbolic link");
        case T::hardlink:
            return QObject::tr("Hard link");
        case T::characterDevice:
        case T::blockDevice:
            return QObject::tr("Device");
        case T::fifo:
            return QObject::tr("Pipe");
        case T::socket:
            break;
    }
    return QObject::tr("Socket");
}

}  // namespace

QString payloadFlags(const package::PayloadFile& file) {
    QStringList out;
    if (file.setuid()) out << QObject::tr("setuid");
    if (file.setgid()) out << QObject::tr("setgid");
    if (file.worldWritable()) out << QObject::tr("world-writable");
    return out.join(QStringLiteral(", "));
}

QString installsText(const package::PackageContents& contents) {
    std::size_t files = 0, flagged = 0;
    QStringList locations, scripts;
    for (const package::ComponentPackage& c : contents.components) {
        files += c.files.size();
        for (const package::PayloadFile& f : c.files)
            if (!payloadFlags(f).isEmpty()) ++flagged;
        if (!c.files.empty() && !locations.contains(shownText(c.installLocation)))
            locations << shownText(c.installLocation);
        for (const package::PackageScript& s : c.scripts)
            if (!scripts.contains(shownText(s.name))) scripts << shownText(s.name);
    }
    const QString items = files == 1 ? QObject::tr("1 item") : QObject::tr("%1 items").arg(files);
    QString text = files == 0              ? QObject::tr("nothing: the package has no payload")
                   : locations.size() == 1 ? QObject::tr("%1 into %2").arg(items, locations.front())
                                           : QObject::tr("%1 into several places").arg(items);
    QStringList apps;
    for (const std::string& app : payloadApps(contents))
        apps << shownText(app.substr(app.rfind('/') + 1));
    if (!apps.isEmpty()) {
        const qsizetype named = std::min<qsizetype>(apps.size(), 5);
        text += " (" + apps.mid(0, named).join(QStringLiteral(", ")) +
                (apps.size() > named ? QObject::tr(" and %1 more apps").arg(apps.size() - named)
                                     : QString()) +
                ")";
    }
    if (!scripts.isEmpty()) {
        const qsizetype named = std::min<qsizetype>(scripts.size(), 5);
        text += QObject::tr("; runs install scripts: %1").arg(scripts.mid(0, named).join(", ")) +
                (scripts.size() > named ? QObject::tr(" and %1 more").arg(scripts.size() - named)
                                        : QString());
    }
    if (flagged > 0)
        text += flagged == 1
                    ? QObject::tr("; 1 entry setuid, setgid or world-writable")
                    : QObject::tr("; %1 entries setuid, setgid or world-writable").arg(flagged);
    if (contents.cut()) {
        text += QObject::tr("; the listing was cut short (see Files)");
    } else {
        // A payload read only in part must not pass for the whole of it.
        const auto unread = [](const Error& e) { return e.code != ErrorCode::refused; };
        const bool partial =
            std::any_of(contents.problems.begin(), contents.problems.end(), unread) ||
            std::any_of(contents.components.begin(), contents.components.end(),
                        [&](const package::ComponentPackage& c) {
                            return std::any_of(c.problems.begin(), c.problems.end(), unread);
                        });
        if (partial) text += QObject::tr("; part of it could not be read, so there may be more");
    }
    return text;
}

std::shared_ptr<PayloadTree> PayloadTree::build(package::PackageContents contents) {
    auto tree = std::make_shared<PayloadTree>();
    tree->contents = std::move(contents);
    tree->root.name.assign(1, '/');  // GCC 12 warns falsely (-Wrestrict) on assigning "/"
    // Children by name while building; the views need only the vectors.
    std::map<std::pair<const Node*, std::string>, Node*> byName;
    for (const package::ComponentPackage& c : tree->contents.components)
        for (const package::PayloadFile& f : c.files) {
            Node* at = &tree->root;
            std::size_t from = 0;
            while (from < f.path.size()) {
                std::size_t to = f.path.find('/', from);
                if (to == std::string::npos) to = f.path.size();
                if (to > from) {
                    std::string part = f.path.substr(from, to - from);
                    auto& child = byName[{at, part}];
                    if (!child) {
                        auto made = std::make_unique<Node>();
                        made->name = std::move(part);
                        made->parent = at;
                        made->row = int(at->children.size());
                        child = made.get();
                        at->children.push_back(std::move(made));
                    }
                    at = child;
                }
                from = to + 1;
            }
            at->file = &f;
            if (f.setuid() || f.setgid() || f.worldWritable())
                for (Node* up = at; up && !up->flagged; up = up->parent) up->flagged = true;
        }
    return tree;
}

PayloadModel::PayloadModel(QObject* parent) : QAbstractItemModel(parent) {}

void PayloadModel::setTree(std::shared_ptr<PayloadTree> newTree) {
    beginResetModel();
    tree = std::move(newTree);
    endResetModel();
}

const PayloadTree::Node* PayloadModel::node(const QModelIndex& index) const {
    if (!tree) return nullptr;
    return index.isValid() ? static_cast<const PayloadTree::Node*>(index.internalPointer())
                           : &tree->root;
}

QModelIndex PayloadModel::index(int row, int column, const QModelIndex& parent) const {
    const PayloadTree::Node* at = node(parent);
    if (!at || row < 0 || row >= int(at->children.size()) || column < 0 || column >= columnCount_)
        return {};
    return createIndex(row, column, at->children[std::size_t(row)].get());
}

QModelIndex PayloadModel::parent(const QModelIndex& child) const {
    const PayloadTree::Node* at = node(child);
    if (!child.isValid() || !at || !at->parent || at->parent == &tree->root) return {};
    return createIndex(at->parent->row, 0, at->parent);
}

int PayloadModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const PayloadTree::Node* at = node(parent);
    return at ? int(at->children.size()) : 0;
}

int PayloadModel::columnCount(const QModelIndex&) const {
    return columnCount_;
}

QVariant PayloadModel::data(const QModelIndex& index, int role) const {
    const PayloadTree::Node* at = index.isValid() ? node(index) : nullptr;
    if (!at) return {};
    const package::PayloadFile* f = at->file;
    // The same amber as a flagged component's row: readable in light and dark themes.
    if (role == Qt::BackgroundRole && at->flagged) return QColor(255, 170, 0, 56);
    if (role == Qt::ToolTipRole && f)
        return shownText(f->path) +
               (f->linkTarget.empty() ? QString() : " → " + shownText(f->linkTarget));
    if (role != Qt::DisplayRole) return {};
    switch (Column(index.column())) {
        case name:
            return shownText(at->name);
        case kind:
            return f ? kindText(f->type) : tr("Folder");
        case mode:
            return f ? QStringLiteral("%1").arg(f->mode, 4, 8, QLatin1Char('0')) : QVariant();
        case owner:
            return f ? QStringLiteral("%1:%2").arg(f->uid).arg(f->gid) : QVariant();
        case size:
            return f && f->type == package::EntryType::file
                       ? QVariant(QLocale().toString(qulonglong(f->size)))
                       : QVariant();
        case flags:
            return f ? payloadFlags(*f) : QVariant();
        case columnCount_:
            break;
    }
    return {};
}

QVariant PayloadModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const QString titles[] = {tr("Name"),  tr("Kind"), tr("Mode"),
                              tr("Owner"), tr("Size"), tr("Flags")};
    return section >= 0 && section < columnCount_ ? titles[section] : QVariant();
}

}  // namespace varko
