#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace varko {

/// Set from any thread to call off the work that was given it.
using CancelFlag = std::shared_ptr<std::atomic<bool>>;

/// Where a piece of work may find more threads: a window's pool, or a count for a run
/// without one. Never queues: a helper either starts now or is refused.
class Threads {
public:
    virtual ~Threads() = default;
    /// Starts `job` on a thread of its own at once and returns true, or returns false when
    /// none is free or the system would not start one. Refusal is normal: the caller then
    /// does the work itself.
    [[nodiscard]] virtual bool tryStart(std::function<void()> job) = 0;
};

/// At most `helpers` threads of its own at once, shared by every level of the work given
/// it: a scan's workers, each item's component checks, each piece's page hashing.
class CountedThreads final : public Threads {
public:
    explicit CountedThreads(unsigned helpers) : limit(helpers) {}
    [[nodiscard]] bool tryStart(std::function<void()> job) override;

private:
    const unsigned limit;
    // Shared with the threads: one may still be ending when its owner has gone.
    const std::shared_ptr<std::atomic<unsigned>> busy = std::make_shared<std::atomic<unsigned>>(0);
};

/// What a piece of work may use and whether it is still wanted: handed down through every
/// level (inspection, component checks, tool runs, page hashing) so that closing a window
/// ends all of its work, and no level starts threads beyond its window's.
struct Work {
    /// None: the process's own bound (one helper per core but one).
    std::shared_ptr<Threads> threads;
    CancelFlag cancel;

    [[nodiscard]] bool cancelled() const { return cancel && cancel->load(); }
    [[nodiscard]] Threads& helpers() const;

    /// The work this thread is doing, for levels that the call chain does not reach with an
    /// argument (readers deep inside a check); when none was given, the process's bound and no
    /// cancel.
    [[nodiscard]] static const Work& current();

    class Scope;
};

/// Makes a work this thread's until destroyed.
class Work::Scope final {
public:
    explicit Scope(Work work);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Work own;
    const Work* previous;
};

/// Runs `body` on this thread and on up to `maxThreads - 1` helpers that `work` grants, each
/// under `work` as its current work; returns when every one has returned. `body` takes
/// its own share (an atomic counter) and may run on any number of threads, one included.
void runShared(const Work& work, unsigned maxThreads, const std::function<void()>& body);

/// Calls `each(i)` for every i below `count` on up to `maxThreads` threads, as runShared
/// does; once `work` is cancelled no further index is handed out.
void forEachShared(const Work& work, std::size_t count, unsigned maxThreads,
                   const std::function<void(std::size_t)>& each);

}  // namespace varko
