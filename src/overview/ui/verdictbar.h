#pragma once

#include <QFrame>
#include <QHash>
#include <vector>

#include "overview/verdict.h"

class QGridLayout;
class QLabel;
class QProgressBar;

namespace varko {

/// The bar above the findings, read before anything else: the overall state as a headline,
/// then one row per line of the verdict, each with its state's icon and colour and the
/// state in words for assistive technology. Texts are plain, never markup, since names come
/// from the bundle; they wrap, and can be selected with the mouse or the keyboard and copied.
/// Lines are updated in place as checks answer, so a selection in a row that didn't change
/// stays.
class VerdictBar final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VerdictBar)
public:
    explicit VerdictBar(QWidget* parent = nullptr);

    /// Shows these lines under the overall state; while not `complete`, says it is still
    /// checking.
    void setLines(const std::vector<overview::VerdictLine>& lines, overview::Verdict::State state,
                  bool complete);
    /// The same for a whole verdict.
    void setVerdict(const overview::Verdict& verdict) {
        setLines(verdict.lines(), verdict.state, verdict.complete);
    }

    /// What the app may use of the user's private data, in words, under the headline;
    /// empty hides the line (a package, or an app not read yet).
    /// For a package, what it would install and whether it runs scripts, in words, in the
    /// line an app's services take; empty hides it.
    void setInstalls(const QString& text);
    void setMayUse(const QString& text);

    /// A note for the tooltip of every line labelled `label`, after its state.
    void setLabelNote(const QString& label, const QString& note);

    /// The bar as text, a line each ("Label: text"), the state first: for Copy of the bar.
    [[nodiscard]] QString text() const;
    [[nodiscard]] bool isChecking() const;

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Row {
        overview::Tri state = overview::Tri::unknown;
        QLabel* icon = nullptr;
        QLabel* label = nullptr;
        QLabel* text = nullptr;
        QString detail;
    };
    Row makeRow(int at);
    void showState(Row& row, overview::Tri state);
    void recolour();

    QGridLayout* grid = nullptr;
    Row headline;
    Row mayUse;
    QLabel* checking = nullptr;
    QProgressBar* busy = nullptr;
    std::vector<Row> rows;
    QHash<QString, QString> labelNotes;
};

}  // namespace varko
