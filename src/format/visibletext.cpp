#include "format/visibletext.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "format/utf8encode.h"

namespace varko {

namespace {

/// The code point of the UTF-8 sequence at `i` and its length, or a length of 0 when the
/// bytes there are not valid UTF-8 (overlong forms, surrogates and values past U+10FFFF too).
std::pair<std::uint32_t, std::size_t> decode(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return {c, 1};
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xc2 && c <= 0xdf)
        n = 1, cp = c & 0x1f;
    else if (c >= 0xe0 && c <= 0xef)
        n = 2, cp = c & 0x0f;
    else if (c >= 0xf0 && c <= 0xf4)
        n = 3, cp = c & 0x07;
    else
        return {0, 0};
    if (n > s.size() - i - 1) return {0, 0};
    for (std::size_t k = 1; k <= n; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xc0) != 0x80) return {0, 0};
        cp = (cp << 6) | (cc & 0x3f);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10ffff ||
        (cp >= 0xd800 && cp <= 0xdfff))
        return {0, 0};
    return {cp, n + 1};
}

bool shownByNumber(std::uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200e ||
           cp == 0x200f || cp == 0x061c;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = decode(text, i).second;
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string visibleControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[16];
    for (std::size_t i = 0; i < text.size();) {
        const auto [cp, length] = decode(text, i);
        if (length == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += buf;
            ++i;
            continue;
        }
        if (cp < 0x20) {
            appendUtf8(out, 0x2400 + cp);
        } else if (cp == 0x7f) {
            appendUtf8(out, 0x2421);
        } else if (shownByNumber(cp)) {
            std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

}  // namespace varko
