#include "app/documentcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

#include <cstdlib>

#include "app/documenttitles.h"
#include "app/opendialog.h"
#include "inspection/itemtype.h"
#include "report/ui/documentwindowcontroller.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

namespace varko {

namespace {

constexpr auto recentKey = "recentDocuments";

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
        emit documentShown(existing);
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
    emit documentShown(window);
    return window;
}

void DocumentController::openDocuments(const QStringList& paths) {
    for (const QString& path : paths) openDocument(path);
}

void DocumentController::showOpenDialog(QWidget* parent) {
    auto* dialog = new OpenDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
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
    const QStringList before = recentDocuments();
    QStringList recent = before;
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > maxRecentDocuments) recent.removeLast();
    // Reopening the latest item changes nothing; writing it would rewrite the settings
    // file, and refill every menu, while the window is due on screen.
    if (recent == before) return;
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
