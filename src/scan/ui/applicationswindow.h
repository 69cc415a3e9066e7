#pragma once

#include <QMainWindow>
#include <memory>
#include <vector>

#include "scan/scan.h"
#include "scan/ui/frozencolumntable.h"
#include "tools/toolset.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTabWidget;
class QTableView;
class QTextBrowser;
class QThreadPool;
class QTimer;

namespace varko {

class ApplicationsFilter;
class ApplicationsModel;
class ByServiceView;
struct ScanFeed;

/// The Applications window: every .app and .pkg under the folders scanned, one row each
/// with the privacy services it may use named in words, or by service the items that may
/// use each; filters by service, signer, verdict and text apply to both, and a pane says
/// how the current item may use each service. The scan runs on the window's own pool and
/// its rows fill in as it answers; closing the window stops it.
class ApplicationsWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationsWindow)
public:
    explicit ApplicationsWindow(host::ToolSet tools, QWidget* parent = nullptr);
    ~ApplicationsWindow() override;

    /// Finds and inspects every item under `folders`, adding a row as each is done.
    void scanFolders(const QStringList& folders);
    [[nodiscard]] bool isScanning() const { return scanning; }

    [[nodiscard]] ApplicationsModel* model() const { return items; }
    [[nodiscard]] ApplicationsFilter* filter() const { return shown; }
    [[nodiscard]] QTableView* table() const { return view; }
    [[nodiscard]] ByServiceView* byService() const { return serviceView; }
    [[nodiscard]] QTabWidget* views() const { return tabs; }
    [[nodiscard]] QTextBrowser* details() const { return detailPane; }
    [[nodiscard]] QLineEdit* searchField() const { return search; }
    [[nodiscard]] QComboBox* serviceChoice() const { return services; }
    [[nodiscard]] QComboBox* signerChoice() const { return signers; }
    [[nodiscard]] QComboBox* verdictChoice() const { return verdicts; }
    [[nodiscard]] QProgressBar* progress() const { return progressBar; }
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

public slots:
    void exportCsv();
    void exportJsonLines();
    /// Copies the selected rows as tab-separated text, with the column titles.
    void copyRows();

signals:
    /// The user asked to open the item at `path` in its inspection window.
    void openItem(const QString& path);
    /// The scan has finished, or stopped.
    void scanFinished();
    /// An export was written (or failed) to `fileName`.
    void exported(const QString& fileName, bool written);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildFilters();
    QWidget* buildViews();
    void buildTable();
    /// The model row of the item current in the view that shows, or -1.
    [[nodiscard]] int currentItem() const;
    void createMenus();
    void fillServiceChoice();
    void openRow(const QModelIndex& index);
    /// Shows model row `row` in the pane; -1 for none.
    void showDetails(int row);
    /// Fills the By-service view if it shows, now or when it comes to show.
    void refillByService();
    void fitNameColumn();
    void takeArrivals();
    /// How many rows there are and show, and how many items could not be read.
    void updateStatus();
    void exportRows(bool csv);
    void setFontSize(double points);

    host::ToolSet tools;
    QThreadPool* pool = nullptr;
    host::CancelFlag cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<ScanFeed> feed;
    QTimer* arrivals = nullptr;
    bool scanning = false;

    ApplicationsModel* items = nullptr;
    ApplicationsFilter* shown = nullptr;
    QTabWidget* tabs = nullptr;
    FrozenColumnTable* view = nullptr;
    ByServiceView* serviceView = nullptr;
    QTextBrowser* detailPane = nullptr;
    QTimer* refill = nullptr;
    bool byServiceStale = true;
    /// The user sized the Name column; it no longer follows the names.
    bool nameSized = false;
    bool fittingName = false;
    QLineEdit* search = nullptr;
    QComboBox* services = nullptr;
    QComboBox* signers = nullptr;
    QComboBox* verdicts = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* status = nullptr;
    int unreadable = 0;
    std::vector<scan::Cut> cuts;  ///< what the walk left out, said in the status line
    QMenu* file = nullptr;
    double defaultFontSize = 0;
};

}  // namespace varko
