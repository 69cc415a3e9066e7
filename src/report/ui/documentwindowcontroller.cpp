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

#include "overview/ui/overviewpage.h"
#include "report/ui/viewcontroller.h"
#include "tools/threadpools.h"
#include "ui/droppedpaths.h"
#include "ui/findbar.h"
#include "ui/windowmenus.h"
#include "ui/windowplacement.h"

namespace varko {

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
    findThrough(more, content->findBar);
    file = addWindowMenus(*this, content, &ViewController::saveButton, &ViewController::incFontSize,
                          &ViewController::decFontSize, more);
    connect(new ItemDrops(*this), &ItemDrops::itemsDropped, this,
            &DocumentWindowController::itemsDropped);
    setAttribute(Qt::WA_DeleteOnClose);
    fitToScreen(*this, {760, 680});
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
    reading = true;
    setTitle(title);
    setWindowFilePath(url.toLocalFile());
    content->showReading();
    auto reader = [tools = tools, cancel = content->cancelFlag(), url, typeName] {
        auto read = std::make_shared<Document>();
        read->readFromURL(url, typeName, tools, cancel);
        return read;
    };
    host::whenFinished(this, QtConcurrent::run(content->processingQueue, std::move(reader)),
                       [this, title](std::shared_ptr<Document> read) {
                           reading = false;
                           setDocument(std::move(read), title);
                           content->documentArrived();
                           emit documentRead();
                       });
}

void DocumentWindowController::closeEvent(QCloseEvent* event) {
    // Nobody will read what the tools still have to say.
    content->cancelFlag()->store(true);
    QMainWindow::closeEvent(event);
}

}  // namespace varko
