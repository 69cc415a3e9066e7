#include "logs/loglist.h"

#include <atomic>
#include <thread>

namespace varko::logs {

namespace {

struct SliceResult {
    std::vector<LogEntry> entries;
    qsizetype longestLine = 0;
    bool ok = false;
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

LogList::LogList(QByteArray& bytes) {
    const std::vector<LogSlice> slices = logArraySlices(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!slices.empty() && parseSlices(slices)) return;
    children.clear();
    longestLine = 0;
    const bool parsed = walkWholeLogArray(bytes, [this](const LogFields* object) {
        if (object != nullptr) append(*object);
    });
    if (!parsed) {
        children.clear();
        children.shrink_to_fit();
        longestLine = 0;
    }
}

bool LogList::parseSlices(const std::vector<LogSlice>& slices) {
    // Slices are independent, so every core takes the next one until none are left.
    std::vector<SliceResult> results(slices.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < slices.size();) {
            SliceResult& r = results[i];
            r.ok = walkLogSlice(slices[i], [&](const LogFields* object) {
                if (object == nullptr) return;
                const LogEntry& entry = r.entries.emplace_back(*object, this);
                r.longestLine = std::max(r.longestLine, longestLineOf(entry));
            });
            if (!r.ok) next = slices.size();  // the document is walked whole instead
        }
    };
    const unsigned helpers = std::min(std::max(std::thread::hardware_concurrency(), 1u), 8u) - 1;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < helpers && t + 1 < slices.size(); ++t) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    std::size_t total = 0;
    for (const SliceResult& r : results) {
        if (!r.ok) return false;
        total += r.entries.size();
    }
    children.reserve(total);
    for (SliceResult& r : results) {
        std::move(r.entries.begin(), r.entries.end(), std::back_inserter(children));
        std::vector<LogEntry>().swap(r.entries);
        longestLine = std::max(longestLine, r.longestLine);
    }
    return true;
}

void LogList::append(const LogFields& fields) {
    const LogEntry& entry = children.emplace_back(fields, this);
    longestLine = std::max(longestLine, longestLineOf(entry));
}

}  // namespace varko::logs
