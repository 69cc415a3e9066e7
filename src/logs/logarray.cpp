#include "logs/logarray.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <span>

namespace varko::unifiedlog {

namespace {

constexpr std::size_t none = std::string_view::npos;

void skipSpace(std::string_view t, std::size_t& p) {
    while (p < t.size() && isJsonSpace(t[p])) ++p;
}

// Where the element running on from t[from] ends: the ',' or ']' at its own top
// level, outside strings, or none when the text ends first. Only brackets and
// quotes count, so this finds the end of any element, however broken; a '}' with
// nothing open is part of the broken element.
std::size_t elementEnd(std::string_view t, std::size_t from) {
    std::uint64_t depth = 0;
    for (std::size_t p = from; p < t.size(); ++p) {
        switch (t[p]) {
            case '"': {
                const std::size_t end = jsonStringEnd(t, p);
                if (end == none) return none;
                p = end - 1;
                break;
            }
            case '{':
            case '[':
                ++depth;
                break;
            case '}':
                if (depth > 0) --depth;
                break;
            case ']':
                if (depth == 0) return p;
                --depth;
                break;
            case ',':
                if (depth == 0) return p;
                break;
            default:
                break;
        }
    }
    return none;
}

// Where a run starts, what it may read and when it must stop.
struct RunStart {
    std::size_t begin = 0;  ///< just after '[' or a comma; with `opening`, the text's start
    bool opening = false;
    std::size_t visibleEnd = 0;  ///< nothing at or past it is read
    std::size_t firstStop = 0;   ///< the first of the cuts at which a separator ends the run
    std::uint64_t budget = 0;    ///< objects it may visit
    /// For slices walked at once: objects visited by all of them, against `budget`.
    std::atomic<std::uint64_t>* shared = nullptr;
};

struct RunEnd {
    enum class How : std::uint8_t { AtCut, Open, Finished };
    How how = How::Finished;
    /// AtCut: the cut's index. Open: where the element that is not yet walked starts.
    std::size_t at = 0;
    LogWalkSummary summary;
};

// Walks whole elements from `s.begin` in order until the text ends, the array
// closes, a separator falls on a cut, or the budget is spent. A run that cannot see
// the text's end leaves an element it cannot finish, and the closing bracket, Open
// for a run that can.
RunEnd walkRun(std::string_view json, std::span<const std::size_t> cuts, const RunStart& s,
               LogElementReader& reader, const LogElementVisitor& visit) {
    const std::string_view t = json.substr(0, s.visibleEnd);
    const bool seesEnd = s.visibleEnd == json.size();
    RunEnd end;
    LogWalkSummary& summary = end.summary;
    std::size_t p = s.begin;
    if (s.opening) {
        skipSpace(t, p);
        if (p >= t.size() || t[p] != '[') return end;
        ++p;
    }
    summary.array = true;
    std::size_t stop = s.firstStop;
    const auto open = [&](std::size_t at) {
        end.how = RunEnd::How::Open;
        end.at = at;
        return end;
    };
    // Visits or counts one whole element; false when the run must end before it.
    const auto take = [&](LogElementKind kind) {
        if (kind == LogElementKind::Object) {
            if (summary.objects == s.budget) {
                summary.limited = true;
                return false;
            }
            if (s.shared != nullptr &&
                s.shared->fetch_add(1, std::memory_order_relaxed) >= s.budget) {
                end.how = RunEnd::How::Open;
                return false;
            }
            visit(&reader.fields());
            ++summary.objects;
        } else if (kind == LogElementKind::OtherValue) {
            visit(nullptr);
        } else {
            ++summary.skipped;
        }
        return true;
    };
    while (true) {
        const std::size_t start = p;
        std::size_t q = p;
        skipSpace(t, q);
        bool empty = false;
        LogElementKind kind = LogElementKind::Broken;
        std::size_t separator = none;
        if (q >= t.size() || t[q] == ',' || t[q] == ']') {
            empty = true;
            if (q < t.size()) separator = q;
        } else {
            const LogElementReader::Result r = reader.read(t, q);
            std::size_t after = r.end;
            if (r.kind != LogElementKind::Broken) skipSpace(t, after);
            if (r.kind != LogElementKind::Broken &&
                (after >= t.size() || t[after] == ',' || t[after] == ']')) {
                kind = r.kind;
                if (after < t.size()) separator = after;
            } else {
                separator = elementEnd(t, r.kind != LogElementKind::Broken ? r.end : q);
            }
        }
        if (separator == none || (t[separator] == ']' && !seesEnd)) {
            if (!seesEnd) return open(start);
            // The text ends inside the array; a last element that is whole still counts.
            if (!empty && !take(kind)) {
                if (end.how == RunEnd::How::Open) end.at = start;
                return end;
            }
            summary.truncated = true;
            return end;
        }
        if (empty) {
            // "[ ]" is the one place where no element is no fault.
            if (!(t[separator] == ']' && json[start - 1] == '[')) ++summary.skipped;
        } else if (!take(kind)) {
            if (end.how == RunEnd::How::Open) end.at = start;
            return end;
        }
        if (t[separator] == ']') {
            p = separator + 1;
            skipSpace(t, p);
            summary.trailingText = p < t.size();
            return end;
        }
        while (stop < cuts.size() && cuts[stop] < separator) ++stop;
        if (stop < cuts.size() && cuts[stop] == separator) {
            end.how = RunEnd::How::AtCut;
            end.at = stop;
            return end;
        }
        p = separator + 1;
    }
}

void add(LogWalkSummary& total, const LogWalkSummary& run) {
    total.array = total.array || run.array;
    total.truncated = total.truncated || run.truncated;
    total.trailingText = total.trailingText || run.trailingText;
    total.limited = total.limited || run.limited;
    total.objects += run.objects;
    total.skipped += run.skipped;
}

}  // namespace

LogWalkSummary walkLogArray(std::string_view json, const LogElementVisitor& visit,
                            std::uint64_t maxObjects) {
    LogElementReader reader;
    return walkRun(json, {}, RunStart{0, true, json.size(), 0, maxObjects, nullptr}, reader, visit)
        .summary;
}

LogSlicedWalk::LogSlicedWalk(std::string_view text, std::size_t sliceBytes, std::uint64_t bound)
    : json(text), maxObjects(bound) {
    sliceBytes =
        std::clamp<std::size_t>(sliceBytes, 1, std::numeric_limits<std::size_t>::max() / 4);
    std::size_t begin = 0;
    skipSpace(json, begin);
    if (begin >= json.size() || json[begin] != '[') return;
    while (json.size() - begin > 2 * sliceBytes) {
        const std::size_t at = json.find("},{", begin + sliceBytes);
        if (at == none) break;
        cuts.push_back(at + 1);
        begin = at + 2;
    }
}

LogWalkSummary LogSlicedWalk::walk(
    const std::function<void(std::size_t run, const LogFields* object)>& visit,
    const ParallelRunner& parallel) {
    runs.clear();
    const std::size_t slices = cuts.size() + 1;
    const auto sliceStart = [&](std::size_t i) {
        return RunStart{i == 0 ? 0 : cuts[i - 1] + 1,
                        i == 0,
                        i < cuts.size() ? cuts[i] + 1 : json.size(),
                        i,
                        maxObjects,
                        nullptr};
    };

    // Every slice at once, each as if its cut were right; the objects they may visit
    // together are bounded too, so that memory is.
    std::vector<RunEnd> ends(slices);
    std::atomic<std::uint64_t> visited{0};
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        LogElementReader reader;
        for (std::size_t i; (i = next.fetch_add(1)) < slices;) {
            RunStart start = sliceStart(i);
            if (slices > 1) start.shared = &visited;
            ends[i] = walkRun(json, cuts, start, reader,
                              [&](const LogFields* object) { visit(i, object); });
        }
    };
    if (parallel && slices > 1)
        parallel(work);
    else
        work();

    // In order, keep each slice that began where an element began; after one that did
    // not end on its cut, walk on from its open element until a separator falls on a
    // cut, from which on the slices are right again.
    LogWalkSummary total;
    LogElementReader reader;
    std::size_t i = 0;
    while (true) {
        RunStart resume;
        const RunEnd& slice = ends[i];
        if (total.objects + slice.summary.objects > maxObjects) {
            resume = sliceStart(i);  // past the bound: again, in order, up to it
        } else {
            runs.push_back(i);
            add(total, slice.summary);
            if (slice.how == RunEnd::How::AtCut) {
                i = slice.at + 1;
                continue;
            }
            if (slice.how == RunEnd::How::Finished) return total;
            resume.begin = slice.at;
        }
        resume.visibleEnd = json.size();
        resume.firstStop = i;
        resume.budget = maxObjects - total.objects;
        resume.shared = nullptr;
        const std::size_t run = slices + i;
        const RunEnd more = walkRun(json, cuts, resume, reader,
                                    [&](const LogFields* object) { visit(run, object); });
        runs.push_back(run);
        add(total, more.summary);
        if (more.how != RunEnd::How::AtCut) return total;
        i = more.at + 1;
    }
}

}  // namespace varko::unifiedlog
