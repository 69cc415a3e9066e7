#pragma once

#include <QPlainTextEdit>

#include "report/reporttext.h"

namespace varko {

/// The inspection window's text view. It shows a `ReportText`'s shown form, and
/// whatever leaves it (Copy, a drag) is the report's own characters, never the view's
/// changed ones. A plain-text view lays out only what is on screen, so a report of a
/// stranger's hundreds of thousands of keys still scrolls at once.
class ReportTextView final : public QPlainTextEdit {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReportTextView)
public:
    /// `report` outlives the view.
    explicit ReportTextView(const ReportText& report, QWidget* parent = nullptr);

    /// The exact characters of the selection.
    [[nodiscard]] QString selectedText() const;
    /// The position of the first character of the first visible line.
    [[nodiscard]] qsizetype topPosition() const;
    /// Scrolls so that the line that holds `position` is the first visible one.
    void scrollToTop(qsizetype position);

protected:
    [[nodiscard]] QMimeData* createMimeDataFromSelection() const override;

private:
    const ReportText& report;
};

}  // namespace varko
