#pragma once

#include <QAbstractScrollArea>
#include <QPointer>

#include "logs/loglinemodel.h"

namespace varko {

/// The log window's output view over a `LogLineModel`. It paints only the visible
/// lines, so a million entries scroll and redisplay at once, and it shows each
/// line's text to screen readers as an item of a list. Selection is by whole lines
/// (drag, shift-click, the arrow keys with shift, Select All); Copy puts the exact
/// text of the selected lines on the clipboard.
class LogOutputView final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogOutputView)
public:
    explicit LogOutputView(QWidget* parent = nullptr);

    /// Shows the lines of `model`, which outlives the view or is its child; a reset
    /// of the model clears the selection and scrolls to the top.
    void setModel(unifiedlog::LogLineModel* model);
    [[nodiscard]] unifiedlog::LogLineModel* model() const { return lines; }

    /// The selected visual lines, first and last; none when first > last.
    [[nodiscard]] std::pair<qsizetype, qsizetype> selection() const;
    [[nodiscard]] QString selectedText() const;
    /// The line that the keyboard moves from; -1 before any.
    [[nodiscard]] qsizetype currentLine() const { return cursor; }
    /// Where a shift-click or shift-arrow extends the selection from; -1 before any.
    [[nodiscard]] qsizetype anchorLine() const { return anchor; }
    /// Selects `anchor` to `current` without scrolling; out-of-range lines select nothing.
    void setSelection(qsizetype anchor, qsizetype current);
    /// Selects line `line` alone and scrolls it into view.
    void selectLine(qsizetype line);
    /// Marks characters `from` to `from + length` of line `line`, the current one, as a
    /// match: they are highlighted rather than the whole line, and scrolled into view with
    /// the line's start whenever both fit, their own start first when they do not. Any
    /// other move of the selection ends the mark.
    void revealText(qsizetype line, qsizetype from, qsizetype length);
    /// The marked match as line, first character and length; line -1 without one.
    struct Match {
        qsizetype line = -1, from = 0, length = 0;
    };
    [[nodiscard]] Match match() const { return marked; }
    /// The first line in view, even when partly; -1 when there are none.
    [[nodiscard]] qsizetype topLine() const;
    /// Scrolls so that line `line` is the first in view, as far as the content allows.
    void scrollLineToTop(qsizetype line);
    /// Shown, in the palette's placeholder colour, while there are no lines.
    void setPlaceholderText(const QString& text);
    [[nodiscard]] QString placeholderText() const { return placeholder; }
    /// Where line `line` is drawn, in viewport coordinates.
    [[nodiscard]] QRect lineRect(qsizetype line) const;
    /// The line drawn at `y` in viewport coordinates; -1 past the last.
    [[nodiscard]] qsizetype lineAtViewport(int y) const;

public slots:
    void copy() const;
    void selectAll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    [[nodiscard]] const unifiedlog::LogDisplay& content() const;
    void contentChanged();
    void updateScrollBars();
    [[nodiscard]] int entryLineHeight() const;
    [[nodiscard]] int messageLineHeight(qsizetype messageLine) const;
    /// Top of visual line `line` in content coordinates.
    [[nodiscard]] qint64 lineTop(qsizetype line) const;
    [[nodiscard]] qsizetype lineAt(qint64 y) const;
    [[nodiscard]] qint64 contentHeight() const;
    void moveCursor(qsizetype line, bool extend);
    void scrollToLine(qsizetype line);
    /// Where characters `from` to `from + length` of `line` are drawn, from the line's start.
    [[nodiscard]] std::pair<int, int> textSpan(qsizetype line, qsizetype from,
                                               qsizetype length) const;

    QPointer<unifiedlog::LogLineModel> lines;
    qsizetype anchor = -1;
    qsizetype cursor = -1;
    Match marked;
    QString placeholder;
};

}  // namespace varko
