#include "format/plist/encoding.h"

namespace varko::plist::detail {

namespace {

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

Expected<Data> decodeBase64(std::string_view text) {
    const auto bad = [](std::size_t at) {
        return Error{at, "not valid base64", ErrorCode::malformed};
    };
    Data out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t acc = 0;
    int bits = 0;
    int group = 0;  // characters of the current quantum, padding included
    bool padded = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isSpace(c)) continue;
        if (c == '=') {
            // Padding only completes a quantum that holds at least two characters.
            if (group < 2) return bad(i);
            padded = true;
            group = (group + 1) % 4;
            if (group == 0) bits = 0;
            continue;
        }
        const int v = sextet(c);
        if (v < 0 || padded) return bad(i);
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        group = (group + 1) % 4;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    if (group == 1) return bad(text.size());
    return out;
}

}  // namespace varko::plist::detail
