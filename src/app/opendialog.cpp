#include "app/opendialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>

#include "tools/pathbytes.h"
#include "ui/savedialog.h"

namespace varko {

bool isBundleFolder(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    const QString name = QFileInfo(clean).fileName();
    if (!name.endsWith(QLatin1String(".app"), Qt::CaseInsensitive) &&
        !name.endsWith(QLatin1String(".pkg"), Qt::CaseInsensitive))
        return false;
    struct stat st {};
    return ::stat(host::pathToSystem(clean).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

QString openFilter() {
#ifdef Q_OS_MACOS
    return OpenDialog::tr("Apps and installer packages (*.app *.pkg)");
#else
    // Here Varko writes disk images and zip archives out itself to open the apps inside.
    return OpenDialog::tr(
        "Apps, installer packages, disk images and zip archives (*.app *.pkg *.dmg *.zip)");
#endif
}

}  // namespace

OpenDialog::OpenDialog(QWidget* parent)
    : QFileDialog(parent, tr("Open"), QDir::homePath(), openFilter()) {
    setFileMode(QFileDialog::ExistingFiles);
#ifndef Q_OS_MACOS
    // A desktop's own dialog would enter a bundle like any folder, and we could not
    // stop it; Qt's dialog lets us choose it instead.
    setOption(QFileDialog::DontUseNativeDialog);
    keepFileDialogFromReading(*this);
    // Qt's dialog enters any folder it activates; this one chooses a bundle.
    for (auto* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() != QLatin1String("listView") &&
            view->objectName() != QLatin1String("treeView"))
            continue;
        disconnect(view, &QAbstractItemView::activated, this, nullptr);
        connect(view, &QAbstractItemView::activated, this, &OpenDialog::activated);
    }
    // While the completions are shown, the line edit keeps Return from the dialog and
    // the user would have to press it twice. Accepting after the completer has had its
    // turn also opens the completion that the user picked.
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(name, &QLineEdit::returnPressed, this, [this, name] {
            if (name->completer() && name->completer()->popup() &&
                name->completer()->popup()->isVisible())
                QTimer::singleShot(0, this, &OpenDialog::accept);
        });
    }
#endif
}

void OpenDialog::accept() {
    const QStringList files = selectedFiles();
    // Without a bundle among them the base class knows best (and names a missing file).
    if (std::none_of(files.begin(), files.end(), isBundleFolder)) {
        QFileDialog::accept();
        return;
    }
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("“%1” does not exist.").arg(info.fileName()));
            return;
        }
        if (info.isDir() && !isBundleFolder(file)) {
            setDirectory(info.absoluteFilePath());
            if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->clear();
            return;
        }
    }
    choose(files);
}

void OpenDialog::choose(const QStringList& paths) {
    emit filesSelected(paths);
    if (paths.size() == 1) emit fileSelected(paths.first());
    QDialog::accept();
}

void OpenDialog::activated(const QModelIndex& index) {
    const QString path = index.data(QFileSystemModel::FilePathRole).toString();
    if (!path.isEmpty() && isBundleFolder(path)) {
        choose({path});
    } else if (path.isEmpty() || QFileInfo(path).isDir()) {
        // An empty path is the list of drives and mount points.
        setDirectory(path);
        emit directoryEntered(path);
    } else if (index.flags() & Qt::ItemIsEnabled) {
        accept();
    }
}

}  // namespace varko
