#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace varko {

/// Maps a large buffer's pages in one call: faulting them in one by one on first touch
/// costs more than hashing them. Best effort; older kernels simply fault as before.
inline void prefault(void* data, std::size_t size) {
#ifdef __linux__
    constexpr std::size_t worthIt = 256 * 1024;
#ifdef MADV_POPULATE_WRITE
    constexpr int populateWrite = MADV_POPULATE_WRITE;
#else
    constexpr int populateWrite = 23;  // Linux 5.14's value, for older headers
#endif
    if (size < worthIt) return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, populateWrite);
#else
    (void)data;
    (void)size;
#endif
}

/// An empty vector with room for `size` bytes, its pages already mapped.
inline std::vector<std::byte> prefaultedBuffer(std::size_t size) {
    std::vector<std::byte> out;
    out.reserve(size);
    prefault(out.data(), out.capacity());
    return out;
}

}  // namespace varko
