#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "logs/logjson.h"

// Qt-free, so that the fuzz build takes the log reader alone.

namespace varko::unifiedlog {

/// How a walk over the log tool's output went. The output is taken apart into the
/// elements of its top-level array first, by brackets and quotes alone, so that a
/// fault inside one element costs only that element.
struct LogWalkSummary {
    bool array = false;         ///< the text opened a JSON array at all
    bool truncated = false;     ///< it ended before the array's closing bracket
    bool trailingText = false;  ///< text after the closing bracket was ignored
    bool limited = false;       ///< the walk stopped at its bound on objects
    std::uint64_t objects = 0;  ///< elements that were objects, each visited
    /// Elements that could not be read, and text between two commas with no element.
    std::uint64_t skipped = 0;

    /// Everything in the text was read.
    [[nodiscard]] bool clean() const {
        return array && !truncated && !trailingText && !limited && skipped == 0;
    }
    bool operator==(const LogWalkSummary&) const = default;
};

/// The most entries one walk reads: each costs memory whatever its size, and an
/// empty object is three bytes of output.
inline constexpr std::uint64_t maxLogEntries = 4'000'000;

/// Called once per readable element of the top-level array, in order: with the
/// fields of an object, or with null for an element that is another kind of value.
using LogElementVisitor = std::function<void(const LogFields* object)>;

/// Walks the whole text in order on this thread, visiting at most `maxObjects` objects.
[[nodiscard]] LogWalkSummary walkLogArray(std::string_view json, const LogElementVisitor& visit,
                                          std::uint64_t maxObjects = maxLogEntries);

/// Runs `work` on the calling thread and at the same time on as many helpers as it
/// can spare, and returns once every call has returned. Each call of `work` takes
/// slices until none are left, so a helper that starts late, or never, costs
/// nothing: the caller alone would finish. A runner must never make the caller wait
/// for a helper that has not started.
using ParallelRunner = std::function<void(const std::function<void()>& work)>;

/// Slices of about this size, cut where "},{" stands, are walked at once.
inline constexpr std::size_t logSliceBytes = std::size_t(2) << 20;

/// The same walk, in slices on several threads, each slice into a run of its own.
/// After a cut that turns out not to lie between two elements, the text is walked
/// again in order from the element left open, and a slice that would pass the bound
/// on objects is walked again in order from its start, each as another run; so the
/// runs in order() hold exactly what walkLogArray visits, and the summary is the
/// same. Each byte is walked at most twice.
class LogSlicedWalk final {
public:
    LogSlicedWalk(std::string_view json, std::size_t sliceBytes = logSliceBytes,
                  std::uint64_t maxObjects = maxLogEntries);

    /// Run numbers are below this.
    [[nodiscard]] std::size_t runCount() const { return 2 * (cuts.size() + 1); }

    /// Walks the slices through `parallel` (on this thread alone when it is empty).
    /// `visit(run, object)` may be called from several threads at once, but for any
    /// one run from one thread at a time, in order.
    [[nodiscard]] LogWalkSummary walk(
        const std::function<void(std::size_t run, const LogFields* object)>& visit,
        const ParallelRunner& parallel = {});

    /// After walk(): the runs that make up the text, in order. Others are to be dropped.
    [[nodiscard]] const std::vector<std::size_t>& order() const { return runs; }

private:
    std::string_view json;
    std::uint64_t maxObjects;
    /// The commas of "},{" where slices end, ascending.
    std::vector<std::size_t> cuts;
    std::vector<std::size_t> runs;
};

}  // namespace varko::unifiedlog
