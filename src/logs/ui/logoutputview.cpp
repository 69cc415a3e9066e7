#include "logs/ui/logoutputview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include "logs/ui/logoutputaccessible.h"

namespace varko {

namespace {

constexpr int margin = 4;

}  // namespace

LogOutputView::LogOutputView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(16);
    LogOutputAccessible::install();
}

void LogOutputView::setModel(unifiedlog::LogLineModel* model) {
    if (lines) disconnect(lines, nullptr, this, nullptr);
    lines = model;
    if (model) {
        // The model resets on every change; the finer signals are honoured all the same.
        connect(model, &QAbstractItemModel::modelReset, this, &LogOutputView::contentChanged);
        connect(model, &QAbstractItemModel::layoutChanged, this, &LogOutputView::contentChanged);
        connect(model, &QAbstractItemModel::rowsInserted, this, &LogOutputView::contentChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &LogOutputView::contentChanged);
        connect(model, &QAbstractItemModel::dataChanged, viewport(), qOverload<>(&QWidget::update));
    }
    contentChanged();
}

const unifiedlog::LogDisplay& LogOutputView::content() const {
    static const unifiedlog::LogDisplay nothing;
    return lines ? lines->display() : nothing;
}

int LogOutputView::entryLineHeight() const {
    return QFontMetrics(unifiedlog::lineFont(content().entryFontSize())).lineSpacing();
}

int LogOutputView::messageLineHeight(qsizetype messageLine) const {
    int height = 0;
    for (const unifiedlog::LineSegment& s :
         content().line(content().entryLineCount() + messageLine))
        height = std::max(height, QFontMetrics(unifiedlog::lineFont(s.fontSize)).lineSpacing());
    return height;
}

qint64 LogOutputView::lineTop(qsizetype line) const {
    const qsizetype entryLines = content().entryLineCount();
    if (line <= entryLines) return qint64(line) * entryLineHeight();
    qint64 top = qint64(entryLines) * entryLineHeight();
    for (qsizetype m = 0; m < line - entryLines; ++m) top += messageLineHeight(m);
    return top;
}

qint64 LogOutputView::contentHeight() const {
    return lineTop(content().lineCount()) + 2 * margin;
}

qsizetype LogOutputView::lineAt(qint64 y) const {
    y -= margin;
    if (y < 0) return 0;
    const qsizetype entryLines = content().entryLineCount();
    const int h = entryLineHeight();
    if (y < qint64(entryLines) * h) return qsizetype(y / h);
    qint64 top = qint64(entryLines) * h;
    const qsizetype messages = content().lineCount() - entryLines;
    for (qsizetype m = 0; m < messages; ++m) {
        top += messageLineHeight(m);
        if (y < top) return entryLines + m;
    }
    return std::max<qsizetype>(content().lineCount() - 1, 0);
}

void LogOutputView::contentChanged() {
    anchor = cursor = -1;
    marked = {};
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
    LogOutputAccessible::linesReset(this);
}

void LogOutputView::setSelection(qsizetype from, qsizetype to) {
    const qsizetype count = content().lineCount();
    const bool valid = from >= 0 && from < count && to >= 0 && to < count;
    anchor = valid ? from : -1;
    cursor = valid ? to : -1;
    marked = {};
    viewport()->update();
    LogOutputAccessible::currentLineChanged(this);
}

void LogOutputView::selectLine(qsizetype line) {
    if (line < 0 || line >= content().lineCount()) return;
    moveCursor(line, false);
}

std::pair<int, int> LogOutputView::textSpan(qsizetype line, qsizetype from,
                                            qsizetype length) const {
    // Measured run by run, as paintEvent places them.
    int x = 0, left = -1, right = -1;
    qsizetype at = 0;
    for (const unifiedlog::LineSegment& s : content().line(line)) {
        const QFontMetrics metrics(unifiedlog::lineFont(s.fontSize));
        const qsizetype n = s.text.size();
        if (left < 0 && from < at + n) left = x + metrics.horizontalAdvance(s.text.left(from - at));
        if (right < 0 && from + length <= at + n)
            right = x + metrics.horizontalAdvance(s.text.left(from + length - at));
        x += metrics.horizontalAdvance(s.text);
        at += n;
    }
    return {left, right < 0 ? x : right};
}

void LogOutputView::revealText(qsizetype line, qsizetype from, qsizetype length) {
    if (line < 0 || line >= content().lineCount() || from < 0) return;
    const auto [left, right] = textSpan(line, from, length);
    if (left < 0) return;
    marked = {line, from, length};
    viewport()->update();
    QScrollBar* bar = horizontalScrollBar();
    const int width = viewport()->width() - 2 * margin;
    // The time and process at the line's start give a match its context: they stay in
    // view whenever the match fits beside them.
    if (right <= width)
        bar->setValue(0);
    else if (left < bar->value() || right - left > width)
        bar->setValue(left);
    else if (right > bar->value() + width)
        bar->setValue(right - width);
}

qsizetype LogOutputView::topLine() const {
    return content().lineCount() == 0 ? -1 : lineAt(verticalScrollBar()->value());
}

void LogOutputView::scrollLineToTop(qsizetype line) {
    if (line < 0 || line >= content().lineCount()) return;
    // Line 0 keeps the margin above it; any other starts exactly at the top edge,
    // so that topLine() names it again.
    verticalScrollBar()->setValue(int(
        std::min<qint64>(line == 0 ? 0 : lineTop(line) + margin, verticalScrollBar()->maximum())));
}

void LogOutputView::setPlaceholderText(const QString& text) {
    if (text == placeholder) return;
    placeholder = text;
    setAccessibleDescription(text);
    viewport()->update();
}

QRect LogOutputView::lineRect(qsizetype line) const {
    if (line < 0 || line >= content().lineCount()) return {};
    const qint64 top = lineTop(line) + margin - verticalScrollBar()->value();
    const qint64 bottom = lineTop(line + 1) + margin - verticalScrollBar()->value();
    // Far off screen a line is still placed, clamped to what a QRect holds.
    constexpr qint64 far = std::numeric_limits<int>::max() / 2;
    return QRect(QPoint(0, int(std::clamp(top, -far, far))),
                 QPoint(viewport()->width() - 1, int(std::clamp(bottom, -far, far)) - 1));
}

qsizetype LogOutputView::lineAtViewport(int y) const {
    const qint64 at = qint64(y) + verticalScrollBar()->value();
    if (at < margin || at >= lineTop(content().lineCount()) + margin) return -1;
    return lineAt(at);
}

void LogOutputView::updateScrollBars() {
    // Scroll positions are pixels; even ten million lines stay far below the int range.
    const qint64 height = std::min<qint64>(contentHeight(), std::numeric_limits<int>::max() / 2);
    verticalScrollBar()->setRange(0, int(std::max<qint64>(0, height - viewport()->height())));
    verticalScrollBar()->setPageStep(viewport()->height());
    // A fixed-pitch font makes the width a matter of counting.
    const double largest = std::max(content().entryFontSize(), 12.0);
    const qint64 width = qint64(content().longestLine()) *
                             QFontMetrics(unifiedlog::lineFont(largest)).horizontalAdvance(u'M') +
                         2 * margin;
    horizontalScrollBar()->setRange(0,
                                    int(std::clamp<qint64>(width - viewport()->width(), 0,
                                                           std::numeric_limits<int>::max() / 2)));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void LogOutputView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LogOutputView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        viewport()->update();
}

void LogOutputView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const qint64 top = verticalScrollBar()->value();
    const int left = margin - horizontalScrollBar()->value();
    const qsizetype count = content().lineCount();
    if (count == 0) {
        // An empty result says so rather than leaving the view blank.
        if (placeholder.isEmpty()) return;
        painter.setPen(palette().placeholderText().color());
        painter.drawText(viewport()->rect().adjusted(4 * margin, 4 * margin, -4 * margin, 0),
                         Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, placeholder);
        return;
    }
    // A line's runs come from the model; only the visible lines are asked for.
    const auto [selFirst, selLast] = selection();
    const QPalette& pal = palette();
    qsizetype line = lineAt(top);
    qint64 y = lineTop(line) + margin - top;
    const int height = viewport()->height();
    for (; line < count && y < height; ++line) {
        const std::vector<unifiedlog::LineSegment> segments = lines->segments(line);
        int lineHeight = 0;
        int ascent = 0;
        for (const unifiedlog::LineSegment& s : segments) {
            const QFontMetrics metrics(unifiedlog::lineFont(s.fontSize));
            lineHeight = std::max(lineHeight, metrics.lineSpacing());
            ascent = std::max(ascent, metrics.ascent());
        }
        const QRect lineRect(0, int(y), viewport()->width(), lineHeight);
        // A found match is highlighted itself; its line is only outlined, so that the
        // rest of it reads as usual.
        const bool matched = line == marked.line;
        const bool selected = !matched && line >= selFirst && line <= selLast;
        if (selected) painter.fillRect(lineRect, pal.highlight());
        const auto drawRuns = [&](bool highlighted) {
            int x = left;
            for (const unifiedlog::LineSegment& s : segments) {
                const QFont font = unifiedlog::lineFont(s.fontSize);
                painter.setFont(font);
                painter.setPen(highlighted ? pal.highlightedText().color()
                                           : unifiedlog::resolveColour(s.colour, pal.text().color(),
                                                                       pal.base().color()));
                painter.drawText(x, int(y) + ascent, s.text);
                x += QFontMetrics(font).horizontalAdvance(s.text);
            }
        };
        drawRuns(selected);
        if (matched) {
            painter.setPen(pal.highlight().color());
            painter.drawRect(lineRect.adjusted(0, 0, -1, -1));
            const auto [from, to] = textSpan(line, marked.from, marked.length);
            const QRect hit(left + from, int(y), to - from, lineHeight);
            painter.save();
            painter.setClipRect(hit);
            painter.fillRect(hit, pal.highlight());
            drawRuns(true);
            painter.restore();
        }
        y += lineHeight;
    }
}

std::pair<qsizetype, qsizetype> LogOutputView::selection() const {
    if (anchor < 0 || cursor < 0) return {0, -1};
    return {std::min(anchor, cursor), std::max(anchor, cursor)};
}

QString LogOutputView::selectedText() const {
    const auto [first, last] = selection();
    if (first == 0 && last == content().lineCount() - 1) return content().text();
    return first > last ? QString() : content().text(first, last);
}

void LogOutputView::copy() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void LogOutputView::selectAll() {
    if (content().lineCount() == 0) return;
    anchor = 0;
    cursor = content().lineCount() - 1;
    viewport()->update();
    LogOutputAccessible::currentLineChanged(this);
}

void LogOutputView::moveCursor(qsizetype line, bool extend) {
    if (content().lineCount() == 0) return;
    line = std::clamp<qsizetype>(line, 0, content().lineCount() - 1);
    if (!extend || anchor < 0) anchor = line;
    cursor = line;
    marked = {};
    scrollToLine(line);
    viewport()->update();
    LogOutputAccessible::currentLineChanged(this);
}

void LogOutputView::scrollToLine(qsizetype line) {
    const qint64 top = lineTop(line) + margin;
    const qint64 bottom = lineTop(line + 1) + margin;
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(int(top - margin));
    else if (bottom > bar->value() + viewport()->height())
        bar->setValue(int(bottom - viewport()->height() + margin));
}

void LogOutputView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    moveCursor(lineAt(event->position().y() + verticalScrollBar()->value()),
               event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogOutputView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons().testFlag(Qt::LeftButton))
        moveCursor(lineAt(event->position().y() + verticalScrollBar()->value()), true);
}

void LogOutputView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) return copy();
    if (event->matches(QKeySequence::SelectAll)) return selectAll();
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    const qsizetype page =
        std::max<qsizetype>(1, viewport()->height() / std::max(1, entryLineHeight()));
    const qsizetype at = cursor < 0 ? lineAt(verticalScrollBar()->value()) : cursor;
    switch (event->key()) {
        case Qt::Key_Up:
            return moveCursor(at - 1, extend);
        case Qt::Key_Down:
            return moveCursor(cursor < 0 ? at : at + 1, extend);
        case Qt::Key_PageUp:
            return moveCursor(at - page, extend);
        case Qt::Key_PageDown:
            return moveCursor(at + page, extend);
        case Qt::Key_Home:
            return moveCursor(0, extend);
        case Qt::Key_End:
            return moveCursor(content().lineCount() - 1, extend);
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void LogOutputView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &LogOutputView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(selection().first <= selection().second);
    QAction* all = menu.addAction(tr("Select &All"), this, &LogOutputView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

}  // namespace varko
