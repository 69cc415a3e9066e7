#pragma once

#include <QTreeWidget>

#include "overview/overview.h"

namespace varko {

/// The privacy manifests of the app and its components: what each says of tracking, the
/// data it collects and why, and the required-reason APIs it uses.
class ManifestsView final : public QTreeWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ManifestsView)
public:
    explicit ManifestsView(QWidget* parent = nullptr);

    void setOverview(const overview::Overview& overview);
};

}  // namespace varko
