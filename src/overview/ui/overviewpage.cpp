#include "overview/ui/overviewpage.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "overview/ui/overviewtexts.h"

namespace varko {

OverviewPage::OverviewPage(QAbstractItemView* view, QWidget* parent)
    : QWidget(parent), noteLabel(new QLabel(this)) {
    noteLabel->setTextFormat(Qt::PlainText);
    noteLabel->setWordWrap(true);
    noteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    noteLabel->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(noteLabel);
    layout->addWidget(view, 1);
}

void OverviewPage::setNote(const QString& text) {
    noteLabel->setText(text);
    noteLabel->setVisible(!text.isEmpty());
}

QString OverviewPage::note() const {
    return noteLabel->text();
}

namespace {

/// The first of the walk's problems, and how many more there are.
QString walkProblems(const overview::Overview& overview) {
    QString text = shownText(overview.problems.front());
    if (overview.problems.size() > 1)
        text += QCoreApplication::translate("Overview", " (and %n more)", nullptr,
                                            int(overview.problems.size() - 1));
    return text;
}

}  // namespace

QString componentsNote(const overview::Overview& overview) {
    if (overview.problem)
        return QCoreApplication::translate("Overview", "The bundle's code could not be listed: %1")
            .arg(shownText(overview.problem->message));
    QStringList notes;
    if (overview.componentsCut)
        notes << QCoreApplication::translate(
                     "Overview",
                     "Only part of the bundle's code is listed: the list stops at %1 components "
                     "and %2 levels of nesting.")
                     .arg(overview::maxComponents)
                     .arg(overview::maxNesting);
    if (!overview.problems.empty())
        notes << QCoreApplication::translate("Overview", "Code may be missing from the list: %1.")
                     .arg(walkProblems(overview));
    return notes.join(u' ');
}

QString privacyNote(const overview::Overview& overview) {
    QStringList notes;
    if (overview.componentsCut)
        notes << QCoreApplication::translate(
                     "Overview",
                     "This list may be incomplete: the bundle holds more code than is read "
                     "(%1 pieces, %2 levels of nesting), and the rest may use more services.")
                     .arg(overview::maxComponents)
                     .arg(overview::maxNesting);
    if (!overview.problems.empty())
        notes << QCoreApplication::translate(
                     "Overview",
                     "This list may be incomplete: code that could not be read may use more "
                     "services (%1).")
                     .arg(walkProblems(overview));
    if (overview.manifestsCut)
        notes << QCoreApplication::translate(
            "Overview",
            "Not every privacy manifest is shown: together they pass what one app is read for.");
    return notes.join(u' ');
}

void copySelectedRows(const QAbstractItemView& view) {
    const QItemSelectionModel* selection = view.selectionModel();
    if (selection == nullptr || view.model() == nullptr) return;
    QModelIndexList picked = selection->selectedRows();
    // Rows come in the order they were selected: put them in the order shown.
    std::sort(picked.begin(), picked.end(), [&](const QModelIndex& a, const QModelIndex& b) {
        return view.visualRect(a).top() < view.visualRect(b).top();
    });
    QStringList lines;
    for (const QModelIndex& row : picked) {
        QStringList cells;
        for (int column = 0; column < view.model()->columnCount(row.parent()); ++column)
            cells << row.siblingAtColumn(column).data().toString();
        lines << cells.join(QLatin1Char('\t'));
    }
    if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + '\n');
}

}  // namespace varko
