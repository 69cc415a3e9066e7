#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QThreadPool>
#include <memory>
#include <utility>

#include "concurrency/work.h"

namespace varko::host {

/// Lets go of a window's pool: queued work is dropped, and work still running is
/// neither waited for nor able to deliver (its continuations die with the window);
/// the pool itself is deleted once its threads are idle.
void retirePool(QThreadPool* pool);

/// The free threads of a window's pool, for its work's helpers: the pool's bound is then the
/// bound of everything the window runs. The pool must outlive the work, as a retired pool does.
[[nodiscard]] std::shared_ptr<Threads> poolThreads(QThreadPool* pool);

/// How many retired pools are not yet deleted. Once none is, whatever their work sent
/// back has been handled, so a test can wait for zero and then look for late deliveries.
[[nodiscard]] int retiredPoolsPending();

/// Runs `then` with the result of `future` on `context`'s thread, unless `context` has
/// gone by then or the work was dropped. A watcher owned by `context` carries the result: Qt 6.4's
/// `QFuture::then(context, …)` reads its guard of the context on the worker thread, a
/// race with a window that closes just as its work finishes.
template <class T, class Then>
void whenFinished(QObject* context, QFuture<T> future, Then then) {
    auto* watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, then = std::move(then)]() mutable {
                         watcher->deleteLater();
                         // Work dropped from a retired pool ends with no result.
                         if (watcher->isCanceled() || watcher->future().resultCount() == 0) return;
                         then(watcher->result());
                     });
    watcher->setFuture(std::move(future));
}

}  // namespace varko::host
