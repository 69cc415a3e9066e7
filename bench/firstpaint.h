#pragma once

// What both start-up children share: when each step came, counted from the moment
// the parent started the process, and the end of the run at the first paint.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <functional>

namespace startupbench {

// Monotonic time is one clock for every process, so a child can tell how long after
// its parent started it each step came.
inline qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline qint64 spawnedAt = 0;

inline void phase(const char* name) {
    std::fprintf(stderr, "phase %s %.2f\n", name, double(monotonicNs() - spawnedAt) / 1e6);
}

/// Ends the event loop at the first paint that `done` accepts.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(std::function<bool(QWidget*)> done) : done(std::move(done)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!painted && event->type() == QEvent::Paint && watched->isWidgetType() &&
            done(static_cast<QWidget*>(watched))) {
            painted = true;
            phase("painted");
            QCoreApplication::exit(0);
        }
        return false;
    }

private:
    std::function<bool(QWidget*)> done;
    bool painted = false;
};

}  // namespace startupbench
