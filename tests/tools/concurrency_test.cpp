#include "tools/toolrun.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
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
using varko::testing::untilExists;

TEST(RunProgramConcurrently, FastRunDoesNotWaitForSlowOne) {
    FakeTools tools;
    // The slow run lasts until the fast one has returned, so a fast run that waited
    // for it could never return: the slow one gives up after a minute and the check fails.
    const QString started = tools.path("started"), release = tools.path("release");
    const QString slow = tools.script(
        "slow",
        QStringLiteral(": > '%1'\n%2\necho slow").arg(started, untilExists(release)).toUtf8());
    const QString fast = tools.script("fast", "echo fast");

    std::atomic<bool> slowReturned = false;
    ToolResult slowResult;
    std::thread slowThread([&] {
        slowResult = runProgram(slow, {}, Capture::Both);
        slowReturned = true;
    });
    while (!QFile::exists(started) && !slowReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const ToolResult fastResult = runProgram(fast, {}, Capture::Both);
    EXPECT_FALSE(slowReturned);
    tools.file("release", {});
    slowThread.join();

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
