#include "concurrency/work.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace varko {

namespace {

thread_local const Work* currentWork = nullptr;

unsigned processHelpers() {
    return std::max(1U, std::thread::hardware_concurrency()) - 1;
}

}  // namespace

bool CountedThreads::tryStart(std::function<void()> job) {
    for (unsigned now = busy->load(); now < limit;) {
        if (!busy->compare_exchange_weak(now, now + 1)) continue;
        try {
            std::thread([busy = busy, job = std::move(job)] {
                job();
                --*busy;
            }).detach();
            return true;
        } catch (const std::system_error&) {
            --*busy;
            return false;
        }
    }
    return false;
}

Threads& Work::helpers() const {
    static CountedThreads process(processHelpers());
    return threads ? *threads : process;
}

const Work& Work::current() {
    static const Work none;
    return currentWork ? *currentWork : none;
}

Work::Scope::Scope(Work work) : own(std::move(work)), previous(currentWork) {
    currentWork = &own;
}

Work::Scope::~Scope() {
    currentWork = previous;
}

void runShared(const Work& work, unsigned maxThreads, const std::function<void()>& body) {
    // Helpers report to this gate, not to the caller's frame: one may still be returning
    // from `body` when the caller has gone on.
    struct Gate {
        std::mutex mutex;
        std::condition_variable idle;
        unsigned running = 0;
    };
    const auto gate = std::make_shared<Gate>();
    for (unsigned started = 1; started < maxThreads; ++started) {
        {
            const std::lock_guard hold(gate->mutex);
            ++gate->running;
        }
        const bool accepted = work.helpers().tryStart([gate, &body, work] {
            {
                const Work::Scope inherited(work);
                body();
            }
            const std::lock_guard hold(gate->mutex);
            if (--gate->running == 0) gate->idle.notify_all();
        });
        if (!accepted) {
            // No thread now is no thread for this run: this one does the rest.
            const std::lock_guard hold(gate->mutex);
            --gate->running;
            break;
        }
    }
    {
        const Work::Scope own(work);
        body();
    }
    std::unique_lock hold(gate->mutex);
    gate->idle.wait(hold, [&] { return gate->running == 0; });
}

void forEachShared(const Work& work, std::size_t count, unsigned maxThreads,
                   const std::function<void(std::size_t)>& each) {
    std::atomic<std::size_t> next{0};
    const unsigned wanted = unsigned(std::min<std::size_t>(std::max(1U, maxThreads), count));
    runShared(work, std::max(1U, wanted), [&] {
        for (std::size_t i; !work.cancelled() && (i = next.fetch_add(1)) < count;) each(i);
    });
}

}  // namespace varko
