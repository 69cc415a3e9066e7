#include "app/documentcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>
#include <QtConcurrent>

#include <cstdlib>

#include "app/documenttitles.h"
#include "app/opendialog.h"
#include "inspection/itemtype.h"
#include "package/container.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "tools/pathbytes.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/preferences.h"

namespace varko {

namespace {

constexpr auto recentKey = "recentDocuments";

/// A line of an alert: an item's name may hold line feeds and run to thousands of characters.
QString shownLine(const QString& text) {
    constexpr qsizetype keep = 120;
    const QString shown = host::visibleControls(text);
    if (shown.size() <= 2 * keep) return shown;
    // Never cut between the halves of a surrogate pair.
    const qsizetype left = shown[keep - 1].isHighSurrogate() ? keep - 1 : keep;
    const qsizetype right = shown[shown.size() - keep].isLowSurrogate() ? keep - 1 : keep;
    return shown.left(left) + u'…' + shown.right(right);
}

/// Keeps a written-out container for as long as a window of its apps lives.
class ContainerKeeper final : public QObject {
public:
    ContainerKeeper(std::shared_ptr<package::PrivateFolder> folder, QObject* window)
        : QObject(window), folder(std::move(folder)) {}

private:
    std::shared_ptr<package::PrivateFolder> folder;
};

using ContainerResult = std::shared_ptr<const Expected<package::ExpandedContainer>>;

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

DocumentController::~DocumentController() {
    cancelExpanding->store(true);
    if (!expanding.isEmpty()) QGuiApplication::restoreOverrideCursor();
}

DocumentWindowController* DocumentController::openDocument(const QString& path) {
    return openDocuments({path});
}

DocumentWindowController* DocumentController::openDocuments(const QStringList& paths) {
    Request request;
    DocumentWindowController* last = nullptr;
    for (const QString& path : paths)
        if (DocumentWindowController* window = open(path, request)) last = window;
    tell(request);
    return last;
}

DocumentWindowController* DocumentController::open(const QString& path, Request& request) {
    const QString key = documentKey(path);
    if (QPointer<DocumentWindowController> existing = windowsByKey.value(key)) {
        existing->show();
        existing->raise();
        existing->activateWindow();
        emit documentShown(existing);
        return existing;
    }

    const QString clean = QDir::cleanPath(path);
    if (storyboard.toolSet().profile().expandsContainers && QFileInfo(clean).isFile() &&
        package::containerKindForName(
            host::pathToSystem(QFileInfo(clean).fileName()).toStdString())) {
        openContainer(clean, key);
        return nullptr;
    }
    const ItemType type = itemTypeForPath(path);
    if (!type.accepted()) {
        request.reasons << type.error;
        return nullptr;
    }
    if (request.opened == maxNewWindows) {
        request.notOpened << path;
        return nullptr;
    }
    ++request.opened;
    noteRecent(key);
    return openWindow(key, QFileInfo(clean).absoluteFilePath(), type.typeName,
                      host::visibleControls(QFileInfo(clean).fileName()));
}

DocumentWindowController* DocumentController::openWindow(
    const QString& key, const QString& path, const QString& typeName, const QString& title,
    const std::optional<std::pair<QString, QString>>& shownFolder) {
    // Read while its window is built, so that the window seldom shows itself still reading.
    DocumentReading reading =
        startReading(storyboard.toolSet(), QUrl::fromLocalFile(path), typeName);
    DocumentWindowController* window = storyboard.instantiateDocumentWindow();
    if (shownFolder)
        window->viewController()->showFolderAs(shownFolder->first, shownFolder->second);
    window->readDocument(std::move(reading), title);
    connect(window, &DocumentWindowController::itemsDropped, this,
            &DocumentController::openDocuments);
    connect(window, &QObject::destroyed, this, [this, key] {
        windowsByKey.remove(key);
        retitleWindows();
    });
    windowsByKey.insert(key, window);
    retitleWindows();
    window->show();
    emit documentShown(window);
    return window;
}

void DocumentController::openContainer(const QString& path, const QString& key) {
    // Its apps' windows are known by the container's key, a line feed and the path inside.
    const QString prefix = key + u'\n';
    bool shown = false;
    for (auto it = windowsByKey.cbegin(); it != windowsByKey.cend(); ++it) {
        if (!it.key().startsWith(prefix) || !it.value()) continue;
        it.value()->show();
        it.value()->raise();
        emit documentShown(it.value());
        shown = true;
    }
    if (shown || expanding.contains(key)) return;
    // Writing out a large image takes a while; the pointer says Varko is at it.
    if (expanding.isEmpty()) QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    expanding.insert(key);
    host::whenFinished(
        this,
        QtConcurrent::run([file = host::pathToSystem(path).toStdString(),
                           cancel = cancelExpanding]() -> ContainerResult {
            package::ContainerBudget budget;
            budget.cancel = cancel.get();
            return std::make_shared<const Expected<package::ExpandedContainer>>(
                package::expandContainer(file, budget));
        }),
        [this, path, key, prefix](const ContainerResult& result) {
            expanding.remove(key);
            if (expanding.isEmpty()) QGuiApplication::restoreOverrideCursor();
            const QString name = QFileInfo(path).fileName();
            Request request;
            if (!result->ok()) {
                request.reasons << QString::fromStdString(result->error().message);
            } else if (result->value().apps.empty()) {
                request.reasons << tr("No app was found in “%1”.").arg(name);
            } else {
                noteRecent(key);
                const package::ExpandedContainer& container = result->value();
                const std::pair<QString, QString> shownFolder{
                    host::pathFromSystem(QByteArray::fromStdString(container.contents.native())),
                    path};
                for (std::size_t i = 0; i < container.apps.size(); ++i) {
                    const QString inside =
                        host::pathFromSystem(QByteArray::fromStdString(container.pathsInside[i]));
                    if (request.opened == maxNewWindows) {
                        request.notOpened << name + u'/' + inside;
                        continue;
                    }
                    ++request.opened;
                    const QString app =
                        host::pathFromSystem(QByteArray::fromStdString(container.apps[i].native()));
                    DocumentWindowController* window =
                        openWindow(prefix + inside, app, QString::fromLatin1(applicationBundleType),
                                   host::visibleControls(QFileInfo(app).fileName() +
                                                         QStringLiteral(" — ") + name),
                                   shownFolder);
                    new ContainerKeeper(container.folder, window);
                }
            }
            tell(request);
            emit containerOpened(path);
        });
}

void DocumentController::tell(const Request& request) {
    const qsizetype count = request.reasons.size() + request.notOpened.size();
    if (count == 0) return;
    QString heading, details;
    if (count == 1 && request.notOpened.isEmpty()) {
        heading = shownLine(request.reasons.front());
    } else {
        heading = count == 1 ? tr("Varko didn't open this item:")
                             : tr("Varko didn't open %1 items:").arg(count);
        QStringList lines;
        for (const QString& reason : request.reasons) {
            if (lines.size() == maxNamedRefusals) break;
            lines << shownLine(reason);
        }
        for (const QString& path : request.notOpened) {
            if (lines.size() == maxNamedRefusals) break;
            lines << shownLine(tr("“%1” was not opened.").arg(path));
        }
        if (count > lines.size()) lines << tr("and %1 more.").arg(count - lines.size());
        if (!request.notOpened.isEmpty())
            lines << QString()
                  << tr("Varko opens at most %1 new windows at a time. To look at many "
                        "apps at once, use File › Scan Folder….")
                         .arg(maxNewWindows);
        details = lines.join(u'\n');
    }
    // Not modal: a hand-over arrives while the user works, and the next one must find the
    // event loop free.
    auto* box = new QMessageBox(
        QMessageBox::Warning,
        count == 1 ? tr("Varko can't open this item") : tr("Varko can't open these items"),
        QString(), QMessageBox::Ok, QApplication::activeWindow());
    // All in the plain text: the informative text would take a name such as "<img …>" for
    // markup.
    const QString message = details.isEmpty() ? heading : heading + u'\n' + details;
    box->setTextFormat(Qt::PlainText);
    box->setText(message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    emit openRefused(message);
}

void DocumentController::showOpenDialog(QWidget* parent) {
    auto* dialog = new OpenDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::filesSelected, this, &DocumentController::openDocuments);
    dialog->open();
}

QStringList DocumentController::recentDocuments() const {
    return preferences::value(recentKey).toStringList();
}

void DocumentController::clearRecentDocuments() {
    preferences::remove(recentKey);
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
    preferences::setValue(recentKey, recent);
    emit recentDocumentsChanged();
}

void DocumentController::retitleWindows() {
#ifndef Q_OS_MACOS
    // The platform's own windows show items of one name alike; elsewhere the folder
    // tells them apart.
    QList<DocumentWindowController*> shown;
    QStringList names, paths;
    for (auto it = windowsByKey.cbegin(); it != windowsByKey.cend(); ++it) {
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
    for (const auto& window : windowsByKey)
        if (window) result << window;
    return result;
}

}  // namespace varko
