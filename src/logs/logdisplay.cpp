#include "logs/logdisplay.h"

#include <QStringMatcher>
#include <algorithm>

namespace varko::unifiedlog {

namespace {

// The `part`-th piece of `text` between line feeds.
QStringView piece(const QString& text, std::uint32_t part) {
    qsizetype start = 0;
    for (std::uint32_t i = 0; i < part; ++i) {
        const qsizetype feed = text.indexOf(u'\n', start);
        if (feed < 0) return {};
        start = feed + 1;
    }
    const qsizetype end = text.indexOf(u'\n', start);
    return QStringView(text).mid(start, end < 0 ? -1 : end - start);
}

// Whether an entry's line holds `needle`: `piece` is its part of the message, and
// `first` says whether the time and label lead it. `head` is scratch space.
bool entryLineHas(const LogEntry& entry, QStringView piece, bool first,
                  const QStringMatcher& needle, QString& head) {
    if (needle.indexIn(piece) >= 0) return true;
    if (!first) return false;
    // A match that starts before the message starts in the time, only digits and
    // punctuation, or in the label; the time is written only when it could hold one.
    const char16_t lead = needle.pattern().front().unicode();
    const bool timeLike = (lead >= u'0' && lead <= u'9') || lead == u'-' || lead == u':' ||
                          lead == u'.' || lead == u' ';
    head.truncate(0);
    if (timeLike) head += entry.timeText() + u' ';
    head += sourceLabelText(entry.label);
    head += u' ';
    head += piece.left(needle.pattern().size() - 1);
    return needle.indexIn(head) >= 0;
}

}  // namespace

void LogDisplay::showEntries(std::shared_ptr<const LogList> list, CategoryFilter filter,
                             double fontSize) {
    entries = std::move(list);
    entrySize = fontSize;
    shown.clear();
    firstLines.clear();
    messages.clear();
    messageLines.clear();
    if (!entries) return;
    shown.reserve(entries->children.size());
    firstLines.reserve(entries->children.size() + 1);
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < entries->children.size(); ++i) {
        const LogEntry& entry = entries->children[i];
        if (!filter.shows(entry.type)) continue;
        shown.push_back(std::uint32_t(i));
        firstLines.push_back(next);
        next += std::uint64_t(entry.lineFeeds) + 1;
    }
    if (!shown.empty()) firstLines.push_back(next);
}

void LogDisplay::setMessage(const QString& text, double fontSize) {
    entries.reset();
    shown.clear();
    firstLines.clear();
    messages.clear();
    appendMessage(text, fontSize);
}

void LogDisplay::appendMessage(const QString& text, double fontSize) {
    if (text.isEmpty()) return;
    messages.emplace_back(text, fontSize);
    rebuildMessageLines();
}

void LogDisplay::rebuildMessageLines() {
    // Entry lines always end with a line feed, so messages start on a line of their own.
    messageLines.clear();
    MessageLine current;
    for (const auto& [text, size] : messages) {
        qsizetype start = 0;
        while (start <= text.size()) {
            const qsizetype feed = text.indexOf(u'\n', start);
            const qsizetype end = feed < 0 ? text.size() : feed;
            if (end > start)
                current.segments.push_back({text.mid(start, end - start), LineColour::Text, size});
            if (feed < 0) break;
            current.lineFeed = true;
            if (current.segments.empty())
                current.segments.push_back({QString(), LineColour::Text, size});
            messageLines.push_back(std::move(current));
            current = {};
            start = feed + 1;
        }
    }
    if (!current.segments.empty()) messageLines.push_back(std::move(current));
}

QString LogDisplay::entryLine(std::size_t shownIndex, std::uint32_t part) const {
    const LogEntry& entry = entries->children[shown[shownIndex]];
    if (part > 0) return piece(entry.eventMessage, part).toString();
    QString text = entry.timeText();
    text += u' ';
    text += entry.subsystem();
    text += u' ';
    text += piece(entry.eventMessage, 0);
    return text;
}

std::size_t LogDisplay::shownIndexOf(qsizetype lineIndex) const {
    const auto it =
        std::upper_bound(firstLines.begin(), firstLines.end(), std::uint64_t(lineIndex)) - 1;
    return std::size_t(it - firstLines.begin());
}

std::vector<LineSegment> LogDisplay::line(qsizetype lineIndex) const {
    if (lineIndex < 0 || lineIndex >= lineCount()) return {};
    if (lineIndex >= entryLineCount())
        return messageLines[std::size_t(lineIndex - entryLineCount())].segments;
    const std::size_t shownIndex = shownIndexOf(lineIndex);
    const LogEntry& entry = entries->children[shown[shownIndex]];
    return {
        {entryLine(shownIndex, std::uint32_t(std::uint64_t(lineIndex) - firstLines[shownIndex])),
         colourForType(entry.type), entrySize}};
}

std::optional<LogCategory> LogDisplay::category(qsizetype lineIndex) const {
    if (lineIndex < 0 || lineIndex >= entryLineCount()) return std::nullopt;
    return entries->children[shown[shownIndexOf(lineIndex)]].type;
}

bool LogDisplay::endsWithLineFeed(qsizetype lineIndex) const {
    if (lineIndex < 0 || lineIndex >= lineCount()) return false;
    if (lineIndex < entryLineCount()) return true;
    return messageLines[std::size_t(lineIndex - entryLineCount())].lineFeed;
}

qsizetype LogDisplay::longestLine() const {
    qsizetype longest = entries && !shown.empty() ? entries->longestLine : 0;
    for (const MessageLine& l : messageLines) {
        qsizetype length = 0;
        for (const LineSegment& s : l.segments) length += s.text.size();
        longest = std::max(longest, length);
    }
    return longest;
}

std::optional<LogDisplay::Place> LogDisplay::placeOf(qsizetype lineIndex) const {
    if (lineIndex < 0 || lineIndex >= entryLineCount()) return std::nullopt;
    const std::size_t shownIndex = shownIndexOf(lineIndex);
    return Place{shown[shownIndex],
                 std::uint32_t(std::uint64_t(lineIndex) - firstLines[shownIndex])};
}

qsizetype LogDisplay::lineOf(Place place, bool nearest) const {
    if (shown.empty()) return -1;
    const auto it = std::lower_bound(shown.begin(), shown.end(), place.entry);
    if (it != shown.end() && *it == place.entry) {
        const std::size_t i = std::size_t(it - shown.begin());
        const std::uint64_t lines = firstLines[i + 1] - firstLines[i];
        return qsizetype(firstLines[i] + std::min<std::uint64_t>(place.part, lines - 1));
    }
    if (!nearest) return -1;
    // The entry that now takes the hidden one's place, else the one just before it.
    return qsizetype(it != shown.end() ? firstLines[std::size_t(it - shown.begin())]
                                       : firstLines[shown.size() - 1]);
}

qsizetype LogDisplay::find(QStringView needle, qsizetype from, bool forward) const {
    const qsizetype count = lineCount();
    if (needle.isEmpty() || count == 0) return -1;
    const qsizetype entryLines = entryLineCount();
    const auto wrap = [count](qsizetype line) { return ((line % count) + count) % count; };
    const QStringMatcher matcher(needle, Qt::CaseInsensitive);
    QString head;
    qsizetype at = wrap(from);
    // Entry by entry, so that a message is split into its lines once, not once a line.
    for (qsizetype visited = 0; visited < count;) {
        if (at >= entryLines) {
            QString text;
            for (const LineSegment& segment : line(at)) text += segment.text;
            if (matcher.indexIn(text) >= 0) return at;
            ++visited;
            at = wrap(at + (forward ? 1 : -1));
            continue;
        }
        const std::size_t i = shownIndexOf(at);
        const LogEntry& entry = entries->children[shown[i]];
        const qsizetype first = qsizetype(firstLines[i]);
        const qsizetype last = qsizetype(firstLines[i + 1]) - 1;
        const QList<QStringView> pieces = entry.lineFeeds == 0
                                              ? QList<QStringView>{QStringView(entry.eventMessage)}
                                              : QStringView(entry.eventMessage).split(u'\n');
        for (; at >= first && at <= last && visited < count; at += forward ? 1 : -1, ++visited) {
            const qsizetype part = at - first;
            const QStringView piece = part < pieces.size() ? pieces[part] : QStringView();
            if (entryLineHas(entry, piece, part == 0, matcher, head)) return at;
        }
        at = wrap(at);
    }
    return -1;
}

QString LogDisplay::text(qsizetype first, qsizetype last) const {
    first = std::max<qsizetype>(first, 0);
    last = std::min(last, lineCount() - 1);
    QString out;
    for (qsizetype i = first; i <= last; ++i) {
        for (const LineSegment& segment : line(i)) out += segment.text;
        if (endsWithLineFeed(i)) out += u'\n';
    }
    return out;
}

}  // namespace varko::unifiedlog
