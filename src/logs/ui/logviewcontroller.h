#pragma once

#include <QCheckBox>
#include <QFuture>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QThreadPool>
#include <QWidget>
#include <memory>
#include <vector>

#include "format/expected.h"
#include "logs/loglinemodel.h"
#include "logs/loglist.h"
#include "logs/logquery.h"
#include "logs/ui/logoutputview.h"
#include "tools/threadpools.h"
#include "tools/toolset.h"
#include "ui/findbar.h"

namespace varko {

/// The log browser: fetches the privacy-related log entries of a time range on
/// the window's own pool, shows them as coloured lines filtered by category, and
/// saves what it shows as RTF.
class LogViewController final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogViewController)
public:
    explicit LogViewController(host::ToolSet tools, QWidget* parent = nullptr);
    ~LogViewController() override;

    static constexpr auto windowTitle = "Log Window";

    QStringList theBaseCmdStr;
    /// The result of the last successful query: empty at first, then one list.
    std::vector<std::shared_ptr<const unifiedlog::LogList>> logs;
    double theFontSize = 12.0;

    QLineEdit* startDateTextbox = nullptr;
    QLineEdit* startTimeTextbox = nullptr;
    QLineEdit* endDateTextbox = nullptr;
    QLineEdit* endTimeTextbox = nullptr;
    QCheckBox* cloudDocsCheckbox = nullptr;  ///< TCC
    QCheckBox* cloudKitCheckbox = nullptr;   ///< launch services
    QCheckBox* mmcsCheckbox = nullptr;       ///< securityd
    QCheckBox* otherCheckbox = nullptr;
    /// What the output view shows: the filtered entries' lines, or a message.
    unifiedlog::LogLineModel* outputLines = nullptr;
    LogOutputView* outputTextbox = nullptr;
    /// Under the entries: what the parse of the shown output could not read, if anything.
    QLabel* statusLabel = nullptr;
    /// Under the range: why the range typed can't be asked for, while it can't.
    QLabel* rangeProblemLabel = nullptr;
    /// Finds text in the entries shown.
    FindBar* findBar = nullptr;
    /// How many entries the last query brought and how many the checkboxes let through.
    QLabel* countLabel = nullptr;
    QProgressBar* progressSpinner = nullptr;
    QPushButton* getLogButton = nullptr;
    QPushButton* saveLogButton = nullptr;
    /// Runs the log tool and parses its output; at most four at once, with every helper their work
    /// starts.
    QThreadPool* processingQueue = nullptr;
    /// What the window's background work may use: the pool's free threads, and the window's
    /// end as its cancel.
    [[nodiscard]] Work work() const { return {host::poolThreads(processingQueue), cancel}; }

    void showLogs();
    void setOutputText(const QString& text);
    void appendOutputText(const QString& text);
    void setDefaultRange();
    /// Lets go of the entries and the output, as when the window has been closed.
    void releaseLogs();
    /// Applies a finished query: entries on success, its error's message otherwise.
    void finishLogQuery(const Expected<unifiedlog::LogQueryResult>& result);

public slots:
    void getlogButtonAction();
    void savelogButtonAction();
    void incFontSize();
    void decFontSize();
    /// Selects the next line, after the selected one or from the top of the view,
    /// that holds `text` ignoring case, going round past the end, and scrolls to it.
    bool findNext(const QString& text);
    /// Likewise backwards.
    bool findPrevious(const QString& text);
    /// Back to the size that a window starts with when nothing is stored.
    void resetFontSize();

signals:
    void logQueryFinished();
    /// After each find: whether a line holds the text.
    void findFinished(bool found);
    /// For tests and automation: the save dialog that Save Log… opened.
    void saveDialogOpened(QWidget* dialog);
    void logSaved();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildInterface();
    void viewDidLoad();
    void viewDidAppear();
    void storeFontSize();
    /// Marks the box an error names and says why under the range; none clears the mark.
    void showRangeProblem(const Error* problem);
    void logWritten(const Expected<void>& written);
    [[nodiscard]] unifiedlog::CategoryFilter filter() const;
    bool find(const QString& text, bool forward);
    /// The counts line, or empty while no entries are shown.
    [[nodiscard]] QString countText() const;
    /// What the view says when the shown list leaves it without a line.
    [[nodiscard]] QString emptyText() const;
    [[nodiscard]] QString title() const;
    /// One short line about the entries shown: what was skipped or cut off.
    [[nodiscard]] QString readingNote() const;
    void setStatusText(const QString& text);

    host::ToolSet tools;
    host::CancelFlag cancel = std::make_shared<std::atomic<bool>>(false);
    /// The shown list's output passed the bound on its size and was cut there.
    bool logsCut = false;
    /// The time range of the shown list in words; empty before the first query.
    QString shownRange;
};

}  // namespace varko
