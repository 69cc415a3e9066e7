#pragma once

// What both start-up children share: when each step came, counted from the moment
// the parent started the process, and the end of the run at the first paint.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <cstring>
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

/// Notes the first paint that `accepts` takes as the step `name`; the step "painted"
/// ends the event loop.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(std::function<bool(QWidget*)> accepts, const char* name = "painted")
        : accepts(std::move(accepts)), name(name) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            accepts(static_cast<QWidget*>(watched))) {
            seen = true;
            phase(name);
            if (std::strcmp(name, "painted") == 0) QCoreApplication::exit(0);
        }
        return false;
    }

private:
    std::function<bool(QWidget*)> accepts;
    const char* name;
    bool seen = false;
};

}  // namespace startupbench
