#pragma once

#include <array>
#include <ostream>

#include "format/expected.h"

namespace varko {

// Lets GoogleTest name a code instead of showing its bytes.
inline void PrintTo(ErrorCode code, std::ostream* os) {
    static constexpr std::array names{"malformed",  "truncated",  "unsupported", "tooLarge",
                                      "unreadable", "refused",    "missing",     "invalidSignature",
                                      "untrusted",  "toolFailed", "unwritable"};
    static_assert(names.size() == std::size_t(ErrorCode::unwritable) + 1, "a code without a name");
    const auto i = std::size_t(code);
    *os << (i < names.size() ? names[i] : "unknown");
}

}  // namespace varko
