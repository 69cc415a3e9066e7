#include "logs/loglist.h"

namespace varko::logs {

LogList::LogList(QByteArray& bytes) {
    const auto reset = [this] {
        children.clear();
        children.shrink_to_fit();
        longestLine = 0;
    };
    const bool parsed = walkLogArray(
        bytes, [this](const LogFields* object) { if (object != nullptr) append(*object); }, reset);
    if (!parsed) reset();
}

void LogList::append(const LogFields& fields) {
    const LogEntry& entry = children.emplace_back(fields, this);
    // The first line carries the 21-character time, a space, the label and a space.
    constexpr qsizetype prefix = 21 + 1 + sourceLabelWidth + 1;
    qsizetype start = 0, longest = 0;
    const QString& m = entry.eventMessage;
    if (entry.lineFeeds == 0) {
        longest = prefix + m.size();
    } else {
        for (qsizetype i = 0; i <= m.size(); ++i) {
            if (i == m.size() || m.at(i) == u'\n') {
                longest = std::max(longest, i - start + (start == 0 ? prefix : 0));
                start = i + 1;
            }
        }
    }
    longestLine = std::max(longestLine, longest);
}

}  // namespace varko::logs
