#include "tools/toolrun.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/faketool.h"

namespace varko::host {
namespace {

using varko::testing::FakeTools;

TEST(RunProgramConcurrently, FastRunDoesNotWaitForSlowOne) {
    FakeTools tools;
    const QString slow = tools.script("slow", "sleep 3\necho slow");
    const QString fast = tools.script("fast", "sleep 0.3\necho fast");

    ToolResult slowResult;
    std::thread slowThread([&] { slowResult = runProgram(slow, {}, Capture::Both); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QElapsedTimer timer;
    timer.start();
    const ToolResult fastResult = runProgram(fast, {}, Capture::Both);
    const qint64 elapsed = timer.elapsed();
    slowThread.join();

    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(fastResult.standardOutput, "fast\n");
    EXPECT_EQ(slowResult.standardOutput, "slow\n");
}

// A pipe end that leaked into a long-lived child started on another thread would
// hold a short run until that child ends; with many spawns racing, some would.
TEST(RunProgramConcurrently, PipesDoNotLeakIntoOtherThreadsChildren) {
    FakeTools tools;
    const QString sleeper = tools.script("sleeper", "exec sleep 2");
    const QString quick = tools.script("quick", "echo \"$1\"\necho \"$1\" >&2");

    std::atomic<bool> stop = false;
    std::vector<std::thread> sleepers;
    for (int i = 0; i < 4; ++i) {
        sleepers.emplace_back([&, i] {
            while (!stop)
                (void)runProgram(sleeper, {}, i % 2 ? Capture::Both : Capture::StandardOutput);
        });
    }

    QThreadPool pool;
    pool.setMaxThreadCount(6);
    std::atomic<qint64> slowest = 0;
    std::atomic<int> wrong = 0;
    for (int job = 0; job < 6; ++job) {
        pool.start([&, job] {
            for (int run = 0; run < 40; ++run) {
                const QByteArray tag = QByteArray::number(job * 1000 + run);
                QElapsedTimer timer;
                timer.start();
                const ToolResult result =
                    runProgram(quick, {QString::fromLatin1(tag)}, Capture::Both);
                const qint64 elapsed = timer.elapsed();
                qint64 seen = slowest;
                while (elapsed > seen && !slowest.compare_exchange_weak(seen, elapsed)) {
                }
                if (!result.succeeded() || result.standardOutput != tag + '\n' ||
                    result.standardError != tag + '\n')
                    ++wrong;
            }
        });
    }
    pool.waitForDone();
    stop = true;
    for (std::thread& thread : sleepers) thread.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_LT(slowest, 1500);
}

}  // namespace
}  // namespace varko::host
