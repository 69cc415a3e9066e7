#pragma once

#include <QTreeView>

#include "overview/ui/privacymodel.h"

namespace varko {

/// The "Privacy" view: today's privacy services the app and its components use, in the
/// table's order and then the unknown ones. Copy copies the selected rows.
class PrivacyView final : public QTreeView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PrivacyView)
public:
    explicit PrivacyView(QWidget* parent = nullptr);

    [[nodiscard]] PrivacyModel& privacyModel() const { return *services; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    PrivacyModel* services;
};

}  // namespace varko
