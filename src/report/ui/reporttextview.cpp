#include "report/ui/reporttextview.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

namespace varko {

ReportTextView::ReportTextView(const ReportText& shown, QWidget* parent)
    : QPlainTextEdit(parent), report(shown) {}

QString ReportTextView::selectedText() const {
    const QTextCursor cursor = textCursor();
    return report.exactText(cursor.selectionStart(), cursor.selectionEnd());
}

QMimeData* ReportTextView::createMimeDataFromSelection() const {
    auto* mime = new QMimeData;
    mime->setText(selectedText());
    return mime;
}

// The vertical scroll bar counts visual lines: wrapped lines of the blocks before the
// top one, then lines within it.
qsizetype ReportTextView::topPosition() const {
    const QTextBlock block = firstVisibleBlock();
    if (!block.isValid()) return 0;
    const QTextLayout* layout = block.layout();
    const int line = verticalScrollBar()->value() - block.firstLineNumber();
    if (layout == nullptr || line <= 0 || line >= layout->lineCount()) return block.position();
    return block.position() + layout->lineAt(line).textStart();
}

void ReportTextView::scrollToTop(qsizetype position) {
    const QTextBlock block = document()->findBlock(int(position));
    if (!block.isValid()) return;
    (void)blockBoundingRect(block);  // lays the block out, so its lines are known
    int line = 0;
    if (const QTextLayout* layout = block.layout(); layout && layout->lineCount() > 0)
        line =
            std::max(0, layout->lineForTextPosition(int(position - block.position())).lineNumber());
    verticalScrollBar()->setValue(block.firstLineNumber() + line);
}

}  // namespace varko
