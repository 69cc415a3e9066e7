#include "report/ui/viewcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QShowEvent>
#include <QTextCursor>
#include <QTimer>
#include <QtConcurrent>

#include "inspection/document.h"
#include "report/inspectionreport.h"
#include "report/ui/documentwindowcontroller.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/findbar.h"
#include "ui/preferences.h"
#include "ui/savedialog.h"

namespace varko {

namespace {

constexpr double minFontSize = 4.0;
constexpr double maxFontSize = 24.0;
constexpr double defaultFontSize = 12.0;
constexpr auto fontSizeKey = "fontSize";
// Text inserted per turn of the event loop: a few milliseconds of layout.
constexpr qsizetype viewChunk = 64 * 1024;
// How long the checks wait for the report's first paint before they start without it.
constexpr int firstPaintWait = 150;

}  // namespace

ViewController::ViewController(host::ToolSet toolSet, QWidget* parent)
    : QWidget(parent),
      processingQueue(new QThreadPool),
      tools(std::move(toolSet)),
      viewFeeder(new QTimer(this)) {
    processingQueue->setMaxThreadCount(4);
    viewFeeder->setInterval(0);
    connect(viewFeeder, &QTimer::timeout, this, &ViewController::feedView);
    buildInterface();
    viewDidLoad();
}

ViewController::~ViewController() {
    cancel->store(true);
    host::retirePool(processingQueue);
}

void ViewController::viewDidLoad() {
    const double stored = preferences::value(fontSizeKey, 0.0).toDouble();
    theFontSize = stored < minFontSize ? defaultFontSize : stored;
    busySpinner->hide();
}

void ViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window restored from the Dock or a minimised state is no new showing.
    if (event->spontaneous()) return;
    appeared = true;
    if (!waitingForDocument) viewDidAppear();
}

void ViewController::showReading() {
    waitingForDocument = true;
    outputTextbox->setPlaceholderText(tr("Reading the item…"));
    busySpinner->show();
}

void ViewController::documentArrived() {
    if (!waitingForDocument) return;
    waitingForDocument = false;
    outputTextbox->setPlaceholderText({});
    busySpinner->hide();
    if (appeared && isVisible()) viewDidAppear();
}

Document* ViewController::document() const {
    const auto* controller = qobject_cast<const DocumentWindowController*>(window());
    return controller ? controller->document() : nullptr;
}

void ViewController::viewDidAppear() {
    saveString.clear();
    const Document* doc = document();
    const InspectionReport report =
        buildReport(doc ? doc->theInfo.get() : nullptr, doc && doc->isApp);
    for (QWidget* box : appFindings) box->setVisible(!doc || doc->isApp);
    if (report.startsSignatureChecks) {
        saveString = report.saveString;
        if (report.appIDText) appIDText->setText(*report.appIDText);
        if (report.versionText) versionText->setText(*report.versionText);
        for (int i = 0; i < checkCount; ++i)
            if (const std::optional<bool> on = report.checks.get(Check(i)))
                checkboxes[std::size_t(i)]->setFinding(*on);
        startAfterFirstPaint(report.path, doc->isApp);
    }
    appendOutput(saveString);
}

void ViewController::startAfterFirstPaint(const QString& path, bool isApp) {
    waitingWork = {path, isApp};
    busySpinner->show();  // they are under way for the user, if not yet for the cores
    if (reportPainted) return startWaitingWork();
    // The tools' processes and readers would take the cores that the first paint needs: on
    // two cores the window came up twice as late. The wait is bounded all the same.
    outputTextbox->viewport()->installEventFilter(this);
    QTimer::singleShot(firstPaintWait, this, &ViewController::startWaitingWork);
}

void ViewController::startWaitingWork() {
    if (!waitingWork) return;
    const auto [path, isApp] = *std::exchange(waitingWork, std::nullopt);
    runSignatureChecks(path, isApp);
    startOverview(path, isApp);
}

bool ViewController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched == outputTextbox->viewport() && !reportPainted) {
        reportPainted = true;
        watched->removeEventFilter(this);
        // After this paint has reached the screen.
        QTimer::singleShot(0, this, &ViewController::startWaitingWork);
    }
    return QWidget::eventFilter(watched, event);
}

QTextCharFormat ViewController::reportStyle() const {
    QFont font = QApplication::font();
    font.setPointSizeF(theFontSize);
    QTextCharFormat format;
    format.setFont(font);
    format.setForeground(palette().color(QPalette::Text));
    return format;
}

void ViewController::appendOutput(const QString& text) {
    if (!folderShownAs) return showInView(report.append(text));
    QString named = text;
    named.replace(folderShownAs->first, folderShownAs->second);
    showInView(report.append(named));
}

void ViewController::showFolderAs(const QString& copyFolder, const QString& shownFolder) {
    folderShownAs.emplace(copyFolder, shownFolder);
}

void ViewController::showInView(const QString& text) {
    if (pendingView.isEmpty() && text.size() <= viewChunk) {
        QTextCursor cursor(outputTextbox->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text, reportStyle());
        return;
    }
    pendingView += text;
    viewFeeder->start();
}

void ViewController::feedView() {
    // Whole lines where possible, so a piece never ends inside a character pair.
    qsizetype take = std::min(pendingView.size(), viewChunk);
    if (take < pendingView.size()) {
        const qsizetype lineEnd = pendingView.lastIndexOf('\n', take - 1);
        if (lineEnd > 0)
            take = lineEnd + 1;
        else if (pendingView[take - 1].isHighSurrogate())
            --take;
    }
    QTextCursor cursor(outputTextbox->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pendingView.left(take), reportStyle());
    pendingView.remove(0, take);
    keepTopInView();
    if (pendingView.isEmpty()) {
        viewFeeder->stop();
        emit viewFilled();
    }
}

void ViewController::restyleOutput() {
    if (restoreTop < 0) restoreTop = outputTextbox->topPosition();
    outputTextbox->clear();
    pendingView.clear();
    viewFeeder->stop();
    showInView(report.shown());
    keepTopInView();
}

void ViewController::keepTopInView() {
    // A large text comes back in pieces; the line is brought back once it is there.
    if (restoreTop < 0 ||
        (restoreTop >= outputTextbox->document()->characterCount() - 1 && !pendingView.isEmpty()))
        return;
    outputTextbox->scrollToTop(restoreTop);
    restoreTop = -1;
}

void ViewController::runSignatureChecks(const QString& path, bool isApp) {
    busySpinner->show();
    host::whenFinished(
        this,
        QtConcurrent::run(processingQueue,
                          [tools = tools, isApp, path, cancel = cancel] {
                              return runSignatureTools(tools, isApp, path, cancel);
                          }),
        [this, isApp](const SignatureTexts& texts) { showSignatureFindings(texts, isApp); });
}

void ViewController::showSignatureFindings(const SignatureTexts& texts, bool isApp) {
    gatekeeper = texts.gatekeeper;
    notAPackage = texts.notAPackage;
    showVerdict();
    const CheckStates& findings = texts.findings;
    for (Check c : {Check::isNotarizedCheck, Check::isAppleCheck, Check::isAppStoreCheck,
                    Check::isDevIDCheck, Check::isHardenedCheck})
        checkbox(c)->setFinding(findings.isOn(c));
    const SignatureSections sections = signatureSections(isApp, texts);
    appendOutput(sections.assessment);
    appendOutput(sections.signature);
    busySpinner->hide();
    emit signatureChecksFinished();
}

QString ViewController::proposedFileName() const {
    // The item's own name, also when the window's title adds its folder.
    const auto* controller = qobject_cast<const DocumentWindowController*>(window());
    const QString title = controller ? controller->documentTitle() : window()->windowTitle();
    return (title.isEmpty() ? QStringLiteral("Untitled") : title) + "-Varko.text";
}

void ViewController::saveButton() {
    // What is written is the text as it stands now, whatever arrives later.
    const SaveDialogSetup setup{tr("Save Report"),
                                QDir::home().filePath(proposedFileName()),
                                tr("Text files (*.text *.txt)"),
                                QStringLiteral("text"),
                                false,
                                tr("The report could not be saved to %1: %2.")};
    QFuture<std::string> content =
        QtConcurrent::run(savingPool(), [text = report.text()] { return text.toStdString(); });
    QFileDialog* dialog =
        openSaveDialog(this, setup, std::move(content),
                       [this](const QString& fileName, const Expected<void>& written) {
                           reportWritten(fileName, written);
                       });
    emit saveDialogOpened(dialog);
}

void ViewController::reportWritten(const QString& fileName, const Expected<void>& written) {
    // On a line of its own and naming the file, so it reads as what happened and
    // not as part of the report.
    if (!written)
        appendOutput(QStringLiteral("\n⛔️ The report could not be saved to %1: %2.\n")
                         .arg(host::visibleControls(fileName),
                              QString::fromStdString(written.error().message)));
    emit reportSaved(fileName, bool(written));
}

void ViewController::findText(const QString& text, bool backward) {
    if (text.isEmpty()) return;
    tabs->setCurrentWidget(outputTextbox);
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    bool found = outputTextbox->find(text, flags);
    if (!found) {
        // Round again from the other end, leaving the selection alone when that fails too.
        const QTextCursor before = outputTextbox->textCursor();
        QTextCursor from(outputTextbox->document());
        from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        outputTextbox->setTextCursor(from);
        found = outputTextbox->find(text, flags);
        if (!found) outputTextbox->setTextCursor(before);
    }
    findBar->setResult(found);
}

void ViewController::storeFontSize() {
    preferences::setValue(fontSizeKey, theFontSize);
    restyleOutput();
}

void ViewController::incFontSize() {
    theFontSize = std::min(theFontSize + 1.0, maxFontSize);
    storeFontSize();
}

void ViewController::decFontSize() {
    theFontSize = std::max(theFontSize - 1.0, minFontSize);
    storeFontSize();
}

void ViewController::resetFontSize() {
    theFontSize = defaultFontSize;
    storeFontSize();
}

}  // namespace varko
