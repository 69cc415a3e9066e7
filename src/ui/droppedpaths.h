#pragma once

#include <QObject>
#include <QStringList>

class QMimeData;
class QWidget;

namespace varko {

/// The local paths among dropped URLs: what every Varko window opens when items are
/// dropped on it.
[[nodiscard]] QStringList droppedPaths(const QMimeData* mime);

/// Lets a window take items dropped anywhere on it, as every Varko window does: a drag
/// that carries local files is accepted, and their paths are handed on to be opened.
class ItemDrops final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ItemDrops)
public:
    /// Watches `window`, which owns it.
    explicit ItemDrops(QWidget& window);

signals:
    void itemsDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace varko
