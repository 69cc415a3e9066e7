#include "tools/threadpools.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace varko::host {

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
