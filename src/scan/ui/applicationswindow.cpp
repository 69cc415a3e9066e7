#include "scan/ui/applicationswindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMutex>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/byserviceview.h"
#include "scan/ui/frozencolumntable.h"
#include "scan/ui/itemdetails.h"
#include "scan/ui/tableexport.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/savedialog.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

/// What the scan's threads hand over to the window. The workers touch only this, never
/// the window, which may close at any moment; the window takes what arrived on a timer.
struct ScanFeed {
    QMutex lock;
    std::vector<scan::ItemSummary> arrived;
    std::size_t total = 0;
    std::size_t done = 0;
    bool found = false;
    bool finished = false;
    std::vector<scan::Cut> cuts;
    QStringList problems;
};

namespace {

// Often enough to look live, seldom enough that thousands of rows arrive in few batches.
constexpr int arrivalInterval = 100;
constexpr int maxProblemsShown = 20;

}  // namespace

ApplicationsWindow::ApplicationsWindow(host::ToolSet toolSet, QWidget* parent)
    : QMainWindow(parent),
      tools(std::move(toolSet)),
      pool(new QThreadPool),
      arrivals(new QTimer(this)),
      items(new ApplicationsModel(this)),
      shown(new ApplicationsFilter(this)),
      refill(new QTimer(this)) {
    // One thread runs the walk and then the scan, which takes the rest for its items.
    pool->setMaxThreadCount(4);
    shown->setSourceModel(items);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->addWidget(buildFilters());
    layout->addWidget(buildViews());
    setCentralWidget(central);

    progressBar = new QProgressBar(this);
    progressBar->setMaximumWidth(260);
    progressBar->setTextVisible(true);
    progressBar->hide();
    status = new QLabel(this);
    status->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(status, 1);
    statusBar()->addPermanentWidget(progressBar);

    arrivals->setInterval(arrivalInterval);
    connect(arrivals, &QTimer::timeout, this, &ApplicationsWindow::takeArrivals);
    connect(items, &QAbstractItemModel::rowsInserted, this, &ApplicationsWindow::fitNameColumn);
    connect(items, &ApplicationsModel::servicesAdded, this, &ApplicationsWindow::fillServiceChoice);
    for (auto change : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(shown, change, this, &ApplicationsWindow::updateStatus);
    connect(shown, &QAbstractItemModel::modelReset, this, &ApplicationsWindow::updateStatus);
    createMenus();
    defaultFontSize = view->font().pointSizeF();
    setWindowTitle(tr("Applications"));
    setAttribute(Qt::WA_DeleteOnClose);
    fitToScreen(*this, {1240, 720});
}

QWidget* ApplicationsWindow::buildViews() {
    tabs = new QTabWidget(this);
    tabs->setDocumentMode(true);
    buildTable();
    tabs->addTab(view, tr("&Items"));
    serviceView = new ByServiceView(tabs);
    tabs->addTab(serviceView, tr("By &Service"));
    detailPane = new QTextBrowser(this);
    detailPane->setOpenLinks(false);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(tabs);
    split->addWidget(detailPane);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    showDetails(-1);

    // The pane follows the current item of the view that shows.
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { showDetails(currentItem()); });
    connect(serviceView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { showDetails(currentItem()); });
    connect(serviceView, &ByServiceView::itemChosen, this,
            [this](int row) { emit openItem(items->item(row).path); });
    connect(tabs, &QTabWidget::currentChanged, this, [this] {
        refillByService();
        showDetails(currentItem());
    });
    // Rows arrive often during a scan: the tree is filled once for a burst of them.
    refill->setSingleShot(true);
    refill->setInterval(250);
    connect(refill, &QTimer::timeout, this, [this] {
        if (byServiceStale) refillByService();
    });
    const auto stale = [this] {
        byServiceStale = true;
        refill->start();
    };
    for (auto change : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(shown, change, this, stale);
    connect(shown, &QAbstractItemModel::modelReset, this, stale);
    connect(shown, &QAbstractItemModel::layoutChanged, this, stale);
    return split;
}

int ApplicationsWindow::currentItem() const {
    if (tabs->currentWidget() == serviceView)
        return serviceView->itemRow(serviceView->currentIndex());
    const QModelIndex current = view->currentIndex();
    return current.isValid() ? shown->mapToSource(current).row() : -1;
}

void ApplicationsWindow::buildTable() {
    view = new FrozenColumnTable(this);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->setModel(shown);
    view->setSortingEnabled(true);
    view->sortByColumn(ApplicationsModel::name, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    QHeaderView* header = view->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setTextElideMode(Qt::ElideRight);
    header->setStretchLastSection(true);
    // The name first and wide enough; the services last, taking what is left.
    for (auto [column, width] : {std::pair{ApplicationsModel::name, 180},
                                 {ApplicationsModel::folder, 220},
                                 {ApplicationsModel::identifier, 180},
                                 {ApplicationsModel::version, 70},
                                 {ApplicationsModel::signer, 200},
                                 {ApplicationsModel::teamIdentifier, 100},
                                 {ApplicationsModel::verdict, 80}}) {
        const QString title = items->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        // Room for the title and the sort indicator at least.
        view->setColumnWidth(column,
                             std::max(header->fontMetrics().horizontalAdvance(title) + 32, width));
    }
    connect(header, &QHeaderView::sectionResized, this, [this](int column) {
        if (column == ApplicationsModel::name && !fittingName) nameSized = true;
    });
    view->installEventFilter(this);
    connect(view, &QTableView::doubleClicked, this, &ApplicationsWindow::openRow);
}

void ApplicationsWindow::fitNameColumn() {
    // Wide enough for the names, as long as a third of the table at most.
    if (nameSized) return;
    fittingName = true;
    view->resizeColumnToContents(ApplicationsModel::name);
    view->setColumnWidth(ApplicationsModel::name,
                         std::clamp(view->columnWidth(ApplicationsModel::name) + 8, 140,
                                    std::max(140, view->viewport()->width() / 3)));
    fittingName = false;
}

void ApplicationsWindow::showDetails(int row) {
    if (row < 0 || row >= items->rowCount()) {
        detailPane->setHtml(QStringLiteral("<p>%1</p>")
                                .arg(tr("Choose an item to see how it may use each privacy "
                                        "service.")
                                         .toHtmlEscaped()));
        return;
    }
    detailPane->setHtml(itemDetailsHtml(*items, row));
}

void ApplicationsWindow::refillByService() {
    if (tabs->currentWidget() != serviceView) return;
    byServiceStale = false;
    serviceView->fill(*shown);
}

ApplicationsWindow::~ApplicationsWindow() {
    cancel->store(true);
    host::retirePool(pool);
}

QWidget* ApplicationsWindow::buildFilters() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    services = new QComboBox(row);
    services->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    services->setMinimumContentsLength(24);
    services->setMaxVisibleItems(24);
    fillServiceChoice();
    connect(services, &QComboBox::currentIndexChanged, this,
            [this] { shown->setService(services->currentData().toString()); });

    signers = new QComboBox(row);
    signers->addItem(tr("Any signer"));
    for (auto [kind, title] : {std::pair{SignerKind::apple, tr("Apple")},
                               {SignerKind::appStore, tr("App Store")},
                               {SignerKind::developerId, tr("Developer ID")},
                               {SignerKind::development, tr("Development")},
                               {SignerKind::adHoc, tr("Ad hoc")},
                               {SignerKind::unsigned_, tr("Unsigned")},
                               {SignerKind::other, tr("Other signer")}})
        signers->addItem(title, int(kind));
    connect(signers, &QComboBox::currentIndexChanged, this, [this] {
        const QVariant kind = signers->currentData();
        shown->setSignerKind(kind.isValid() ? std::optional(SignerKind(kind.toInt()))
                                            : std::nullopt);
    });

    verdicts = new QComboBox(row);
    verdicts->addItem(tr("Any verdict"));
    for (auto [key, title] : {std::pair{"accepted", tr("Accepted")},
                              {"rejected", tr("Rejected")},
                              {"unknown", tr("Unknown")},
                              {"unreadable", tr("Unreadable")}})
        verdicts->addItem(title, QString::fromLatin1(key));
    connect(verdicts, &QComboBox::currentIndexChanged, this,
            [this] { shown->setVerdict(verdicts->currentData().toString()); });

    search = new QLineEdit(row);
    search->setPlaceholderText(tr("Search path, name, identifier, Team ID"));
    search->installEventFilter(this);
    search->setClearButtonEnabled(true);
    connect(search, &QLineEdit::textChanged, shown, &ApplicationsFilter::setSearchText);

    layout->addWidget(services);
    layout->addWidget(signers);
    layout->addWidget(verdicts);
    layout->addWidget(search, 1);
    return row;
}

void ApplicationsWindow::fillServiceChoice() {
    // Rebuilt as unknown services turn up, keeping what is chosen.
    const QString chosen = services->currentData().toString();
    const QSignalBlocker quiet(services);
    services->clear();
    services->addItem(tr("Any service"));
    for (const ServiceName& service : items->services())
        services->addItem(tr("May use %1").arg(service.title), service.key);
    services->setCurrentIndex(std::max(0, services->findData(chosen)));
}

void ApplicationsWindow::createMenus() {
    WindowActions actions{.close = [this] { close(); },
                          .copy = [this] { copyRows(); },
                          .selectAll = [this] { view->selectAll(); },
                          .find =
                              [this] {
                                  search->setFocus(Qt::ShortcutFocusReason);
                                  search->selectAll();
                              },
                          .bigger = [this] { setFontSize(view->font().pointSizeF() + 1); },
                          .smaller = [this] { setFontSize(view->font().pointSizeF() - 1); },
                          .actualSize = [this] { setFontSize(defaultFontSize); }};
    file = addStandardMenus(*menuBar(), *this, actions);
    // After Save Report…, which a table has no use for: the exports are its saving.
    QAction* after = file->actions().value(2);
    auto* csv = new QAction(tr("Export as &CSV…"), this);
    connect(csv, &QAction::triggered, this, &ApplicationsWindow::exportCsv);
    auto* lines = new QAction(tr("Export as &JSON Lines…"), this);
    connect(lines, &QAction::triggered, this, &ApplicationsWindow::exportJsonLines);
    file->insertActions(after, {csv, lines});

    // The two views, by keys as well as by their tabs.
    QMenu* viewMenu = nullptr;
    for (QAction* menu : menuBar()->actions())
        if (menu->menu() && menu->text() == tr("&View")) viewMenu = menu->menu();
    if (!viewMenu) return;
    QAction* first = viewMenu->actions().value(0);
    auto* asItems = new QAction(tr("As &Items"), this);
    asItems->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    connect(asItems, &QAction::triggered, this, [this] {
        tabs->setCurrentWidget(view);
        view->setFocus(Qt::ShortcutFocusReason);
    });
    auto* asServices = new QAction(tr("By &Service"), this);
    asServices->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    connect(asServices, &QAction::triggered, this, [this] {
        tabs->setCurrentWidget(serviceView);
        serviceView->setFocus(Qt::ShortcutFocusReason);
    });
    viewMenu->insertActions(first, {asItems, asServices});
    viewMenu->insertSeparator(first);
}

void ApplicationsWindow::setFontSize(double points) {
    if (points < 6 || points > 32) return;
    QFont font = view->font();
    font.setPointSizeF(points);
    view->setRowFont(font);
    serviceView->setFont(font);
    detailPane->setFont(font);
    byServiceStale = true;
    refillByService();
}

void ApplicationsWindow::scanFolders(const QStringList& folders) {
    if (scanning || folders.isEmpty()) return;
    scanning = true;
    QStringList names;
    for (const QString& folder : folders)
        names << host::visibleControls(QDir::toNativeSeparators(folder));
    setWindowTitle(tr("Applications in %1").arg(names.join(QStringLiteral(", "))));
    setWindowFilePath(folders.size() == 1 ? folders.front() : QString());
    items->setScannedFolders(folders);
    progressBar->setRange(0, 0);
    progressBar->setFormat(tr("Looking for items…"));
    progressBar->show();
    status->clear();
    status->setToolTip({});
    unreadable = 0;
    cuts.clear();

    feed = std::make_shared<ScanFeed>();
    const unsigned workers = std::max(1, QThread::idealThreadCount());
    // Its results travel through the feed, not the future.
    (void)QtConcurrent::run(pool, [feed = feed, tools = tools,
                                   work = Work{host::poolThreads(pool), cancel}, folders, workers] {
        scan::FindOptions options;
        options.cancel = work.cancel.get();
        scan::Found found = scan::findItems(folders, options);
        {
            QMutexLocker hold(&feed->lock);
            feed->total = std::size_t(found.items.size());
            feed->found = true;
            feed->problems = found.problems;
            feed->cuts = found.cuts;
        }
        if (!work.cancelled())
            scan::scanItems(found.items, tools, work, workers,
                            [feed](std::size_t, scan::ItemSummary summary) {
                                QMutexLocker hold(&feed->lock);
                                feed->arrived.push_back(std::move(summary));
                                ++feed->done;
                            });
        QMutexLocker hold(&feed->lock);
        feed->finished = true;
    });
    arrivals->start();
}

void ApplicationsWindow::takeArrivals() {
    if (!feed) return;
    std::vector<scan::ItemSummary> batch;
    std::size_t total = 0, done = 0;
    bool found = false, finished = false;
    QStringList problems;
    {
        QMutexLocker hold(&feed->lock);
        batch.swap(feed->arrived);
        total = feed->total;
        done = feed->done;
        found = feed->found;
        finished = feed->finished;
        if (finished) {
            problems = feed->problems;
            cuts = feed->cuts;
        }
    }
    items->appendItems(std::move(batch));
    if (found && !finished) {
        // A bar's range is an int; so many items exceed the walk's bound anyway.
        progressBar->setRange(0, int(std::min<std::size_t>(total, INT_MAX)));
        progressBar->setValue(int(std::min(done, total)));
        progressBar->setFormat(tr("Scanning %1 of %2").arg(done).arg(total));
    }
    if (!finished) return;
    arrivals->stop();
    scanning = false;
    progressBar->hide();
    QStringList tip;
    // What the walk left out first: it says where, and the rows can't.
    for (const scan::Cut& c : cuts) tip << scan::cutText(c);
    if (!problems.isEmpty()) {
        unreadable = int(problems.size());
        for (const QString& problem : problems.mid(0, maxProblemsShown))
            tip << host::visibleControls(problem);
        if (problems.size() > maxProblemsShown) tip << QStringLiteral("…");
    }
    status->setToolTip(tip.join(u'\n'));
    updateStatus();
    emit scanFinished();
}

void ApplicationsWindow::updateStatus() {
    const int all = items->rowCount(), rows = shown->rowCount();
    QString text = rows == all ? (all == 1 ? tr("1 item") : tr("%1 items").arg(all))
                               : tr("%1 of %2 items").arg(rows).arg(all);
    if (unreadable > 0) text += QStringLiteral(" · ") + tr("%1 could not be read").arg(unreadable);
    for (const scan::Cut& c : cuts) {
        text += QStringLiteral(" · ");
        switch (c.kind) {
            case scan::CutKind::depth:
                text += tr("not looked deeper than %1 folders").arg(c.limit);
                break;
            case scan::CutKind::items:
                text += tr("the scan stopped at %1 items").arg(c.limit);
                break;
            case scan::CutKind::entries:
                text += tr("the scan stopped after %1 entries").arg(c.limit);
                break;
            case scan::CutKind::problems:
                text += tr("%1 more could not be read").arg(c.times);
                break;
        }
    }
    status->setText(text);
}

void ApplicationsWindow::openRow(const QModelIndex& index) {
    if (!index.isValid()) return;
    const QModelIndex source = shown->mapToSource(index);
    if (source.isValid()) emit openItem(items->item(source.row()).path);
}

bool ApplicationsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == view && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        openRow(view->currentIndex());
        return true;
    }
    // From the search field, Down goes to the results and Escape clears the search.
    if (watched == search && (key == Qt::Key_Down || key == Qt::Key_Escape)) {
        if (key == Qt::Key_Escape) search->clear();
        QAbstractItemView* results =
            tabs->currentWidget() == view ? static_cast<QAbstractItemView*>(view) : serviceView;
        results->setFocus(Qt::ShortcutFocusReason);
        if (!results->currentIndex().isValid() && results->model()->rowCount() > 0)
            results->setCurrentIndex(results->model()->index(0, 0));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void ApplicationsWindow::copyRows() {
    QModelIndexList selected = view->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    QStringList header;
    for (int c = 0; c < shown->columnCount(); ++c)
        header << shown->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    lines << header.join(u'\t');
    for (const QModelIndex& row : selected) {
        QStringList cells;
        for (int c = 0; c < shown->columnCount(); ++c)
            cells << shown->index(row.row(), c).data().toString();
        lines << cells.join(u'\t');
    }
    QApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

void ApplicationsWindow::exportCsv() {
    exportRows(true);
}

void ApplicationsWindow::exportJsonLines() {
    exportRows(false);
}

void ApplicationsWindow::exportRows(bool csv) {
    // The rows as shown now; the conversion and the write happen off the GUI thread.
    const SaveDialogSetup setup{csv ? tr("Export as CSV") : tr("Export as JSON Lines"),
                                QDir(documentsFolder())
                                    .filePath(csv ? QStringLiteral("Applications.csv")
                                                  : QStringLiteral("Applications.jsonl")),
                                csv ? tr("CSV files (*.csv)") : tr("JSON Lines files (*.jsonl)"),
                                csv ? QStringLiteral("csv") : QStringLiteral("jsonl"),
                                false,
                                tr("The table could not be exported to %1: %2.")};
    QFuture<std::string> content = QtConcurrent::run(savingPool(), [rows = shownRows(*shown), csv] {
        return (csv ? csvOf(rows) : jsonLinesOf(rows)).toStdString();
    });
    openSaveDialog(
        this, setup, std::move(content),
        [this](const QString& fileName, const Expected<void>& written) {
            if (!written)
                status->setText(tr("The table could not be exported to %1: %2.")
                                    .arg(host::visibleControls(fileName),
                                         QString::fromStdString(written.error().message)));
            emit exported(fileName, bool(written));
        });
}

void ApplicationsWindow::closeEvent(QCloseEvent* event) {
    // Nobody will look at what the scan still finds.
    cancel->store(true);
    arrivals->stop();
    QMainWindow::closeEvent(event);
}

}  // namespace varko
