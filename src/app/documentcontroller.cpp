#include "app/documentcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

#include <cstdlib>

#include "app/documenttitles.h"
#include "inspection/itemtype.h"
#include "report/ui/documentwindowcontroller.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

namespace varko {

namespace {

constexpr auto recentKey = "recentDocuments";

bool isAppFolder(const QString& path) {
    return path.endsWith(".app", Qt::CaseInsensitive) && QFileInfo(path).isDir();
}

}  // namespace

QString documentKey(const QString& path) {
    const QString absolute = QFileInfo(QDir::cleanPath(path)).absoluteFilePath();
    // realpath on the system's bytes: Qt's canonical path loses a name that is not UTF-8.
    char* real = ::realpath(host::pathToSystem(absolute).constData(), nullptr);
    if (!real) return absolute;
    const QString canonical = host::pathFromSystem(real);
    std::free(real);
    return canonical;
}

DocumentController::DocumentController(Storyboard board, QObject* parent)
    : QObject(parent), storyboard(std::move(board)) {}

DocumentWindowController* DocumentController::openDocument(const QString& path) {
    const QString key = documentKey(path);
    if (QPointer<DocumentWindowController> existing = open.value(key)) {
        existing->show();
        existing->raise();
        existing->activateWindow();
        return existing;
    }

    const ItemType type = itemTypeForPath(path);
    if (!type.accepted()) {
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Varko can't open this item"),
                                    type.error, QMessageBox::Ok, QApplication::activeWindow());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        emit openRefused(type.error);
        return nullptr;
    }

    DocumentWindowController* window = storyboard.instantiateDocumentWindow();
    window->readDocument(QUrl::fromLocalFile(QFileInfo(QDir::cleanPath(path)).absoluteFilePath()),
                         type.typeName,
                         host::visibleControls(QFileInfo(QDir::cleanPath(path)).fileName()));
    connect(window, &DocumentWindowController::itemsDropped, this,
            &DocumentController::openDocuments);
    connect(window, &QObject::destroyed, this, [this, key] {
        open.remove(key);
        retitleWindows();
    });
    open.insert(key, window);
    retitleWindows();
    noteRecent(key);
    window->show();
    return window;
}

void DocumentController::openDocuments(const QStringList& paths) {
    for (const QString& path : paths) openDocument(path);
}

void DocumentController::showOpenDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent, tr("Open"), QDir::homePath(),
                                   tr("Apps and installer packages (*.app *.pkg)"));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog treats a bundle as a folder to enter; entering one chooses it,
    // as the platform's panel lets a user pick an app like a file.
    connect(dialog, &QFileDialog::directoryEntered, this, [this, dialog](const QString& dir) {
        if (!isAppFolder(dir)) return;
        dialog->setDirectory(QFileInfo(dir).absolutePath());
        dialog->close();
        openDocument(dir);
    });
    connect(dialog, &QFileDialog::filesSelected, this, &DocumentController::openDocuments);
    dialog->open();
}

QStringList DocumentController::recentDocuments() const {
    return QSettings().value(recentKey).toStringList();
}

void DocumentController::clearRecentDocuments() {
    QSettings().remove(recentKey);
    emit recentDocumentsChanged();
}

void DocumentController::noteRecent(const QString& path) {
    QStringList recent = recentDocuments();
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > maxRecentDocuments) recent.removeLast();
    QSettings().setValue(recentKey, recent);
    emit recentDocumentsChanged();
}

void DocumentController::retitleWindows() {
#ifndef Q_OS_MACOS
    // The platform's own windows show items of one name alike; elsewhere the folder
    // tells them apart.
    QList<DocumentWindowController*> shown;
    QStringList names, paths;
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        if (!it.value()) continue;
        shown << it.value();
        names << it.value()->documentTitle();
        paths << it.key();
    }
    const QStringList titles = distinctTitles(names, paths);
    for (qsizetype i = 0; i < shown.size(); ++i) shown[i]->setDistinctTitle(titles[i]);
#endif
}

QList<DocumentWindowController*> DocumentController::windows() const {
    QList<DocumentWindowController*> result;
    for (const auto& window : open)
        if (window) result << window;
    return result;
}

}  // namespace varko
