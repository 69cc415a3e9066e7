#pragma once

#include <QAbstractScrollArea>

#include "logs/logdisplay.h"

namespace varko {

/// The log window's output view. It draws only the visible lines of its
/// `LogDisplay`, so a million entries scroll and redisplay at once. Selection is
/// by whole lines (drag, shift-click, the arrow keys with shift, Select All); Copy
/// puts the exact text of the selected lines on the clipboard.
class LogOutputView final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogOutputView)
public:
    explicit LogOutputView(QWidget* parent = nullptr);

    [[nodiscard]] const logs::LogDisplay& display() const { return content; }
    /// Changes the content through `change` and redraws.
    template <class Change>
    void update(Change&& change) {
        change(content);
        contentChanged();
    }

    /// The selected visual lines, first and last; none when first > last.
    [[nodiscard]] std::pair<qsizetype, qsizetype> selection() const;
    [[nodiscard]] QString selectedText() const;

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

    logs::LogDisplay content;
    qsizetype anchor = -1;
    qsizetype cursor = -1;
};

}  // namespace varko
