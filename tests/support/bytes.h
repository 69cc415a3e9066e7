#pragma once

// Big-endian words read from and patched into fixture files, as code signatures store them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varko::testing {

using Bytes = std::vector<std::byte>;

inline std::uint32_t getBE32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | std::to_integer<std::uint32_t>(b.at(at + i));
    return v;
}

inline void putBE32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = std::byte(v >> (24 - 8 * i));
}

}  // namespace varko::testing
