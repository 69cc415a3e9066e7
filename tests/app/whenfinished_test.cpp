#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPromise>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "tools/threadpools.h"

namespace varko::host {
namespace {

// Windows close while their work finishes; the result must reach a living window and
// never one that has gone, however the two meet.
TEST(WhenFinished, AResultReachesOnlyAContextThatLives) {
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    int delivered = 0;
    auto context = std::make_unique<QObject>();
    whenFinished(context.get(), QtConcurrent::run(&pool, [] { return 7; }),
                 [&delivered](int value) { delivered += value; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered == 7; }, 5000));

    std::mt19937 random(42);
    int late = 0;
    for (int i = 0; i < 400; ++i) {
        auto dying = std::make_unique<QObject>();
        const auto spin = std::chrono::microseconds(random() % 300);
        bool gone = false;
        whenFinished(dying.get(),
                     QtConcurrent::run(&pool,
                                       [spin] {
                                           std::this_thread::sleep_for(spin);
                                           return 1;
                                       }),
                     [&late, &gone](int) { late += gone ? 1 : 0; });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        dying.reset();
        gone = true;
        QCoreApplication::processEvents();
    }
    pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(late, 0);

    // Work that ends without a result (dropped from a retired pool) calls nothing.
    QPromise<int> promise;
    bool called = false;
    whenFinished(context.get(), promise.future(), [&called](int) { called = true; });
    promise.start();
    promise.future().cancel();
    promise.finish();
    // The watcher goes once it has handled the end, so by then a call would have come.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return context->findChildren<QFutureWatcherBase*>().isEmpty(); }, 10000));
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace varko::host
