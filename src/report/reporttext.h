#pragma once

#include <QString>
#include <vector>

namespace varko {

/// The longest line the report view shows whole; laying out a longer one (a
/// stranger's megabyte of text with no break) would hold the window for minutes.
inline constexpr qsizetype maxShownLineLength = 10000;

/// The report's exact characters, kept apart from the form in which the view shows
/// them, which is what Save Report writes and Copy copies. The shown form has one
/// character for each of the report's, so that positions in the two correspond, with
/// two exceptions:
/// - a line longer than `maxShownLineLength` is cut there, with a note in place of
///   the rest;
/// - a character that a text view would turn into another shows as a visible stand-in
///   of its own: a carriage return as U+240D (a view would break the line there, and
///   swallow the line feed after it), and the view's frame marks and object
///   placeholder (U+FDD0, U+FDD1, U+FFFC) as U+FFFD.
class ReportText final {
public:
    /// Adds `text` at the end; returns its shown form, which goes at the end of the view.
    QString append(const QString& text);
    void clear();

    /// Every character appended, exactly.
    [[nodiscard]] const QString& text() const { return exact; }
    /// Everything appended, as the view shows it.
    [[nodiscard]] const QString& shown() const { return view; }
    /// The exact characters behind shown positions [from, to). A range that takes in
    /// part of a cut's note takes in all that the note stands for.
    [[nodiscard]] QString exactText(qsizetype from, qsizetype to) const;
    /// The position in the exact text of shown position `shownPosition`; inside a
    /// note, the start of what it stands for, or with `roundUp` its end.
    [[nodiscard]] qsizetype exactPosition(qsizetype shownPosition, bool roundUp = false) const;

private:
    /// A note in the shown form in place of a cut line's rest.
    struct Cut {
        qsizetype shownStart, shownLength, exactStart, exactLength;
    };

    QString exact;
    QString view;
    std::vector<Cut> cuts;  ///< in order of position
};

/// `text` as the view shows it (`ReportText::append` on its own).
[[nodiscard]] QString shownForm(const QString& text);

}  // namespace varko
