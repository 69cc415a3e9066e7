#pragma once

// Fixture bytes from text, and big-endian words read from and patched into them, as code
// signatures store them.

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

}  // namespace varko::testing
