#include "systools/log/utf8.h"

namespace varko::logtool {

Utf8Step decodeUtf8(std::string_view bytes, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = byte(pos);
    if (lead < 0x80) return {1, true};
    int continuation = 0;
    unsigned low = 0x80, high = 0xBF;  // the range allowed for the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return {1, false};
    }
    std::size_t length = 1;
    for (int i = 0; i < continuation; ++i, ++length) {
        if (pos + length >= bytes.size()) return {length, false};
        const unsigned b = byte(pos + length);
        if (b < (i == 0 ? low : 0x80) || b > (i == 0 ? high : 0xBF)) return {length, false};
    }
    return {length, true};
}

std::string sanitizeUtf8(std::string_view bytes, std::size_t maxBytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    static constexpr std::string_view ellipsis = "\xE2\x80\xA6";
    std::string out;
    out.reserve(bytes.size() < maxBytes ? bytes.size() : maxBytes);
    for (std::size_t pos = 0; pos < bytes.size();) {
        const Utf8Step step = decodeUtf8(bytes, pos);
        const std::string_view piece = step.valid ? bytes.substr(pos, step.length) : replacement;
        if (out.size() + piece.size() > maxBytes) {
            // Drops whole characters (out is valid UTF-8) until the mark fits.
            while (!out.empty() && out.size() + ellipsis.size() > maxBytes) {
                while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
                    out.pop_back();
                if (!out.empty()) out.pop_back();
            }
            if (out.size() + ellipsis.size() <= maxBytes) out += ellipsis;
            break;
        }
        out += piece;
        pos += step.length;
    }
    return out;
}

}  // namespace varko::logtool
