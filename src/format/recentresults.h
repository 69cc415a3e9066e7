#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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
        Entry entry{std::hash<std::string_view>{}(key), std::string(key), result};
        const std::lock_guard hold(mutex);
        // The oldest goes first: a scan's repeats come close together.
        if (entries.size() < capacity)
            entries.push_back(std::move(entry));
        else
            entries[next] = std::move(entry);
        next = (next + 1) % capacity;
    }

private:
    struct Entry {
        std::size_t hash;
        std::string key;
        Result result;
    };
    mutable std::mutex mutex;
    std::vector<Entry> entries;
    std::size_t next = 0;
};

}  // namespace varko
