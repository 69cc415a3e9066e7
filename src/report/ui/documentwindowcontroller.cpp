#include "report/ui/documentwindowcontroller.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QtConcurrent>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLabel>

#include "overview/privacycatalog.h"
#include "overview/ui/overviewpage.h"
#include "report/ui/viewcontroller.h"
#include "tools/threadpools.h"
#include "ui/droppedpaths.h"
#include "ui/findbar.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

DocumentReading startReading(const host::ToolSet& tools, const QUrl& url, const QString& typeName) {
    DocumentReading reading;
    reading.url = url;
    reading.pool = new QThreadPool;
    reading.pool->setMaxThreadCount(1);
    reading.cancel = std::make_shared<std::atomic<bool>>(false);
    reading.read = QtConcurrent::run(reading.pool, [tools, cancel = reading.cancel, url, typeName] {
        auto read = std::make_shared<Document>();
        read->readFromURL(url, typeName, tools, cancel);
        // The report names services from the catalog: read here, it spares the window's
        // thread the parse before its first paint.
        static_cast<void>(overview::PrivacyCatalog::builtIn());
        return read;
    });
    return reading;
}

DocumentWindowController::DocumentWindowController(host::ToolSet toolSet, QWidget* parent)
    : QMainWindow(parent), tools(std::move(toolSet)), content(new ViewController(tools, this)) {
    setCentralWidget(content);
    ReportTextView* text = content->outputTextbox;
    // Copy and Select All act where the user is: a list beside the report, the verdict's
    // selected text, or else the report.
    const auto focusedView = [] {
        return qobject_cast<QAbstractItemView*>(QApplication::focusWidget());
    };
    WindowActions more{
        .copy =
            [text, focusedView] {
                if (QAbstractItemView* view = focusedView()) {
                    copySelectedRows(*view);
                } else if (auto* label = qobject_cast<QLabel*>(QApplication::focusWidget());
                           label && label->hasSelectedText()) {
                    QApplication::clipboard()->setText(label->selectedText());
                } else {
                    text->copy();
                }
            },
        .selectAll =
            [text, focusedView] {
                if (QAbstractItemView* view = focusedView())
                    view->selectAll();
                else
                    text->selectAll();
            },
        .actualSize = [this] { content->resetFontSize(); }};
    more.compareWith = [this] { emit compareWithRequested(); };
    more.exportPrivacyProfile = [this] { content->exportPrivacyProfile(); };
    findThrough(more, content->findBar);
    file = addWindowMenus(*this, content, &ViewController::saveButton, &ViewController::incFontSize,
                          &ViewController::decFontSize, more);
    // Only an app has a profile, and only once its components are read.
    QAction* exportProfile = exportPrivacyProfileItem(*menuBar());
    exportProfile->setEnabled(false);
    connect(content, &ViewController::overviewRead, exportProfile,
            [exportProfile] { exportProfile->setEnabled(true); });
    connect(new ItemDrops(*this), &ItemDrops::itemsDropped, this,
            &DocumentWindowController::itemsDropped);
    setAttribute(Qt::WA_DeleteOnClose);
    fitToScreen(*this, {760, 680});
}

DocumentWindowController::~DocumentWindowController() {
    stopReading();
}

void DocumentWindowController::setDocument(std::shared_ptr<Document> document,
                                           const QString& title) {
    doc = std::move(document);
    setTitle(title);
    setWindowFilePath(doc && doc->theInfo ? doc->theInfo->path() : QString());
}

void DocumentWindowController::setTitle(const QString& title) {
    itemTitle = title;
    setWindowTitle(distinctTitle.isEmpty() ? title : distinctTitle);
}

void DocumentWindowController::setDistinctTitle(const QString& title) {
    distinctTitle = title;
    setWindowTitle(title.isEmpty() ? itemTitle : title);
}

void DocumentWindowController::readDocument(const QUrl& url, const QString& typeName,
                                            const QString& title) {
    readDocument(startReading(tools, url, typeName), title);
}

void DocumentWindowController::readDocument(DocumentReading started, const QString& title) {
    stopReading();
    readingPool = started.pool;
    readingCancel = started.cancel;
    reading = true;
    exportPrivacyProfileItem(*menuBar())->setEnabled(false);
    setTitle(title);
    setWindowFilePath(started.url.toLocalFile());
    content->showReading();
    host::whenFinished(this, std::move(started.read),
                       [this, title](std::shared_ptr<Document> read) {
                           reading = false;
                           setDocument(std::move(read), title);
                           content->documentArrived();
                           emit documentRead();
                       });
}

void DocumentWindowController::stopReading() {
    if (readingCancel) readingCancel->store(true);
    host::retirePool(std::exchange(readingPool, nullptr));
}

void DocumentWindowController::closeEvent(QCloseEvent* event) {
    // Nobody will read what the tools still have to say.
    content->cancelFlag()->store(true);
    if (readingCancel) readingCancel->store(true);
    QMainWindow::closeEvent(event);
}

}  // namespace varko
