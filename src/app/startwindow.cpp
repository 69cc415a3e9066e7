#include "app/startwindow.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/documentcontroller.h"
#include "app/helpwindowcontroller.h"
#include "report/ui/documentwindowcontroller.h"
#include "tools/utf8.h"
#include "ui/droppedpaths.h"

namespace varko {

namespace {

constexpr int pathRole = Qt::UserRole;

bool isReturn(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

/// Return does what a click does: on a recent item it opens it, on a button it presses
/// it. Tool buttons take only Space, and a list's own activation also fires on
/// double-clicks.
class ReturnActs final : public QObject {
public:
    ReturnActs(QListWidget* list, std::function<void(QListWidgetItem*)> open)
        : QObject(list), list(list), open(std::move(open)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isReturn(event)) return false;
        if (watched == list) {
            if (!list->currentItem()) return false;
            open(list->currentItem());
            return true;
        }
        auto* button = qobject_cast<QToolButton*>(watched);
        if (!button || !button->isEnabled()) return false;
        button->animateClick();
        return true;
    }

private:
    QListWidget* list;
    std::function<void(QListWidgetItem*)> open;
};

/// "Name.app — ~/Downloads": the folder tells two items of one name apart.
QString recentItemText(const QString& path) {
    const QFileInfo info(path);
    QString folder = info.absolutePath();
    const QString home = QDir::homePath();
    if (folder == home || folder.startsWith(home + QLatin1Char('/')))
        folder = QLatin1Char('~') + folder.mid(home.size());
    // Names are the item's maker's; they must not break the line or hide its end.
    return host::visibleControls(info.fileName()) + QStringLiteral(" — ") +
           host::visibleControls(folder);
}

}  // namespace

StartWindow::StartWindow(DocumentController& documentController, QAction* open,
                         QAction* openLogBrowser, QWidget* parent)
    : QMainWindow(parent), documents(documentController) {
    setWindowTitle(QStringLiteral("Varko"));
    setAttribute(Qt::WA_DeleteOnClose);
    connect(new ItemDrops(*this), &ItemDrops::itemsDropped, &documents,
            &DocumentController::openDocuments);

    auto* closeAction = new QAction(tr("&Close"), this);
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    file = addInertWindowMenus(*menuBar(), closeAction);

    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    auto* intro = new QLabel(tr("Open an app or an installer package to see what it declares "
                                "about your privacy and how it is signed."),
                             content);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* buttons = new QHBoxLayout;
    openButton = new QToolButton(content);
    openButton->setDefaultAction(open);
    logBrowserButton = new QToolButton(content);
    logBrowserButton->setDefaultAction(openLogBrowser);
    for (QToolButton* button : {openButton, logBrowserButton}) {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);

    layout->addWidget(new QLabel(tr("Recent items"), content));
    recentList = new QListWidget(content);
    recentList->setUniformItemSizes(true);
    recentList->setTextElideMode(Qt::ElideMiddle);
    noRecent = new QLabel(tr("No recent items"), content);
    noRecent->setAlignment(Qt::AlignCenter);
    noRecent->setEnabled(false);
    layout->addWidget(recentList, 1);
    layout->addWidget(noRecent, 1);
    const auto openItem = [this](QListWidgetItem* item) {
        if (item) documents.openDocument(item->data(pathRole).toString());
    };
    connect(recentList, &QListWidget::itemClicked, this, openItem);
    auto* returnActs = new ReturnActs(recentList, openItem);
    for (QWidget* target : {static_cast<QWidget*>(recentList), static_cast<QWidget*>(openButton),
                            static_cast<QWidget*>(logBrowserButton)})
        target->installEventFilter(returnActs);

    dropZone = new QLabel(tr("Drop an app or installer package here"), content);
    dropZone->setAlignment(Qt::AlignCenter);
    dropZone->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    dropZone->setMinimumHeight(80);
    layout->addWidget(dropZone);

    // What the launch found amiss: said here, where the user looks, without stopping them.
    notice = new QLabel(content);
    notice->setObjectName(QStringLiteral("launchNotice"));
    notice->setTextFormat(Qt::PlainText);
    notice->setWordWrap(true);
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice->setFrameShape(QFrame::StyledPanel);
    notice->setMargin(notice->fontMetrics().height() / 3);
    notice->hide();
    layout->insertWidget(1, notice);
    setCentralWidget(content);

    fillRecentList();
    // The newest item is one Return away; Down and Up walk the list, not the buttons.
    if (!recentList->isHidden()) recentList->setFocus();
    connect(&documents, &DocumentController::recentDocumentsChanged, this,
            &StartWindow::fillRecentList);
    // Its work is done once the user has something open.
    connect(&documents, &DocumentController::documentShown, this, &QWidget::close);
    resize(480, 440);
}

void StartWindow::showNotice(const QString& text) {
    notice->setText(text);
    notice->setAccessibleName(text);
    notice->setVisible(!text.isEmpty());
}

void StartWindow::fillRecentList() {
    recentList->clear();
    const QStringList recent = documents.recentDocuments();
    for (const QString& path : recent) {
        auto* item = new QListWidgetItem(recentItemText(path), recentList);
        item->setData(pathRole, path);
        item->setToolTip(host::visibleControls(path));
    }
    recentList->setVisible(!recent.isEmpty());
    noRecent->setVisible(recent.isEmpty());
    if (!recent.isEmpty()) recentList->setCurrentRow(0);
}

}  // namespace varko
