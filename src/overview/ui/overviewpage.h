#pragma once

#include <QWidget>

#include "overview/overview.h"

class QAbstractItemView;
class QLabel;

namespace varko {

/// A tab page for one of the overview's views: a note above the view, shown only when
/// there is something to say (the bundle could not be read, the list was cut short).
class OverviewPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OverviewPage)
public:
    /// Takes `view` into the page.
    explicit OverviewPage(QAbstractItemView* view, QWidget* parent = nullptr);

    /// Plain text; empty hides the note.
    void setNote(const QString& text);
    [[nodiscard]] QString note() const;

private:
    QLabel* noteLabel;
};

/// What the components page must say about the overview: why the walk could not read the
/// bundle, or that it stopped at its limits. Empty when the list is whole.
[[nodiscard]] QString componentsNote(const overview::Overview& overview);

/// What the privacy page must say when the services may be incomplete: code past the
/// walk's limits, or in a folder that could not be read, may use more. Empty otherwise.
[[nodiscard]] QString privacyNote(const overview::Overview& overview);

/// Puts the selected rows of `view` on the clipboard, a line each with its cells' texts
/// separated by tabs, in the order they are shown.
void copySelectedRows(const QAbstractItemView& view);

}  // namespace varko
