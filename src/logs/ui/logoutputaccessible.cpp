#include "logs/ui/logoutputaccessible.h"

#include <QPointer>
#include <QWindow>

#include "logs/ui/logoutputview.h"

namespace varko {

namespace {

// One line of the view as a list item. It holds the line's number, not its text,
// and reads the text from the view's model whenever asked.
class LogLineAccessible final : public QAccessibleInterface {
public:
    LogLineAccessible(LogOutputView* view, int row) : view(view), row(row) {}

    bool isValid() const override {
        return view && view->model() && row < view->model()->rowCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view ? view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return view ? QAccessible::queryAccessibleInterface(view) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid()) return {};
        return view->model()->index(row).data(Qt::DisplayRole).toString();
    }

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect line = view->lineRect(row);
        return line.translated(view->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const auto [first, last] = view->selection();
        state.selectable = true;
        state.selected = row >= first && row <= last;
        state.focusable = true;
        state.focused = view->hasFocus() && row == view->currentLine();
        state.offscreen = !view->lineRect(row).intersects(view->viewport()->rect());
        return state;
    }

    QPointer<LogOutputView> view;
    const int row;
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
    if (auto* view = qobject_cast<LogOutputView*>(object)) return new LogOutputAccessible(view);
    return nullptr;
}

}  // namespace

LogOutputAccessible::LogOutputAccessible(LogOutputView* view)
    : QAccessibleWidget(view, QAccessible::List) {}

LogOutputAccessible::~LogOutputAccessible() {
    dropLines();
}

void LogOutputAccessible::install() {
    static const bool installed = (QAccessible::installFactory(makeInterface), true);
    Q_UNUSED(installed);
}

LogOutputView* LogOutputAccessible::view() const {
    return static_cast<LogOutputView*>(widget());
}

void LogOutputAccessible::dropLines() {
    for (const auto& [row, id] : lines) QAccessible::deleteAccessibleInterface(id);
    lines.clear();
}

void LogOutputAccessible::linesReset(LogOutputView* view) {
    if (!QAccessible::isActive()) return;
    if (auto* list =
            dynamic_cast<LogOutputAccessible*>(QAccessible::queryAccessibleInterface(view)))
        list->dropLines();
    // What an item view sends on a reset, so readers treat the lines alike.
    QAccessibleTableModelChangeEvent event(view, QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
}

void LogOutputAccessible::currentLineChanged(LogOutputView* view) {
    if (!QAccessible::isActive() || !view->hasFocus() || view->currentLine() < 0) return;
    QAccessibleEvent event(view, QAccessible::Focus);
    event.setChild(int(view->currentLine()));
    QAccessible::updateAccessibility(&event);
}

int LogOutputAccessible::childCount() const {
    return view()->model() ? view()->model()->rowCount() : 0;
}

QAccessibleInterface* LogOutputAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    if (const auto it = lines.find(index); it != lines.end()) {
        if (QAccessibleInterface* line = QAccessible::accessibleInterface(it->second)) return line;
    }
    auto* line = new LogLineAccessible(view(), index);
    lines[index] = QAccessible::registerAccessibleInterface(line);
    return line;
}

int LogOutputAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const auto* line = dynamic_cast<const LogLineAccessible*>(child);
    return line && line->view == view() && line->isValid() ? line->row : -1;
}

QAccessibleInterface* LogOutputAccessible::childAt(int x, int y) const {
    const QPoint at = view()->viewport()->mapFromGlobal(QPoint(x, y));
    if (!view()->viewport()->rect().contains(at)) return nullptr;
    const qsizetype line = view()->lineAtViewport(at.y());
    return line < 0 || line >= childCount() ? nullptr : child(int(line));
}

QAccessible::State LogOutputAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.extSelectable = true;
    return state;
}

}  // namespace varko
