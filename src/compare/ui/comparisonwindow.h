#pragma once

#include <QMainWindow>
#include <QString>

#include "tools/toolset.h"

class QLabel;
class QMenu;
class QProgressBar;
class QThreadPool;
class QTreeView;

namespace varko {

class ChangesModel;

/// The "Changes" window: what changed from one version of an item to another, most
/// serious first, as `varko-report --diff` lists it. Both versions are inspected on the
/// window's own pool while a busy bar shows; the window's item is the old version.
class ComparisonWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComparisonWindow)
public:
    explicit ComparisonWindow(host::ToolSet tools, QWidget* parent = nullptr);
    ~ComparisonWindow() override;

    /// Titles the window "OLD → NEW" (with as much of their folders as tells apart two of
    /// one name), shows both paths whole above the list and starts inspecting both; the list
    /// fills in when both have answered.
    void compare(const QString& oldPath, const QString& newPath);
    [[nodiscard]] bool isComparing() const { return comparing; }

    /// Puts the selected rows on the clipboard, a line each as varko-report prints them.
    void copySelection();

    [[nodiscard]] QTreeView* changesView() const { return view; }
    [[nodiscard]] const ChangesModel& changes() const { return *model; }
    /// What the window says above the list: busy, how many changes, none, or why not.
    [[nodiscard]] QString statusText() const;
    /// The File menu, to which the application adds its own items.
    [[nodiscard]] QMenu* fileMenu() const { return file; }

signals:
    /// The comparison has answered, with changes, none, or a problem.
    void comparisonFinished();

private:
    host::ToolSet tools;
    QThreadPool* pool = nullptr;
    host::CancelFlag cancel = std::make_shared<std::atomic<bool>>(false);
    ChangesModel* model = nullptr;
    QTreeView* view = nullptr;
    QLabel* oldPathLabel = nullptr;
    QLabel* newPathLabel = nullptr;
    QLabel* status = nullptr;
    QProgressBar* busy = nullptr;
    QMenu* file = nullptr;
    bool comparing = false;
};

}  // namespace varko
