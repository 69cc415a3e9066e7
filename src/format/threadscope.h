#pragma once

// One item's memo made this thread's while a scope stands, and the one before it again after.

#include <utility>

namespace varko {

/// Makes `memo` the `T` that this thread's calls draw on until destroyed. Scopes nest: the
/// innermost one's memo is current, and without one there is none.
template <class T>
class ThreadScope final {
public:
    explicit ThreadScope(T* memo) : previous(std::exchange(active, memo)) {}
    ~ThreadScope() { active = previous; }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

    [[nodiscard]] static T* current() { return active; }

private:
    T* previous;
    static inline thread_local T* active = nullptr;
};

}  // namespace varko
