#pragma once

#include <QLineEdit>
#include <QProgressBar>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "format/expected.h"
#include "inspection/checks.h"
#include "overview/overview.h"
#include "overview/verdict.h"
#include "report/reporttext.h"
#include "report/signaturechecks.h"
#include "report/ui/notouchbuttoncell.h"
#include "report/ui/reporttextview.h"
#include "tools/threadpools.h"
#include "tools/toolset.h"

class QSplitter;
class QTabWidget;
class QTreeView;
class QTreeWidget;

namespace varko {

class Document;
class FindBar;
class VerdictBar;
class ComponentsView;
class PrivacyView;
class ManifestsView;
class OverviewPage;
class PayloadModel;
class ScriptsView;
struct PayloadTree;
struct PackageApps;

struct PreparedOverview;
struct CheckRun;

/// The inspection window's content: the report of one bundle or package, its
/// result checkboxes, and the signature checks that run on the window's own pool.
class ViewController final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ViewController)
public:
    explicit ViewController(host::ToolSet tools, QWidget* parent = nullptr);
    ~ViewController() override;

    /// The report text built when the view was last shown.
    QString saveString;
    double theFontSize = 12.0;

    QLineEdit* appIDText = nullptr;
    QLineEdit* versionText = nullptr;
    QProgressBar* busySpinner = nullptr;
    ReportTextView* outputTextbox = nullptr;
    /// Between the findings above and the report text below.
    QSplitter* splitter = nullptr;
    FindBar* findBar = nullptr;
    /// The verdict, above the findings; the report, components and privacy services in tabs.
    VerdictBar* verdictBar = nullptr;
    QTabWidget* tabs = nullptr;
    /// The service grid and the SDK row: what an app's Info.plist and entitlements tell. A
    /// package has neither, so they are hidden for one.
    std::vector<QWidget*> appFindings;
    /// The Components and Privacy tabs' views, built when an app's overview arrives or
    /// either tab is first chosen, and null until then: the report comes first.
    ComponentsView* componentsView = nullptr;
    PrivacyView* privacyView = nullptr;
    ManifestsView* manifestsView = nullptr;
    /// Puts the Components and Privacy views in their tabs, once.
    void buildOverviewTabs();
    /// A package's tabs, built when the window first shows a package and null until then:
    /// what it would install, as a tree, and its install scripts.
    QTreeView* payloadView = nullptr;
    PayloadModel* payloadModel = nullptr;
    ScriptsView* scriptsView = nullptr;
    /// The apps a package would install, each inspected from a private copy; activating one
    /// opens that copy in a window of its own. Built with the tabs above.
    QTreeWidget* appsView = nullptr;
    /// Runs the signature tools; at most four at once, with every helper their work starts.
    QThreadPool* processingQueue = nullptr;
    /// What the window's background work may use: the pool's free threads, and the window's
    /// end as its cancel.
    [[nodiscard]] Work work() const { return {host::poolThreads(processingQueue), cancel}; }

    [[nodiscard]] NoTouchButtonCell* checkbox(Check check) const {
        return checkboxes[std::size_t(check)];
    }

    /// Appends text in the report style at the end, without a line break. A large
    /// text reaches the view in pieces between events, and the view shows some
    /// characters in a form of its own (`ReportText`); the report as saved and copied
    /// keeps every character.
    void appendOutput(const QString& text);
    /// Paths under `copyFolder` are reported under `shownFolder` instead: an app read from
    /// the copy written out of a disk image or zip archive is named inside the container,
    /// as varko-report names it, not by a temporary folder that goes with the window.
    void showFolderAs(const QString& copyFolder, const QString& shownFolder);
    /// Everything appended so far, exactly: what Save Report writes.
    [[nodiscard]] const QString& reportText() const { return report.text(); }
    /// Whether appended text is still waiting to reach the view.
    [[nodiscard]] bool isFillingView() const { return !pendingView.isEmpty(); }
    void runSignatureChecks(const QString& path, bool isApp);
    /// The busy state while the window's document is being read.
    void showReading();
    /// The document has been read: show it now if the view is already on screen.
    void documentArrived();
    /// Raised when the view goes away, ending the tools it started.
    [[nodiscard]] const host::CancelFlag& cancelFlag() const { return cancel; }
    /// Gives the whole text the report style at the current size, keeping the first
    /// visible line in view.
    void restyleOutput();
    /// What the whole-app view knows so far: the components as read, and each check that
    /// has answered.
    [[nodiscard]] const overview::Overview& appOverview() const { return theOverview; }
    /// The verdict as the bar shows it now.
    [[nodiscard]] overview::Verdict verdict() const;
    /// The file name the save dialog proposes.
    [[nodiscard]] QString proposedFileName() const;

public slots:
    void saveButton();
    /// File › Export Privacy Profile…: once the app's components are read, makes its profile
    /// for MDM off the GUI thread and offers to save it; says in an alert why when it can't.
    void exportPrivacyProfile();
    void incFontSize();
    void decFontSize();
    /// Back to the size that a window starts with when nothing is stored.
    void resetFontSize();
    /// Selects the next (or previous) match of `text` after the selection, from the
    /// other end when there is none; the find bar says when nothing matches.
    void findText(const QString& text, bool backward = false);

signals:
    void signatureChecksFinished();
    /// The components have been read; their checks follow one by one.
    void overviewRead();
    /// Every component's check has answered.
    void componentsChecked();
    /// Text that reached the view in pieces is now all there.
    void viewFilled();
    /// For tests and automation: the save dialog that `saveButton` or `exportPrivacyProfile`
    /// opened.
    void saveDialogOpened(QWidget* dialog);
    /// A save chosen in that dialog has ended; a failure has been added to the text.
    void reportSaved(const QString& fileName, bool written);
    /// A privacy profile chosen in its save dialog has been written, or failed to be.
    void privacyProfileExported(const QString& fileName, bool written);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void viewDidLoad();
    void viewDidAppear();
    void buildInterface();
    /// Tooltips for the labels that name a macOS mechanism: what was checked in its stead.
    void explainMacMechanisms();
    void showSignatureFindings(const SignatureTexts& texts, bool isApp);
    void startOverview(const QString& path, bool isApp);
    void overviewArrived(PreparedOverview& read);
    /// Shows or hides one of the tabs, so that neither a click nor Ctrl+Tab reaches it hidden.
    void showTab(QWidget* page, bool shown);

    /// Lists what the package at `path` would install, off the GUI thread.
    void startPayload(const QString& path);
    /// Builds the package's tabs, once: most windows show an app and never need them.
    void addPackageTabs();
    void payloadArrived(const std::shared_ptr<PayloadTree>& tree,
                        const std::optional<Error>& problem);
    /// Writes the package's apps into a private folder, kept while the window lives, and
    /// inspects each one there, off the GUI thread.
    void startPackageApps(const QString& path);
    void packageAppsArrived(const PackageApps& apps);
    void startChecks();
    /// Starts the signature checks and the whole-app reading of `path` once the report has
    /// been painted, or after a short wait when no paint comes (an obscured window).
    void startAfterFirstPaint(const QString& path, bool isApp);
    void startWaitingWork();
    /// Takes in the answers that have arrived, all at once: thousands of components answer
    /// within seconds, and each answer alone would redraw the list and judge the verdict.
    void applyChecks();
    void showVerdict();
    [[nodiscard]] Document* document() const;
    [[nodiscard]] QTextCharFormat reportStyle() const;
    void storeFontSize();

    void showInView(const QString& text);
    void feedView();
    void keepTopInView();
    void reportWritten(const QString& fileName, const Expected<void>& written);
    void offerPrivacyProfile(const std::string& xml, const std::vector<std::string>& warnings);
    void alert(const QString& text, const QString& detail, bool warning);

    host::ToolSet tools;
    ReportText report;
    std::optional<std::pair<QString, QString>> folderShownAs;
    QString pendingView;
    /// The first visible line to bring back once the view holds it again; -1 for none.
    qsizetype restoreTop = -1;
    QTimer* viewFeeder = nullptr;
    host::CancelFlag cancel = std::make_shared<std::atomic<bool>>(false);
    std::array<NoTouchButtonCell*, checkCount> checkboxes{};
    std::filesystem::path itemPath;
    overview::Overview theOverview;
    bool overviewReady = false;
    bool showsApp = false;
    std::optional<overview::GatekeeperAnswer> gatekeeper;
    std::optional<Error> notAPackage;
    std::size_t checksPending = 0;
    /// The components' checks under way, and what they have answered so far.
    std::shared_ptr<CheckRun> checkRun;
    QTimer* checkApplier = nullptr;
    OverviewPage* componentsPage = nullptr;
    OverviewPage* privacyPage = nullptr;
    /// What the Components and Privacy tabs hold: an empty page until they are built.
    QWidget* componentsTab = nullptr;
    QWidget* privacyTab = nullptr;
    bool appeared = false;
    bool waitingForDocument = false;
    /// The item whose checks wait for the report's first paint.
    std::optional<std::pair<QString, bool>> waitingWork;
    bool reportPainted = false;
    /// Where the package's apps were written out; removed with the window.
    std::shared_ptr<const void> packageCopy;
    QString packagePath;
};

}  // namespace varko
