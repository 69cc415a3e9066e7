#pragma once

#include <QFileDialog>

class QModelIndex;

namespace varko {

/// The Open dialog, in which an app bundle (or a package kept as a folder) is chosen
/// like a file, as the platform's panel treats packages: selecting one and pressing
/// Open or Return, typing its path, or double-clicking it chooses it instead of
/// entering it. Folders that are not bundles are still entered. On macOS the
/// system's own panel does this already and is used as it is.
class OpenDialog final : public QFileDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OpenDialog)
public:
    explicit OpenDialog(QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    /// Ends the dialog with `paths` as its choice, as the base class would.
    void choose(const QStringList& paths);
    /// A double-click, or Return in the file list.
    void activated(const QModelIndex& index);
};

/// Whether `path` is a folder that Varko opens as one item rather than enters: its
/// name ends in `.app` or `.pkg` (ignoring case).
[[nodiscard]] bool isBundleFolder(const QString& path);

}  // namespace varko
