#include "overview/ui/verdictbar.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStyle>
#include <QVBoxLayout>

#include "overview/ui/overviewtexts.h"
#include "overview/ui/tristateicon.h"

namespace varko {

using overview::Tri;

namespace {

QLabel* plainLabel(QWidget* parent, bool selectable) {
    auto* label = new QLabel(parent);
    // Names come from the bundle: markup in them must show as characters.
    label->setTextFormat(Qt::PlainText);
    if (selectable) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // Focused by a click, for keyboard selection and copying, but no Tab stop: Tab goes
        // to what the user acts on.
        label->setFocusPolicy(Qt::ClickFocus);
    }
    return label;
}

void setTextKeepingSelection(QLabel* label, const QString& text) {
    // Setting a label's text clears its selection even when nothing changed.
    if (label->text() != text) label->setText(text);
}

}  // namespace

VerdictBar::VerdictBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setAccessibleName(tr("Verdict"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* outer = new QVBoxLayout(this);
    grid = new QGridLayout;
    outer->addLayout(grid);
    outer->addStretch(1);
    // Two rows of findings side by side: the bar must leave the findings and report room
    // on a laptop screen.
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(5, 1);
    grid->setHorizontalSpacing(style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) + 2);

    headline.icon = plainLabel(this, false);
    headline.text = plainLabel(this, true);
    headline.text->setObjectName("verdictHeadline");
    QFont big = headline.text->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    headline.text->setFont(big);

    checking = plainLabel(this, false);
    checking->setObjectName("verdictChecking");
    checking->setText(tr("Checking…"));
    // Set apart by its colour, not by italics: the italic face is one more font file to
    // find and open before the window's first paint.
    checking->setForegroundRole(QPalette::PlaceholderText);
    busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMaximumWidth(fontMetrics().averageCharWidth() * 10);
    busy->setMaximumHeight(fontMetrics().height() / 2 + 2);
    busy->setAccessibleName(tr("Checking"));

    auto* head = new QHBoxLayout;
    head->addWidget(headline.text);
    head->addStretch(1);
    head->addWidget(checking);
    head->addWidget(busy);
    const int headIcon = style()->pixelMetric(QStyle::PM_LargeIconSize);
    headline.icon->setFixedSize(headIcon, headIcon);
    grid->addWidget(headline.icon, 0, 0, Qt::AlignTop);
    grid->addLayout(head, 0, 1, 1, 5);

    // The answer the user came for, beside the verdict rather than a tab away.
    mayUse.label = plainLabel(this, false);
    mayUse.label->setText(tr("May use"));
    QFont bold = mayUse.label->font();
    bold.setBold(true);
    mayUse.label->setFont(bold);
    mayUse.text = plainLabel(this, true);
    mayUse.text->setObjectName("verdictMayUse");
    mayUse.text->setWordWrap(true);
    mayUse.text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(mayUse.label, 1, 1, Qt::AlignTop);
    grid->addWidget(mayUse.text, 1, 2, 1, 4, Qt::AlignTop);
    setMayUse({});
    setLines({}, overview::Verdict::State::unknown, false);
}

VerdictBar::Row VerdictBar::makeRow(int at) {
    Row row;
    row.icon = plainLabel(this, false);
    row.label = plainLabel(this, false);
    row.text = plainLabel(this, true);
    row.text->setWordWrap(true);
    // A long name without spaces must wrap too instead of widening the window.
    row.text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row.text->setMinimumWidth(fontMetrics().averageCharWidth() * 20);
    QFont bold = row.label->font();
    bold.setBold(true);
    row.label->setFont(bold);
    const int line = 2 + at / 2, column = at % 2 * 3;
    grid->addWidget(row.icon, line, column, Qt::AlignTop);
    grid->addWidget(row.label, line, column + 1, Qt::AlignTop);
    grid->addWidget(row.text, line, column + 2, Qt::AlignTop);
    return row;
}

void VerdictBar::setLines(const std::vector<overview::VerdictLine>& lines,
                          overview::Verdict::State state, bool complete) {
    setTextKeepingSelection(headline.text, verdictWords(state));
    showState(headline, verdictTri(state));
    checking->setVisible(!complete);
    busy->setVisible(!complete);

    while (rows.size() > lines.size()) {
        const Row row = rows.back();
        rows.pop_back();
        delete row.icon;
        delete row.label;
        delete row.text;
    }
    while (rows.size() < lines.size()) rows.push_back(makeRow(int(rows.size())));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Row& row = rows[i];
        setTextKeepingSelection(row.label, shownText(lines[i].label));
        // The text wraps where the bundle's own words do not: only control characters
        // become visible, so that a line feed cannot fake a line of the verdict.
        setTextKeepingSelection(row.text, shownText(lines[i].text));
        // The exact reason behind plain words is a pointer's rest away, and read out.
        row.detail = shownText(lines[i].detail);
        showState(row, lines[i].state);
        // A name replaces a label's text for assistive technology: it must hold both.
        row.text->setAccessibleName(row.label->text() + QStringLiteral(": ") + row.text->text());
        row.text->setAccessibleDescription(
            row.detail.isEmpty() ? triWords(lines[i].state)
                                 : triWords(lines[i].state) + QStringLiteral(". ") + row.detail);
    }
}

void VerdictBar::showState(Row& row, Tri state) {
    row.state = state;
    const int side = row.icon == headline.icon ? style()->pixelMetric(QStyle::PM_LargeIconSize)
                                               : style()->pixelMetric(QStyle::PM_SmallIconSize);
    row.icon->setPixmap(triIcon(state, palette()).pixmap(QSize(side, side), devicePixelRatioF()));
    row.icon->setToolTip(triWords(state));
    row.icon->setAccessibleName(triWords(state));
    QLabel* coloured = row.label != nullptr ? row.label : row.text;
    QPalette shade = coloured->palette();
    // Labels on the bar's base background draw with the Text role, others with WindowText.
    shade.setColor(QPalette::WindowText, triColor(state, palette()));
    shade.setColor(QPalette::Text, triColor(state, palette()));
    coloured->setPalette(shade);
    const QString note = row.label ? labelNotes.value(row.label->text()) : QString();
    coloured->setToolTip(note.isEmpty() ? triWords(state) : plainToolTip({triWords(state), note}));
    if (row.text != nullptr && row.label != nullptr)
        row.text->setToolTip(row.detail.isEmpty() ? QString() : plainToolTip({row.detail}));
}

void VerdictBar::recolour() {
    if (headline.icon == nullptr) return;  // still being built
    showState(headline, headline.state);
    for (Row& row : rows) showState(row, row.state);
}

void VerdictBar::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    // A switch between light and dark appearance changes which shades keep their contrast.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) recolour();
}

void VerdictBar::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Copy Verdict"), this,
                   [this] { QApplication::clipboard()->setText(text()); });
    menu.exec(event->globalPos());
}

void VerdictBar::setLabelNote(const QString& label, const QString& note) {
    labelNotes.insert(label, note);
    recolour();
}

void VerdictBar::setInstalls(const QString& text) {
    setMayUse(text);
    mayUse.label->setText(tr("Installs"));
    mayUse.text->setAccessibleName(mayUse.label->text() + QStringLiteral(": ") + text);
}

void VerdictBar::setMayUse(const QString& text) {
    mayUse.label->setText(tr("May use"));
    setTextKeepingSelection(mayUse.text, text);
    mayUse.text->setAccessibleName(mayUse.label->text() + QStringLiteral(": ") + text);
    mayUse.label->setVisible(!text.isEmpty());
    mayUse.text->setVisible(!text.isEmpty());
}

QString VerdictBar::text() const {
    QStringList out{headline.text->text()};
    if (!mayUse.text->isHidden())
        out << QStringLiteral("%1: %2").arg(mayUse.label->text(), mayUse.text->text());
    for (const Row& row : rows) {
        out << QStringLiteral("%1: %2 (%3)")
                   .arg(row.label->text(), row.text->text(), triWords(row.state));
        if (!row.detail.isEmpty()) out.back() += QStringLiteral(" [%1]").arg(row.detail);
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool VerdictBar::isChecking() const {
    return !checking->isHidden();
}

}  // namespace varko
