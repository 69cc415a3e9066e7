#include "compare/ui/comparisonwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <algorithm>

#include "compare/ui/changesmodel.h"
#include "inspection/itemtype.h"
#include "report/iteminspection.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

namespace {

/// What the pool hands back: the changes, or why there are none to show.
struct Outcome {
    std::vector<compare::Change> changes;
    QString problem;       ///< an item could not be inspected at all
    QStringList doubtful;  ///< items whose signature tools gave no answer
};

QString shownName(const QString& path) {
    return host::visibleControls(QFileInfo(path).fileName());
}

// The last `count` parts of `folder`, or the whole folder when it has no more.
QString folderEnd(const QStringList& parts, qsizetype count) {
    if (count >= parts.size()) return u'/' + parts.join(u'/');
    return parts.sliced(parts.size() - count).join(u'/');
}

/// "Some.app → Other.app"; two versions of one name are told apart by as much of their
/// folders as differs: "old/Some.app → new/Some.app".
QString comparisonTitle(const QString& oldPath, const QString& newPath) {
    const QFileInfo before(oldPath), after(newPath);
    const QStringList a = before.absolutePath().split(u'/', Qt::SkipEmptyParts);
    const QStringList b = after.absolutePath().split(u'/', Qt::SkipEmptyParts);
    if (before.fileName() != after.fileName() || a == b)
        return shownName(oldPath) + " → " + shownName(newPath);
    qsizetype count = 1;
    while (folderEnd(a, count) == folderEnd(b, count)) ++count;
    return host::visibleControls(QDir(folderEnd(a, count)).filePath(before.fileName())) + " → " +
           host::visibleControls(QDir(folderEnd(b, count)).filePath(after.fileName()));
}

/// Sizes a cell at its column's width, so that a wrapped text makes its row as tall as it
/// needs: the tree view asks for a row's height without saying how wide its cells are.
class ColumnWidthDelegate final : public QStyledItemDelegate {
public:
    explicit ColumnWidthDelegate(QTreeView* view) : QStyledItemDelegate(view), view(view) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem sized = option;
        sized.rect.setSize(
            {view->header()->sectionSize(index.column()), std::max(option.rect.height(), 1)});
        return QStyledItemDelegate::sizeHint(sized, index);
    }

private:
    QTreeView* view;
};

/// Hides the columns no row has anything in (the component, when every change is to the
/// item itself) and shows the others. An empty list leaves them as they were.
void hideEmptyColumns(QTreeView& view) {
    const QAbstractItemModel& model = *view.model();
    if (model.rowCount() == 0) return;
    for (int column = 0; column < model.columnCount(); ++column) {
        bool empty = true;
        for (int row = 0; row < model.rowCount() && empty; ++row)
            empty = model.index(row, column).data().toString().isEmpty();
        view.setColumnHidden(column, empty);
    }
}

QLabel* pathLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

Outcome compareOnDisk(const host::ToolSet& tools, const Work& work, const QString& oldPath,
                      const QString& newPath) {
    Outcome outcome;
    QJsonObject objects[2];
    const QString paths[2] = {oldPath, newPath};
    for (int i = 0; i < 2; ++i) {
        const ItemType type = itemTypeForPath(paths[i]);
        if (!type.accepted()) {
            outcome.problem = host::visibleControls(type.error);
            return outcome;
        }
        Inspection item;
        item.path = QFileInfo(paths[i]).absoluteFilePath();
        item.typeName = type.typeName;
        inspect(item, tools, true, work);
        if (work.cancelled()) return outcome;
        if (item.toolFailed()) outcome.doubtful << shownName(paths[i]);
        objects[i] = inspectionJson(item);
    }
    outcome.changes = compare::compareItems(objects[0], objects[1]);
    return outcome;
}

QString summary(const std::vector<compare::Change>& changes) {
    if (changes.empty()) return QObject::tr("No changes between these versions.");
    int counts[3] = {};
    for (const compare::Change& c : changes) ++counts[int(c.severity)];
    QStringList parts;
    for (const compare::Severity s :
         {compare::Severity::high, compare::Severity::medium, compare::Severity::low})
        if (counts[int(s)] > 0)
            parts << QStringLiteral("%1 %2").arg(counts[int(s)]).arg(severityWords(s).toLower());
    const QString count = changes.size() == 1 ? QObject::tr("1 change")
                                              : QObject::tr("%1 changes").arg(changes.size());
    return QObject::tr("%1, most serious first: %2.").arg(count, parts.join(QStringLiteral(", ")));
}

}  // namespace

ComparisonWindow::ComparisonWindow(host::ToolSet toolSet, QWidget* parent)
    : QMainWindow(parent),
      tools(std::move(toolSet)),
      pool(new QThreadPool),
      model(new ChangesModel(this)) {
    pool->setMaxThreadCount(4);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    auto* paths = new QFormLayout;
    oldPathLabel = pathLabel(content, "oldPath");
    newPathLabel = pathLabel(content, "newPath");
    paths->addRow(tr("Old:"), oldPathLabel);
    paths->addRow(tr("New:"), newPathLabel);
    status = new QLabel(content);
    status->setTextFormat(Qt::PlainText);
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    busy = new QProgressBar(content);
    busy->setRange(0, 0);
    busy->setMaximumHeight(12);
    busy->setTextVisible(false);
    busy->hide();
    view = new QTreeView(content);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setAlternatingRowColors(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A signer or a path cut short can hide the very part that changed.
    view->setWordWrap(true);
    view->setTextElideMode(Qt::ElideNone);
    view->setItemDelegate(new ColumnWidthDelegate(view));
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ChangesModel::severityColumn, QHeaderView::ResizeToContents);
    header->resizeSection(ChangesModel::changeColumn, 300);
    header->resizeSection(ChangesModel::componentColumn, 220);
    header->setSectionResizeMode(ChangesModel::oldColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ChangesModel::newColumn, QHeaderView::Stretch);
    // Rows keep their heights until laid out again, and a narrower column wraps onto more lines.
    auto* relayout = new QTimer(this);
    relayout->setSingleShot(true);
    relayout->setInterval(0);
    connect(relayout, &QTimer::timeout, view, &QTreeView::doItemsLayout);
    connect(header, &QHeaderView::sectionResized, relayout, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::modelReset, this, [this] { hideEmptyColumns(*view); });
    layout->addLayout(paths);
    layout->addWidget(status);
    layout->addWidget(busy);
    layout->addWidget(view, 1);
    setCentralWidget(content);

    WindowActions actions{.close = [this] { close(); },
                          .copy = [this] { copySelection(); },
                          .selectAll = [this] { view->selectAll(); }};
    file = addStandardMenus(*menuBar(), *this, actions);
    setAttribute(Qt::WA_DeleteOnClose);
    fitToScreen(*this, {1120, 560});
}

ComparisonWindow::~ComparisonWindow() {
    cancel->store(true);
    host::retirePool(pool);
}

void ComparisonWindow::compare(const QString& oldPath, const QString& newPath) {
    setWindowTitle(comparisonTitle(oldPath, newPath));
    setWindowFilePath(QFileInfo(oldPath).absoluteFilePath());
    oldPathLabel->setText(host::visibleControls(QFileInfo(oldPath).absoluteFilePath()));
    newPathLabel->setText(host::visibleControls(QFileInfo(newPath).absoluteFilePath()));
    comparing = true;
    model->setChanges({});
    status->setText(tr("Inspecting both versions…"));
    busy->show();
    auto work = [tools = tools, work = Work{host::poolThreads(pool), cancel}, oldPath, newPath] {
        return compareOnDisk(tools, work, oldPath, newPath);
    };
    host::whenFinished(this, QtConcurrent::run(pool, std::move(work)), [this](Outcome outcome) {
        comparing = false;
        busy->hide();
        if (!outcome.problem.isEmpty()) {
            status->setText(tr("Varko can't compare these items: %1").arg(outcome.problem));
        } else {
            QString text = summary(outcome.changes);
            if (!outcome.doubtful.isEmpty())
                text += " " + tr("A signature tool gave no answer for %1, so some changes may "
                                 "be missing.")
                                  .arg(outcome.doubtful.join(QStringLiteral(", ")));
            status->setText(text);
            model->setChanges(std::move(outcome.changes));
        }
        emit comparisonFinished();
    });
}

void ComparisonWindow::copySelection() {
    QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QString text;
    for (const QModelIndex& row : rows)
        text += compare::changeLine(model->changes()[size_t(row.row())]) + "\n";
    QApplication::clipboard()->setText(text);
}

QString ComparisonWindow::statusText() const {
    return status->text();
}

}  // namespace varko
