#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace varko {

/// "0x" and the lower-case digits, as Apple's tools print magics, slots and CPU types.
[[nodiscard]] inline std::string hex(std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
    return buf;
}

/// Each byte as two lower-case digits with nothing between, as codesign prints a hash.
[[nodiscard]] inline std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

}  // namespace varko
