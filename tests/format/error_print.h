#pragma once

#include <ostream>

#include "format/expected.h"

namespace varko {

// Lets GoogleTest name a code instead of showing its bytes.
inline void PrintTo(ErrorCode code, std::ostream* os) {
    const char* name = "unknown";
    switch (code) {
        case ErrorCode::malformed:
            name = "malformed";
            break;
        case ErrorCode::truncated:
            name = "truncated";
            break;
        case ErrorCode::unsupported:
            name = "unsupported";
            break;
        case ErrorCode::tooLarge:
            name = "tooLarge";
            break;
        case ErrorCode::unreadable:
            name = "unreadable";
            break;
        case ErrorCode::refused:
            name = "refused";
            break;
        case ErrorCode::missing:
            name = "missing";
            break;
        case ErrorCode::invalidSignature:
            name = "invalidSignature";
            break;
        case ErrorCode::untrusted:
            name = "untrusted";
            break;
        case ErrorCode::toolFailed:
            name = "toolFailed";
            break;
    }
    *os << name;
}

}  // namespace varko
