#include "concurrency/work.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace varko {
namespace {

/// A system that never has a thread to give: every caller must do all of its work itself.
class NoThreads final : public Threads {
public:
    bool tryStart(std::function<void()>) override { return false; }
};

TEST(Work, EveryLevelSharesOneBoundAndEveryIndexRunsOnce) {
    const Work work{std::make_shared<CountedThreads>(2), {}};
    constexpr std::size_t outer = 16, inner = 64;
    std::vector<std::atomic<int>> runs(outer * inner);
    std::atomic<int> inside{0}, most{0};
    const auto busy = [&](const std::function<void()>& body) {
        thread_local int depth = 0;
        if (depth++ == 0) {
            const int now = ++inside;
            for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
            }
        }
        body();
        if (--depth == 0) --inside;
    };
    forEachShared(work, outer, 8, [&](std::size_t i) {
        busy([&] {
            // Deep levels find the bound through the thread's current work.
            forEachShared(Work::current(), inner, 8, [&](std::size_t j) {
                busy([&] {
                    volatile unsigned sink = 0;
                    for (unsigned k = 0; k < 20000; ++k) sink = sink + k;
                    ++runs[i * inner + j];
                });
            });
        });
    });
    EXPECT_TRUE(std::all_of(runs.begin(), runs.end(), [](const auto& n) { return n == 1; }));
    // This thread and the two that the budget grants, however deep the nesting.
    EXPECT_LE(most.load(), 3);
}

TEST(Work, WithoutThreadsTheCallerDoesAllAndACancelStopsTheHandingOut) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    const Work work{std::make_shared<NoThreads>(), cancel};
    std::set<std::thread::id> threads;
    std::size_t calls = 0;
    forEachShared(work, 100, 4, [&](std::size_t i) {
        threads.insert(std::this_thread::get_id());
        ++calls;
        if (i == 9) cancel->store(true);
    });
    EXPECT_EQ(threads, std::set{std::this_thread::get_id()});
    EXPECT_EQ(calls, 10U);
}

TEST(Work, HelpersWorkUnderTheCallersWorkAndScopesNest) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    const Work work{std::make_shared<CountedThreads>(3), cancel};
    EXPECT_EQ(Work::current().cancel, nullptr);
    {
        const Work::Scope outer(work);
        {
            const Work::Scope inner(Work{});
            EXPECT_EQ(Work::current().cancel, nullptr);
        }
        EXPECT_EQ(Work::current().cancel, cancel);
    }
    std::atomic<int> seenOwnCancel{0}, runs{0};
    runShared(work, 4, [&] {
        ++runs;
        if (Work::current().cancel == cancel) ++seenOwnCancel;
    });
    EXPECT_EQ(seenOwnCancel.load(), runs.load());
    EXPECT_GE(runs.load(), 1);
    EXPECT_LE(runs.load(), 4);
}

}  // namespace
}  // namespace varko
