#pragma once

#include <QAccessibleWidget>
#include <unordered_map>

namespace varko {

class LogOutputView;

/// What screen readers see of a `LogOutputView`: a list whose items are its lines,
/// each named by its text. An item is made when it is first asked for, so a million
/// lines cost nothing until a reader walks them, and dropped when the lines change.
class LogOutputAccessible final : public QAccessibleWidget {
public:
    explicit LogOutputAccessible(LogOutputView* view);
    ~LogOutputAccessible() override;
    Q_DISABLE_COPY_MOVE(LogOutputAccessible)

    /// Makes this the interface of every `LogOutputView`; the first call counts.
    static void install();
    /// Tells assistive technology that all of `view`'s lines have changed.
    static void linesReset(LogOutputView* view);
    /// Tells assistive technology that the keyboard moved to another line.
    static void currentLineChanged(LogOutputView* view);

    [[nodiscard]] int childCount() const override;
    [[nodiscard]] QAccessibleInterface* child(int index) const override;
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override;
    [[nodiscard]] QAccessibleInterface* childAt(int x, int y) const override;
    [[nodiscard]] QAccessible::State state() const override;

private:
    [[nodiscard]] LogOutputView* view() const;
    void dropLines();

    /// The items made so far, by line; QAccessible owns them through their ids.
    mutable std::unordered_map<int, QAccessible::Id> lines;
};

}  // namespace varko
