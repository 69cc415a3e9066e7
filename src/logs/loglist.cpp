#include "logs/loglist.h"

#include <algorithm>
#include <thread>

#include "concurrency/work.h"

namespace varko::unifiedlog {

namespace {

// The entries one run of the parse made, in order.
struct Run {
    std::vector<LogEntry> entries;
    qsizetype longestLine = 0;
};

// The longest line of an entry, in UTF-16 units; the first carries the time, the
// label and two spaces.
qsizetype longestLineOf(const LogEntry& entry) {
    constexpr qsizetype prefix = 21 + 1 + sourceLabelWidth + 1;
    const QString& m = entry.eventMessage;
    if (entry.lineFeeds == 0) return prefix + m.size();
    qsizetype start = 0, longest = 0;
    for (qsizetype i = 0; i <= m.size(); ++i) {
        if (i == m.size() || m.at(i) == u'\n') {
            longest = std::max(longest, i - start + (start == 0 ? prefix : 0));
            start = i + 1;
        }
    }
    return longest;
}

}  // namespace

ParallelRunner poolRunner(unsigned helpers) {
    return [helpers](const std::function<void()>& work) {
        runShared(Work::current(), helpers + 1, work);
    };
}

LogList::LogList(const QByteArray& bytes) {
    LogSlicedWalk walk(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    std::vector<Run> runs(walk.runCount());
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1U, 8U);
    const auto visit = [&](std::size_t run, const LogFields* object) {
        if (object == nullptr) return;
        Run& r = runs[run];
        const LogEntry& entry = r.entries.emplace_back(*object, this);
        r.longestLine = std::max(r.longestLine, longestLineOf(entry));
    };
    summary = walk.walk(visit, poolRunner(cores - 1));

    // Runs walked for nothing go first, so that they are not held while the rest moves.
    std::vector<bool> kept(runs.size());
    for (std::size_t run : walk.order()) kept[run] = true;
    std::size_t total = 0;
    for (std::size_t run = 0; run < runs.size(); ++run) {
        if (kept[run])
            total += runs[run].entries.size();
        else
            std::vector<LogEntry>().swap(runs[run].entries);
    }
    children.reserve(total);
    for (std::size_t run : walk.order()) {
        Run& r = runs[run];
        std::move(r.entries.begin(), r.entries.end(), std::back_inserter(children));
        std::vector<LogEntry>().swap(r.entries);
        longestLine = std::max(longestLine, r.longestLine);
    }
}

void LogList::append(const LogFields& fields) {
    const LogEntry& entry = children.emplace_back(fields, this);
    longestLine = std::max(longestLine, longestLineOf(entry));
}

}  // namespace varko::unifiedlog
