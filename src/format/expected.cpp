#include "format/expected.h"

namespace varko {

std::string_view errorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::malformed:
            return "malformed";
        case ErrorCode::truncated:
            return "truncated";
        case ErrorCode::unsupported:
            return "unsupported";
        case ErrorCode::tooLarge:
            return "tooLarge";
        case ErrorCode::unreadable:
            return "unreadable";
        case ErrorCode::refused:
            return "refused";
        case ErrorCode::missing:
            return "missing";
        case ErrorCode::invalidSignature:
            return "invalidSignature";
        case ErrorCode::untrusted:
            return "untrusted";
        case ErrorCode::toolFailed:
            return "toolFailed";
        case ErrorCode::unwritable:
            return "unwritable";
    }
    return "unknown";
}

}  // namespace varko
