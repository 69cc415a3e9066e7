#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varko::logtool {

/// One step through bytes that may or may not be UTF-8.
struct Utf8Step {
    std::size_t length = 1;  ///< bytes consumed, at least one
    bool valid = false;      ///< false: those bytes stand for one U+FFFD
};

/// Decodes at `pos < bytes.size()` by Unicode's well-formed table (no overlongs, surrogates
/// or values past U+10FFFF). A bad sequence consumes its maximal valid prefix, so that each
/// becomes exactly one U+FFFD, as Unicode recommends.
[[nodiscard]] Utf8Step decodeUtf8(std::string_view bytes, std::size_t pos);

/// The bytes as valid UTF-8, every bad sequence replaced by U+FFFD, cut to at most
/// `maxBytes` on a character boundary (a cut is marked with "…" when it fits).
[[nodiscard]] std::string sanitizeUtf8(std::string_view bytes, std::size_t maxBytes);

}  // namespace varko::logtool
