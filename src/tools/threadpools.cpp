#include "tools/threadpools.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace varko::host {

namespace {

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

void retirePool(QThreadPool* pool) {
    if (pool == nullptr) return;
    pool->clear();
    if (pool->activeThreadCount() == 0 || QCoreApplication::instance() == nullptr) {
        delete pool;  // waits, but only when nothing runs or no event loop could delete it later
        return;
    }
    QThreadPool::globalInstance()->start([pool] {
        pool->waitForDone();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [pool] { delete pool; }, Qt::QueuedConnection);
    });
}

}  // namespace varko::host
