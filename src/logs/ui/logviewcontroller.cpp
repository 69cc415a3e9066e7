#include "logs/ui/logviewcontroller.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <algorithm>

#include "logs/logrtf.h"
#include "tools/threadpools.h"
#include "ui/preferences.h"
#include "ui/savedialog.h"

namespace varko {

namespace {

constexpr auto fontSizeKey = "fontSizeLog";
constexpr double minFontSize = 4.0;
constexpr double maxFontSize = 24.0;
constexpr double defaultFontSize = 12.0;

#ifndef Q_OS_MACOS
// The name Save Log offers: the time range, as far as the boxes hold one.
QString proposedLogName(const QString& startDate, const QString& startTime, const QString& endDate,
                        const QString& endTime) {
    QString name = QStringLiteral("Varko Log");
    const QString start = QStringList{startDate, startTime}.join(u' ').trimmed();
    const QString end =
        (endDate == startDate ? endTime : QStringList{endDate, endTime}.join(u' ')).trimmed();
    if (!start.isEmpty()) name += u' ' + start;
    if (!end.isEmpty()) name += QStringLiteral(" to ") + end;
    return fileNameSafe(name) + QStringLiteral(".rtf");
}
#endif

}  // namespace

LogViewController::LogViewController(host::ToolSet toolSet, QWidget* parent)
    : QWidget(parent),
      theBaseCmdStr(unifiedlog::baseCommand()),
      processingQueue(new QThreadPool),
      tools(std::move(toolSet)) {
    processingQueue->setMaxThreadCount(4);
    buildInterface();
    viewDidLoad();
}

LogViewController::~LogViewController() {
    cancel->store(true);
    host::retirePool(processingQueue);
}

void LogViewController::buildInterface() {
    const auto box = [this](const QString& placeholder, int chars) {
        auto* edit = new QLineEdit(this);
        edit->setPlaceholderText(placeholder);
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(chars, u'0')) + 16);
        // A file dropped here is for the window to open, not text for a date.
        edit->setAcceptDrops(false);
        return edit;
    };
    startDateTextbox = box(tr("yyyy-mm-dd"), 10);
    startTimeTextbox = box(tr("hh:mm:ss"), 8);
    endDateTextbox = box(tr("yyyy-mm-dd"), 10);
    endTimeTextbox = box(tr("hh:mm:ss"), 8);
    startDateTextbox->setAccessibleName(tr("Start date"));
    startTimeTextbox->setAccessibleName(tr("Start time"));
    endDateTextbox->setAccessibleName(tr("End date"));
    endTimeTextbox->setAccessibleName(tr("End time"));

    getLogButton = new QPushButton(tr("&Get Log"), this);
    getLogButton->setDefault(true);
    getLogButton->setToolTip(tr("Fetch the privacy-related log entries of this time range"));
    connect(getLogButton, &QPushButton::clicked, this, &LogViewController::getlogButtonAction);
    // Return in any of the four boxes fetches, as the default button would in a dialog.
    for (QLineEdit* edit : {startDateTextbox, startTimeTextbox, endDateTextbox, endTimeTextbox}) {
        connect(edit, &QLineEdit::returnPressed, this, &LogViewController::getlogButtonAction);
        connect(edit, &QLineEdit::textEdited, this, [this] { showRangeProblem(nullptr); });
    }
    rangeProblemLabel = new QLabel(this);
    rangeProblemLabel->setWordWrap(true);
    rangeProblemLabel->setAccessibleName(tr("Time range"));
    rangeProblemLabel->setStyleSheet(QStringLiteral("color: #c4001a;"));
    rangeProblemLabel->hide();

    saveLogButton = new QPushButton(tr("Save Log…"), this);
    connect(saveLogButton, &QPushButton::clicked, this, &LogViewController::savelogButtonAction);

    progressSpinner = new QProgressBar(this);
    progressSpinner->setRange(0, 0);  // indeterminate: it moves as long as it is shown
    progressSpinner->setTextVisible(false);
    progressSpinner->setMaximumWidth(120);
    progressSpinner->setAccessibleName(tr("Fetching the log"));

    const auto category = [this](const QString& title, const QString& tip) {
        auto* check = new QCheckBox(title, this);
        check->setToolTip(tip);
        connect(check, &QCheckBox::clicked, this, &LogViewController::showLogs);
        return check;
    };
    cloudDocsCheckbox =
        category(tr("TCC"), tr("Privacy decisions (com.apple.TCC), in the text colour"));
    cloudKitCheckbox = category(tr("Launch Services"), tr("com.apple.launchservices, in red"));
    mmcsCheckbox = category(tr("securityd"), tr("com.apple.securityd, in green"));
    otherCheckbox = category(tr("Other"), tr("tccd, sandbox, kernel and the rest, in blue"));

    outputLines = new unifiedlog::LogLineModel(this);
    outputTextbox = new LogOutputView(this);
    outputTextbox->setModel(outputLines);
    outputTextbox->setAccessibleName(tr("Log entries"));
    statusLabel = new QLabel(this);
    statusLabel->setWordWrap(true);
    statusLabel->setAccessibleName(tr("Reading of the log"));
    statusLabel->hide();
    countLabel = new QLabel(this);
    countLabel->setAccessibleName(tr("Entries shown"));

    auto* range = new QHBoxLayout;
    range->addWidget(new QLabel(tr("From:"), this));
    range->addWidget(startDateTextbox);
    range->addWidget(startTimeTextbox);
    range->addSpacing(12);
    range->addWidget(new QLabel(tr("To:"), this));
    range->addWidget(endDateTextbox);
    range->addWidget(endTimeTextbox);
    range->addSpacing(12);
    range->addWidget(getLogButton);
    range->addWidget(progressSpinner);
    range->addStretch();

    auto* categories = new QHBoxLayout;
    categories->addWidget(new QLabel(tr("Show:"), this));
    for (QCheckBox* check : {cloudDocsCheckbox, cloudKitCheckbox, mmcsCheckbox, otherCheckbox})
        categories->addWidget(check);
    categories->addStretch();
    categories->addWidget(countLabel);
    categories->addSpacing(12);
    categories->addWidget(saveLogButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(rangeProblemLabel);
    layout->addLayout(categories);
    layout->addWidget(outputTextbox, 1);
    layout->addWidget(statusLabel);
    findBar = new FindBar(this);
    connect(findBar, &FindBar::findNext, this, &LogViewController::findNext);
    connect(findBar, &FindBar::findPrevious, this, &LogViewController::findPrevious);
    connect(this, &LogViewController::findFinished, findBar, &FindBar::setResult);
    connect(findBar, &FindBar::dismissed, outputTextbox, [this] { outputTextbox->setFocus(); });
    layout->addWidget(findBar);
    setTabOrder(startDateTextbox, startTimeTextbox);
    setTabOrder(startTimeTextbox, endDateTextbox);
    setTabOrder(endDateTextbox, endTimeTextbox);
    setTabOrder(endTimeTextbox, getLogButton);
    resize(980, 620);
}

void LogViewController::viewDidLoad() {
    const double stored = preferences::value(fontSizeKey, 0.0).toDouble();
    theFontSize = stored < minFontSize ? defaultFontSize : stored;
    setDefaultRange();
    for (QCheckBox* check : {cloudDocsCheckbox, cloudKitCheckbox, mmcsCheckbox, otherCheckbox})
        check->setChecked(true);
}

void LogViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) viewDidAppear();
}

void LogViewController::viewDidAppear() {
    window()->setWindowTitle(title());
    progressSpinner->hide();
}

void LogViewController::setDefaultRange() {
    const unifiedlog::TimeRange range = unifiedlog::defaultRange(unifiedlog::now());
    if (!range.startDate.isEmpty()) {
        startDateTextbox->setText(range.startDate);
        startTimeTextbox->setText(range.startTime);
    }
    if (!range.endDate.isEmpty()) {
        endDateTextbox->setText(range.endDate);
        endTimeTextbox->setText(range.endTime);
    }
}

void LogViewController::showRangeProblem(const Error* problem) {
    QLineEdit* const boxes[] = {startDateTextbox, startTimeTextbox, endDateTextbox, endTimeTextbox};
    for (QLineEdit* box : boxes) {
        const bool marked = problem && box == boxes[std::min<std::uint64_t>(problem->offset, 3)];
        if (box->property("invalid").toBool() == marked) continue;
        box->setProperty("invalid", marked);
        box->setStyleSheet(marked ? QStringLiteral("QLineEdit { border: 2px solid #c4001a; }")
                                  : QString());
        box->setAccessibleDescription(marked ? QString::fromStdString(problem->message)
                                             : QString());
    }
    rangeProblemLabel->setText(problem ? QString::fromStdString(problem->message) : QString());
    rangeProblemLabel->setVisible(problem != nullptr);
}

void LogViewController::getlogButtonAction() {
    const unifiedlog::TimeRange range{startDateTextbox->text(), startTimeTextbox->text(),
                                      endDateTextbox->text(), endTimeTextbox->text()};
    // The tool would refuse it with its usage, in place of the entries shown: say so here
    // and keep them.
    if (const Expected<void> sendable = unifiedlog::checkRange(range); !sendable) {
        showRangeProblem(&sendable.error());
        QLineEdit* const boxes[] = {startDateTextbox, startTimeTextbox, endDateTextbox,
                                    endTimeTextbox};
        QLineEdit* wrong = boxes[std::min<std::uint64_t>(sendable.error().offset, 3)];
        wrong->setFocus();
        wrong->selectAll();
        return;
    }
    showRangeProblem(nullptr);
    progressSpinner->show();
    const QStringList arguments = unifiedlog::queryArguments(theBaseCmdStr, range);
    // The tool's run and the parse of its output both stay off the GUI thread.
    host::whenFinished(this,
                       QtConcurrent::run(processingQueue,
                                         [tools = tools, arguments, work = work()] {
                                             const Work::Scope scope(work);
                                             return unifiedlog::runLogQuery(tools, arguments);
                                         }),
                       [this, range](const Expected<unifiedlog::LogQueryResult>& result) {
                           // The title names the range of the entries shown, so only a result
                           // changes it.
                           if (result) shownRange = unifiedlog::rangeText(range);
                           window()->setWindowTitle(title());
                           finishLogQuery(result);
                       });
}

void LogViewController::finishLogQuery(const Expected<unifiedlog::LogQueryResult>& result) {
    if (result) {
        // Output cut at its bound still shows the entries before the cut.
        logs.clear();
        logs.push_back(result->list);
        logsCut = result->truncated;
        showLogs();
    } else {
        setOutputText(QString::fromStdString(result.error().message));
    }
    // The first query to finish stops the spinner, even while others still run.
    progressSpinner->hide();
    emit logQueryFinished();
}

unifiedlog::CategoryFilter LogViewController::filter() const {
    return {cloudDocsCheckbox->checkState() == Qt::Checked,
            cloudKitCheckbox->checkState() == Qt::Checked,
            mmcsCheckbox->checkState() == Qt::Checked, otherCheckbox->checkState() == Qt::Checked};
}

void LogViewController::showLogs() {
    if (logs.empty()) return;
    // Showing the same entries again, filtered or sized anew, keeps the reader's
    // place: the first entry in view stays first, or the nearest one still shown.
    using Place = unifiedlog::LogDisplay::Place;
    const unifiedlog::LogDisplay& shown = outputLines->display();
    const bool same = shown.list() == logs.front().get();
    std::optional<Place> top, anchor, current;
    if (same) {
        top = shown.placeOf(outputTextbox->topLine());
        anchor = shown.placeOf(outputTextbox->anchorLine());
        current = shown.placeOf(outputTextbox->currentLine());
    }
    const int left = outputTextbox->horizontalScrollBar()->value();
    outputLines->showEntries(logs.front(), filter(), theFontSize);
    if (same) {
        if (top) outputTextbox->scrollLineToTop(shown.lineOf(*top, true));
        if (anchor && current)
            outputTextbox->setSelection(shown.lineOf(*anchor, false),
                                        shown.lineOf(*current, false));
        outputTextbox->horizontalScrollBar()->setValue(left);
    }
    outputTextbox->setPlaceholderText(emptyText());
    countLabel->setText(countText());
    setStatusText(readingNote());
}

QString LogViewController::countText() const {
    const unifiedlog::LogDisplay& shown = outputLines->display();
    if (logs.empty() || shown.list() != logs.front().get()) return {};
    const QLocale locale;
    const std::size_t fetched = logs.front()->children.size();
    return (fetched == 1 ? tr("1 entry fetched")
                         : tr("%1 entries fetched").arg(locale.toString(qulonglong(fetched)))) +
           tr(", %1 shown").arg(locale.toString(qulonglong(shown.shownEntries().size())));
}

QString LogViewController::emptyText() const {
    const unifiedlog::LogDisplay& shown = outputLines->display();
    if (logs.empty() || shown.list() != logs.front().get() || !shown.shownEntries().empty())
        return {};
    const unifiedlog::LogList& list = *logs.front();
    if (!list.children.empty()) return tr("No entries of the chosen categories.");
    const unifiedlog::LogWalkSummary& s = list.summary;
    // The note under the view says what went wrong.
    if (!s.array || s.skipped > 0 || s.truncated || logsCut)
        return tr("No log entries could be read.");
    return tr("No log entries in this time range.");
}

QString LogViewController::title() const {
    const QString plain = QString::fromLatin1(windowTitle);
    return shownRange.isEmpty() ? plain : plain + QStringLiteral(" \u2014 ") + shownRange;
}

bool LogViewController::findNext(const QString& text) {
    return find(text, true);
}

bool LogViewController::findPrevious(const QString& text) {
    return find(text, false);
}

bool LogViewController::find(const QString& text, bool forward) {
    // From the selected line on; without one, from the first line in view.
    qsizetype from = outputTextbox->currentLine();
    if (from >= 0)
        from += forward ? 1 : -1;
    else
        from = outputTextbox->topLine() - (forward ? 0 : 1);
    const qsizetype line = outputLines->display().find(text, from, forward);
    outputTextbox->selectLine(line);
    if (line >= 0) {
        const QString shown = outputLines->index(int(line)).data().toString();
        outputTextbox->revealText(line, shown.indexOf(text, 0, Qt::CaseInsensitive), text.size());
    }
    emit findFinished(line >= 0);
    return line >= 0;
}

QString LogViewController::readingNote() const {
    if (logs.empty()) return {};
    const unifiedlog::LogWalkSummary& s = logs.front()->summary;
    QStringList notes;
    if (!s.array) notes << tr("The log tool's output is not a list of log entries.");
    if (s.skipped == 1)
        notes << tr("1 entry could not be read and was skipped.");
    else if (s.skipped > 1)
        notes << tr("%1 entries could not be read and were skipped.").arg(s.skipped);
    if (logsCut)
        notes << tr("The log tool wrote more than %1 GiB; the entries before the cut are shown. "
                    "Choose a "
                    "shorter time range to see the rest.")
                     .arg(unifiedlog::maxLogOutputBytes >> 30);
    else if (s.truncated)
        notes << tr("The log tool's output ended early; the entries before the cut are shown.");
    if (s.limited)
        notes << tr("Only the first %1 entries are shown; choose a shorter time range to see the "
                    "rest.")
                     .arg(unifiedlog::maxLogEntries);
    if (s.trailingText) notes << tr("Text after the end of the log tool's output was ignored.");
    return notes.join(u' ');
}

void LogViewController::setStatusText(const QString& text) {
    statusLabel->setText(text);
    statusLabel->setVisible(!text.isEmpty());
}

void LogViewController::releaseLogs() {
    logs.clear();
    shownRange.clear();
    outputLines->clear();
    outputTextbox->setPlaceholderText({});
    countLabel->clear();
    setStatusText({});
}

void LogViewController::setOutputText(const QString& text) {
    outputLines->setMessage(text, theFontSize);
    // The note and the counts were about entries that are no longer shown.
    outputTextbox->setPlaceholderText({});
    countLabel->clear();
    setStatusText({});
}

void LogViewController::appendOutputText(const QString& text) {
    outputLines->appendMessage(text, theFontSize);
}

void LogViewController::savelogButtonAction() {
    // What is saved is what is shown now. The conversion of a large log runs
    // meanwhile, and like the write it belongs to the save, not to this window.
    QFuture<std::string> rtf = QtConcurrent::run(
        savingPool(), [snapshot = outputLines->display()] { return unifiedlog::logRtf(snapshot); });
#ifdef Q_OS_MACOS
    const QString proposed;  // the platform's panel proposes its own
#else
    const QString proposed =
        QDir(documentsFolder())
            .filePath(proposedLogName(startDateTextbox->text(), startTimeTextbox->text(),
                                      endDateTextbox->text(), endTimeTextbox->text()));
#endif
    const SaveDialogSetup setup{
        tr("Save Log"),        proposed, tr("Rich Text (*.rtf)"),
        QStringLiteral("rtf"), true,     tr("The log could not be saved to %1: %2.")};
    QFileDialog* dialog = openSaveDialog(
        this, setup, std::move(rtf),
        [this](const QString&, const Expected<void>& written) { logWritten(written); });
    emit saveDialogOpened(dialog);
}

void LogViewController::logWritten(const Expected<void>& written) {
    if (!written) appendOutputText(QString::fromStdString(written.error().message));
    emit logSaved();
}

void LogViewController::storeFontSize() {
    preferences::setValue(fontSizeKey, theFontSize);
    showLogs();
}

void LogViewController::incFontSize() {
    theFontSize = std::min(theFontSize + 1.0, maxFontSize);
    storeFontSize();
}

void LogViewController::decFontSize() {
    theFontSize = std::max(theFontSize - 1.0, minFontSize);
    storeFontSize();
}

void LogViewController::resetFontSize() {
    theFontSize = defaultFontSize;
    storeFontSize();
}

}  // namespace varko
