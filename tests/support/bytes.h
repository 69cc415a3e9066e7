#pragma once

// Fixture bytes from text, and the words read from and patched into them: big-endian as
// code signatures store them, little-endian as most Mach-O headers are.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace varko::testing {

using Bytes = std::vector<std::byte>;

/// The bytes of a text, for fixture files and the blobs that hash them.
inline Bytes bytesOf(std::string_view text) {
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return Bytes(data, data + text.size());
}

inline std::uint32_t getBE32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | std::to_integer<std::uint32_t>(b.at(at + i));
    return v;
}

inline void putBE32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = std::byte(v >> (24 - 8 * i));
}

inline void putBE64(Bytes& b, std::size_t at, std::uint64_t v) {
    putBE32(b, at, static_cast<std::uint32_t>(v >> 32));
    putBE32(b, at + 4, static_cast<std::uint32_t>(v));
}

// Mach-O files of Intel and Apple silicon store their headers little-endian.
inline std::uint32_t getLE32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::to_integer<std::uint32_t>(b.at(at + i));
    return v;
}

inline void putLE32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = std::byte(v >> (8 * i));
}

}  // namespace varko::testing
