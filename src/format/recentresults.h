#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace varko {

/// The last few results of a pure function of bytes, shared by every thread. A scan reads
/// the same signature and property lists several times over (the app's check, each
/// component's, the tools'), and decoding them costs far more than a lookup.
/// Keys past `maxKeyBytes` are not kept, so a stranger's megabyte blobs cost no memory here.
template <class Result, std::size_t capacity = 64>
class RecentResults final {
public:
    static constexpr std::size_t maxKeyBytes = 64 * 1024;

    [[nodiscard]] std::optional<Result> find(std::string_view key) const {
        if (key.size() > maxKeyBytes) return std::nullopt;
        const std::size_t hash = std::hash<std::string_view>{}(key);
        const std::lock_guard hold(mutex);
        for (const Entry& e : entries)
            if (e.hash == hash && e.key == key) return e.result;
        return std::nullopt;
    }

    void add(std::string_view key, const Result& result) {
        if (key.size() > maxKeyBytes) return;
        Entry entry{std::hash<std::string_view>{}(key), std::string(key), result,
                    std::this_thread::get_id(), 0};
        {
            const std::lock_guard hold(mutex);
            entry.added = added++;
            if (entries.size() < capacity) {
                if (entries.empty()) entries.reserve(capacity);
                entries.push_back(std::move(entry));
            } else {
                std::swap(entries[victim(entry.owner)], entry);
            }
        }
        // `entry` is now the one pushed out, freed after the lock: freeing a parsed signature
        // can take longer than many lookups, and other threads would wait for it.
    }

private:
    struct Entry {
        std::size_t hash;
        std::string key;
        Result result;
        std::thread::id owner;  ///< the thread that added it, and made its memory
        std::uint64_t added;
    };

    /// The oldest goes first, since a scan's repeats come close together; but when this
    /// thread has one of the older half, its own goes instead: memory that another thread
    /// made is freed under that thread's allocator lock, and two workers would keep waiting
    /// on each other's. An entry older than two turns goes whoever made it, so that a thread
    /// that has ended leaves nothing behind for long.
    [[nodiscard]] std::size_t victim(std::thread::id self) const {
        std::size_t oldest = 0, ownOldest = entries.size();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].added < entries[oldest].added) oldest = i;
            if (entries[i].owner == self &&
                (ownOldest == entries.size() || entries[i].added < entries[ownOldest].added))
                ownOldest = i;
        }
        const auto age = [this](std::size_t i) { return added - entries[i].added; };
        if (age(oldest) > 2 * capacity) return oldest;
        return ownOldest != entries.size() && age(ownOldest) > capacity / 2 ? ownOldest : oldest;
    }

    mutable std::mutex mutex;
    std::vector<Entry> entries;
    std::uint64_t added = 0;
};

}  // namespace varko
