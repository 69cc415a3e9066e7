#include "report/reporttext.h"

#include <algorithm>

namespace varko {

namespace {

// QTextCursor::insertText makes a block of these, and a layout draws U+FFFC as an
// object; none of them would come back out of the view as it went in.
QChar standIn(QChar c) {
    switch (c.unicode()) {
        case u'\r':
            return QChar(0x240D);
        case 0xFDD0:
        case 0xFDD1:
        case 0xFFFC:
            return QChar::ReplacementCharacter;
        default:
            return c;
    }
}

}  // namespace

QString ReportText::append(const QString& text) {
    QString shown;
    shown.reserve(std::min(text.size(), 4 * maxShownLineLength));
    // Copied whole and mended in place: a report of megabytes has few such characters.
    const auto copy = [&](qsizetype from, qsizetype to) {
        const qsizetype at = shown.size();
        shown += QStringView(text).mid(from, to - from);
        for (QChar* c = shown.data() + at; c != shown.data() + shown.size(); ++c) *c = standIn(*c);
    };
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        const qsizetype length = end - start - (text[end - 1] == u'\n' ? 1 : 0);
        if (length <= maxShownLineLength) {
            copy(start, end);
        } else {
            qsizetype keep = maxShownLineLength;
            // A cut never splits a character that takes two UTF-16 units.
            if (text[start + keep - 1].isHighSurrogate()) --keep;
            copy(start, start + keep);
            const QString note =
                QStringLiteral(" … [%1 more characters are not shown here; Save Report keeps them]")
                    .arg(length - keep);
            cuts.push_back({view.size() + shown.size(), note.size(), exact.size() + start + keep,
                            length - keep});
            shown += note;
            copy(start + length, end);
        }
        start = end;
    }
    exact += text;
    view += shown;
    return shown;
}

void ReportText::clear() {
    exact.clear();
    view.clear();
    cuts.clear();
}

qsizetype ReportText::exactPosition(qsizetype shownPosition, bool roundUp) const {
    shownPosition = std::clamp<qsizetype>(shownPosition, 0, view.size());
    // The last cut whose note starts at or before the position.
    const auto after =
        std::upper_bound(cuts.begin(), cuts.end(), shownPosition,
                         [](qsizetype pos, const Cut& cut) { return pos < cut.shownStart; });
    if (after == cuts.begin()) return shownPosition;
    const Cut& cut = *(after - 1);
    const qsizetype noteEnd = cut.shownStart + cut.shownLength;
    if (shownPosition == cut.shownStart) return cut.exactStart;
    if (shownPosition < noteEnd) return roundUp ? cut.exactStart + cut.exactLength : cut.exactStart;
    return cut.exactStart + cut.exactLength + (shownPosition - noteEnd);
}

QString ReportText::exactText(qsizetype from, qsizetype to) const {
    if (to <= from) return {};
    const qsizetype start = exactPosition(from, false);
    return exact.mid(start, exactPosition(to, true) - start);
}

QString shownForm(const QString& text) {
    ReportText report;
    return report.append(text);
}

}  // namespace varko
