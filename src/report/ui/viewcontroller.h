#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <array>

#include "report/checks.h"
#include "report/signaturechecks.h"
#include "report/ui/notouchbuttoncell.h"
#include "tools/toolset.h"

namespace varko {

class Document;

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
    QPlainTextEdit* outputTextbox = nullptr;
    /// Runs the signature tools; at most four at once.
    QThreadPool* processingQueue = nullptr;

    [[nodiscard]] NoTouchButtonCell* checkbox(Check check) const {
        return checkboxes[std::size_t(check)];
    }

    /// Appends text in the report style at the end, without a line break. A large
    /// text reaches the view in pieces between events, and very long lines are
    /// shown cut (`shownForm`); the report as saved keeps every character.
    void appendOutput(const QString& text);
    /// Everything appended so far: what Save Report writes.
    [[nodiscard]] const QString& reportText() const { return fullText; }
    /// Whether appended text is still waiting to reach the view.
    [[nodiscard]] bool isFillingView() const { return !pendingView.isEmpty(); }
    void runSignatureChecks(const QString& path, bool isApp);
    /// The busy state while the window's document is being read.
    void showReading();
    /// The document has been read: show it now if the view is already on screen.
    void documentArrived();
    /// Raised when the view goes away, ending the tools it started.
    [[nodiscard]] const host::CancelFlag& cancelFlag() const { return cancel; }
    /// Gives the whole text the report style at the current size.
    void restyleOutput();
    /// Writes `text` to `fileName` so that a failure leaves an existing file as it was;
    /// a failure is appended to the text view.
    void writeReport(const QString& fileName, const QString& text);
    /// The file name the save dialog proposes.
    [[nodiscard]] QString proposedFileName() const;

public slots:
    void saveButton();
    void incFontSize();
    void decFontSize();

signals:
    void signatureChecksFinished();
    /// Text that reached the view in pieces is now all there.
    void viewFilled();
    /// For tests and automation: the save dialog that `saveButton` opened.
    void saveDialogOpened(QWidget* dialog);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void viewDidLoad();
    void viewDidAppear();
    void buildInterface();
    void showSignatureFindings(const SignatureTexts& texts, bool isApp);
    [[nodiscard]] Document* document() const;
    [[nodiscard]] QTextCharFormat reportStyle() const;
    void storeFontSize();

    void showInView(const QString& text);
    void feedView();

    host::ToolSet tools;
    QString fullText;
    QString pendingView;
    QTimer* viewFeeder = nullptr;
    host::CancelFlag cancel = std::make_shared<std::atomic<bool>>(false);
    std::array<NoTouchButtonCell*, checkCount> checkboxes{};
    bool appeared = false;
    bool waitingForDocument = false;
};

}  // namespace varko
