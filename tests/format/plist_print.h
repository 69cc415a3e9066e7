#pragma once

#include <cstddef>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "format/plist/plist.h"

namespace varko::plist {

// Lets GoogleTest show values as text instead of raw bytes.
inline void PrintTo(const Value& v, std::ostream* os) {
    *os << describe(v);
}

namespace testing {

/// The bytes of a text, as the readers take them.
inline std::span<const std::byte> bytesOf(std::string_view s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

/// `s` written `n` times: deep nesting and long lines.
inline std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

/// A scalar as the data tables write it: its kind, then its value in decimal.
inline Value scalar(const std::string& kind, const std::string& value) {
    if (kind == "integer") return Integer{static_cast<std::uint64_t>(std::stoll(value))};
    if (kind == "unsigned") return Integer{std::stoull(value), true};
    if (kind == "real") return std::stod(value);
    if (kind == "uid") return Uid{std::stoull(value)};
    return Date{std::stod(value)};
}

/// A dictionary in the order given.
inline Dictionary dict(std::initializer_list<std::pair<const char*, Value>> entries) {
    Dictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return d;
}

}  // namespace testing
}  // namespace varko::plist
