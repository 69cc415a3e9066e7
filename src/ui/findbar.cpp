#include "ui/findbar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace varko {

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
    edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("findField"));
    edit->setPlaceholderText(tr("Find"));
    edit->setAccessibleName(tr("Find"));
    // Items dropped here are for the window to open, not text to look for.
    edit->setAcceptDrops(false);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this] { result->clear(); });

    const auto button = [this](Qt::ArrowType arrow, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setAutoRaise(true);
        return b;
    };
    QToolButton* up = button(Qt::UpArrow, tr("Find Previous"));
    QToolButton* down = button(Qt::DownArrow, tr("Find Next"));
    connect(up, &QToolButton::clicked, this, &FindBar::previous);
    connect(down, &QToolButton::clicked, this, &FindBar::next);
    auto* done = new QToolButton(this);
    done->setText(tr("Done"));
    done->setAutoRaise(true);
    connect(done, &QToolButton::clicked, this, &FindBar::dismiss);

    result = new QLabel(this);
    result->setAccessibleName(tr("Find result"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(edit, 1);
    layout->addWidget(up);
    layout->addWidget(down);
    layout->addWidget(result);
    layout->addWidget(done);
    setFocusProxy(edit);
    hide();
}

QString FindBar::text() const {
    return edit->text();
}

QString FindBar::resultText() const {
    return result->text();
}

void FindBar::activate() {
    show();
    edit->setFocus(Qt::ShortcutFocusReason);
    edit->selectAll();
}

void FindBar::next() {
    if (edit->text().isEmpty()) return activate();
    emit findNext(edit->text());
}

void FindBar::previous() {
    if (edit->text().isEmpty()) return activate();
    emit findPrevious(edit->text());
}

void FindBar::setResult(bool found) {
    result->setText(found ? QString() : tr("Not found"));
}

void FindBar::dismiss() {
    result->clear();
    hide();
    emit dismissed();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                previous();
            else
                next();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Its icon is looked up in the icon theme; every window has a bar, few show it.
    edit->setClearButtonEnabled(true);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace varko
