#pragma once

#include <QFuture>
#include <QString>
#include <functional>
#include <string>

#include "format/expected.h"

class QFileDialog;
class QThreadPool;
class QWidget;

namespace varko {

/// How a window's save dialog is set up.
struct SaveDialogSetup {
    QString caption;
    /// The folder and file name offered.
    QString proposedPath;
    QString nameFilter;
    /// Added to a name typed without a suffix.
    QString defaultSuffix;
    /// Window-modal over its window (a sheet) rather than a dialog of its own.
    bool sheet = false;
    /// The alert's text when the write fails after the window has gone: %1 is the
    /// file, %2 the reason.
    QString failureWithoutWindow;
};

/// Told on the GUI thread how the write to `fileName` ended, while the window lives.
using SaveFinished = std::function<void(const QString& fileName, const Expected<void>& written)>;

/// Opens a save dialog over `window` for `content`, the bytes as they stood when the
/// user asked to save (they may still be in the making). The dialog and the write
/// belong to neither the window nor its pool: closing the window lets the dialog and
/// the save finish, and a failure then shows in an alert. The write runs off the GUI
/// thread and never replaces anything but a regular file. Returns the dialog, shown.
QFileDialog* openSaveDialog(QWidget* window, const SaveDialogSetup& setup,
                            QFuture<std::string> content, SaveFinished finished);

/// The pool on which saves convert and write; it outlives every window and ends with
/// the application, after its writes.
[[nodiscard]] QThreadPool* savingPool();

/// Keeps Qt's own file dialog from reading files as it lists a folder: it guesses a
/// file's type from its content, and a read of a file such as /proc/kmsg never returns,
/// freezing every window. Types come from names instead.
void keepFileDialogFromReading(QFileDialog& dialog);

/// The user's documents folder, or the home folder when there is none.
[[nodiscard]] QString documentsFolder();

/// `name` made fit to be a file name that a dialog offers: no folder separators,
/// colons or control characters, and not too long.
[[nodiscard]] QString fileNameSafe(const QString& name);

}  // namespace varko
