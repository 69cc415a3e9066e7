#pragma once

#include <QTreeView>

#include "overview/ui/componentsmodel.h"

namespace varko {

/// The "Components" view: the tree of a bundle's code in the order the walk found it,
/// never sorted, since the order says where each piece sits. Every row with children opens
/// as they arrive; Copy copies the selected rows as tab-separated lines.
class ComponentsView final : public QTreeView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComponentsView)
public:
    explicit ComponentsView(QWidget* parent = nullptr);

    /// The view's own model: give it the overview, then each check as it answers.
    [[nodiscard]] ComponentsModel& componentsModel() const { return *components; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitColumns();

    ComponentsModel* components;
};

}  // namespace varko
