#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "logs/loglist.h"

namespace varko::unifiedlog {

/// Which of the four categories are shown: TCC, launch services, securityd, other.
struct CategoryFilter {
    bool tcc = true, launchServices = true, securityd = true, other = true;

    [[nodiscard]] bool shows(LogCategory type) const {
        switch (type) {
            case LogCategory::Tcc:
                return tcc;
            case LogCategory::LaunchServices:
                return launchServices;
            case LogCategory::Securityd:
                return securityd;
            case LogCategory::Other:
                break;
        }
        return other;
    }
};

/// One stretch of a line in one colour and size.
struct LineSegment {
    QString text;
    LineColour colour = LineColour::Text;
    double fontSize = 12;
};

/// The content of the log window's output view: the lines of the entries that the
/// filter lets through, then any message text; or message text alone. It keeps
/// indices, not text, so a million entries redisplay in milliseconds, and it
/// answers for any visual line (the text between two line feeds) what it shows.
class LogDisplay final {
public:
    /// Replaces everything with the entries of `list` that `filter` shows.
    void showEntries(std::shared_ptr<const LogList> list, CategoryFilter filter, double fontSize);
    /// Replaces everything with `text` in the plain message style.
    void setMessage(const QString& text, double fontSize);
    /// Adds `text` in the plain message style at the end.
    void appendMessage(const QString& text, double fontSize);

    /// Entries shown, as indices into the list's children.
    [[nodiscard]] const std::vector<std::uint32_t>& shownEntries() const { return shown; }
    [[nodiscard]] const LogList* list() const { return entries.get(); }
    [[nodiscard]] double entryFontSize() const { return entrySize; }

    /// Visual lines: entry lines first, then message lines.
    [[nodiscard]] qsizetype lineCount() const {
        return entryLineCount() + qsizetype(messageLines.size());
    }
    [[nodiscard]] qsizetype entryLineCount() const {
        return firstLines.empty() ? 0 : qsizetype(firstLines.back());
    }
    /// The segments of visual line `line`, without its line feed.
    [[nodiscard]] std::vector<LineSegment> line(qsizetype line) const;
    /// The category of the entry that visual line `line` belongs to; none for a message line.
    [[nodiscard]] std::optional<LogCategory> category(qsizetype line) const;
    /// Whether visual line `line` ends with a line feed.
    [[nodiscard]] bool endsWithLineFeed(qsizetype line) const;
    /// The longest visual line in UTF-16 units, for the view's width.
    [[nodiscard]] qsizetype longestLine() const;

    /// Where a visual line lies in the entries: which child of the list, and which of
    /// its lines. Survives a change of filter or size, which line numbers do not.
    struct Place {
        std::uint32_t entry = 0;
        std::uint32_t part = 0;
    };
    /// The place of visual line `line`; none for a message line or past the end.
    [[nodiscard]] std::optional<Place> placeOf(qsizetype line) const;
    /// The visual line of `place`. An entry that is not shown gives the first line
    /// of the next shown entry, or of the last one when none follows, if `nearest`;
    /// otherwise -1. -1 too when no entry is shown.
    [[nodiscard]] qsizetype lineOf(Place place, bool nearest) const;
    /// The first visual line from `from` on (or back, unless `forward`) that holds
    /// `needle` ignoring case, going round past either end; -1 when none does.
    [[nodiscard]] qsizetype find(QStringView needle, qsizetype from, bool forward) const;

    /// The exact text of visual lines `first` to `last`, with their line feeds.
    [[nodiscard]] QString text(qsizetype first, qsizetype last) const;
    /// All of the text.
    [[nodiscard]] QString text() const {
        return lineCount() == 0 ? QString() : text(0, lineCount() - 1);
    }

    /// The whole content as styled runs in order, for saving: each shown entry's line,
    /// then each message. `visit(text, colour, fontSize)`.
    template <class Visitor>
    void forEachRun(Visitor&& visit) const {
        if (entries) {
            for (std::uint32_t index : shown) {
                const LogEntry& entry = entries->children[index];
                visit(entry.lineText(), colourForType(entry.type), entrySize);
            }
        }
        for (const auto& [text, size] : messages) visit(text, LineColour::Text, size);
    }

private:
    struct MessageLine {
        std::vector<LineSegment> segments;
        bool lineFeed = false;
    };
    void rebuildMessageLines();
    [[nodiscard]] QString entryLine(std::size_t shownIndex, std::uint32_t part) const;
    /// The index into `shown` of the entry that entry line `line` belongs to.
    [[nodiscard]] std::size_t shownIndexOf(qsizetype line) const;

    std::shared_ptr<const LogList> entries;
    std::vector<std::uint32_t> shown;
    /// firstLines[i] is the first visual line of shown[i]; one more element ends the last.
    std::vector<std::uint64_t> firstLines;
    double entrySize = 12;
    std::vector<std::pair<QString, double>> messages;
    std::vector<MessageLine> messageLines;
};

}  // namespace varko::unifiedlog
