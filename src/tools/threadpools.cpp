#include "tools/threadpools.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

namespace varko::host {

namespace {

std::atomic<int> pending = 0;

class PoolThreads final : public Threads {
public:
    explicit PoolThreads(QThreadPool* pool) : pool(pool) {}
    bool tryStart(std::function<void()> job) override { return pool->tryStart(std::move(job)); }

private:
    QThreadPool* pool;
};

}  // namespace

std::shared_ptr<Threads> poolThreads(QThreadPool* pool) {
    return std::make_shared<PoolThreads>(pool);
}

int retiredPoolsPending() {
    return pending.load();
}

void retirePool(QThreadPool* pool) {
    if (pool == nullptr) return;
    pool->clear();
    if (pool->activeThreadCount() == 0 || QCoreApplication::instance() == nullptr) {
        delete pool;  // waits, but only when nothing runs or no event loop could delete it later
        return;
    }
    ++pending;
    QThreadPool::globalInstance()->start([pool] {
        pool->waitForDone();
        // Queued behind anything the work posted, so zero means that has been handled.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [pool] {
                delete pool;
                --pending;
            },
            Qt::QueuedConnection);
    });
}

}  // namespace varko::host
