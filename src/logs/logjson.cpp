#include "logs/logjson.h"

#include <algorithm>
#include <cstring>

namespace varko::unifiedlog {

namespace {

// The longest of the four keys, "processImagePath".
constexpr std::size_t longestKey = 16;
constexpr char32_t replacementCharacter = 0xFFFD;
constexpr char32_t symbolForNull = 0x2400;

void skipSpace(std::string_view t, std::size_t& p) {
    while (p < t.size() && isJsonSpace(t[p])) ++p;
}

struct Utf8Step {
    std::size_t length = 1;
    bool valid = false;
};

// The character at t[pos] by Unicode's table of well-formed UTF-8 (no overlongs,
// surrogates or values past U+10FFFF). A bad sequence takes its maximal valid
// prefix, so that each becomes exactly one U+FFFD as Unicode recommends.
Utf8Step utf8Step(std::string_view t, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(t[pos]);
    if (lead < 0x80) return {1, true};
    std::size_t continuation = 0;
    unsigned low = 0x80, high = 0xBF;  // the range allowed for the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i <= continuation; ++i) {
        if (pos + i >= t.size()) return {i, false};
        const auto b = static_cast<unsigned char>(t[pos + i]);
        if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return {i, false};
    }
    return {continuation + 1, true};
}

// Decoded text kept up to a cap. From the first character that does not fit on,
// everything is only counted, so what is kept is a prefix of whole characters.
class CappedText {
public:
    CappedText(std::string& out, std::size_t cap) : out(out), cap(cap) {}

    void ascii(std::string_view text) {
        if (cut == 0) {
            const std::size_t kept = std::min(text.size(), cap - out.size());
            out.append(text.substr(0, kept));
            text.remove_prefix(kept);
        }
        cut += text.size();
    }
    void character(std::string_view bytes) {
        if (cut == 0 && bytes.size() <= cap - out.size())
            out += bytes;
        else
            cut += bytes.size();
    }
    void codePoint(char32_t c) {
        char bytes[4];
        std::size_t n = 0;
        if (c < 0x80) {
            bytes[n++] = char(c);
        } else if (c < 0x800) {
            bytes[n++] = char(0xC0 | (c >> 6));
            bytes[n++] = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[n++] = char(0xE0 | (c >> 12));
            bytes[n++] = char(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = char(0x80 | (c & 0x3F));
        } else {
            bytes[n++] = char(0xF0 | (c >> 18));
            bytes[n++] = char(0x80 | ((c >> 12) & 0x3F));
            bytes[n++] = char(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = char(0x80 | (c & 0x3F));
        }
        character(std::string_view(bytes, n));
    }

    std::uint64_t cut = 0;

private:
    std::string& out;
    std::size_t cap;
};

// Bytes that stand for themselves in a string: printable ASCII but the quote and the backslash.
constexpr auto plainAscii = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[std::size_t(c)] = c != '"' && c != '\\';
    return plain;
}();

// Whether all eight bytes of `word` are plain, tested at once, for long messages.
constexpr bool allPlain(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101, high = 0x8080808080808080;
    const auto anyZero = [](std::uint64_t w) { return (w - ones) & ~w & high; };
    const std::uint64_t below20 = (word - ones * 0x20) & ~word & high;
    return ((word & high) | below20 | anyZero(word ^ (ones * '"')) |
            anyZero(word ^ (ones * '\\'))) == 0;
}

bool hex4(std::string_view t, std::size_t p, char32_t& value) {
    if (p > t.size() || t.size() - p < 4) return false;
    value = 0;
    for (std::size_t i = p; i < p + 4; ++i) {
        const char c = t[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        value = value * 16 + char32_t(digit);
    }
    return true;
}

// One escape after the backslash at t[p - 2], with p at the character after it.
bool readEscape(std::string_view t, std::size_t& p, char e, CappedText& text) {
    switch (e) {
        case '"':
            text.ascii("\"");
            return true;
        case '\\':
            text.ascii("\\");
            return true;
        case '/':
            text.ascii("/");
            return true;
        case 'b':
            text.ascii("\b");
            return true;
        case 'f':
            text.ascii("\f");
            return true;
        case 'n':
            text.ascii("\n");
            return true;
        case 'r':
            text.ascii("\r");
            return true;
        case 't':
            text.ascii("\t");
            return true;
        case 'u':
            break;
        default:
            return false;
    }
    char32_t c = 0;
    if (!hex4(t, p, c)) return false;
    p += 4;
    if (c >= 0xD800 && c <= 0xDBFF) {
        char32_t low = 0;
        // A high surrogate counts only with a low one right after it; alone, the
        // escape that follows is read on its own.
        if (t.size() - p >= 6 && t[p] == '\\' && t[p + 1] == 'u' && hex4(t, p + 2, low) &&
            low >= 0xDC00 && low <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            p += 6;
        } else {
            c = replacementCharacter;
        }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
        c = replacementCharacter;
    } else if (c == 0) {
        c = symbolForNull;
    }
    text.codePoint(c);
    return true;
}

// Reads the string whose quote is at t[pos] and moves past it. The text lands in
// `value`: a view of the input when it needs no change, else of `buffer`. At most
// `cap` bytes are kept and the rest counted in `cut`. False for an unknown escape or
// when the input ends first.
bool readString(std::string_view t, std::size_t& pos, std::size_t cap, std::string& buffer,
                std::string_view& value, std::uint64_t& cut) {
    const std::size_t first = pos + 1;
    std::size_t p = first;
    // Most text is printable ASCII without escapes and can stay where it is.
    for (std::uint64_t word; t.size() - p >= 8; p += 8) {
        std::memcpy(&word, t.data() + p, 8);
        if (!allPlain(word)) break;
    }
    while (p < t.size() && plainAscii[static_cast<unsigned char>(t[p])]) ++p;
    if (p < t.size() && t[p] == '"') {
        const std::size_t length = p - first;
        value = t.substr(first, std::min(length, cap));
        cut = length > cap ? length - cap : 0;
        pos = p + 1;
        return true;
    }
    buffer.clear();
    CappedText text(buffer, cap);
    text.ascii(t.substr(first, p - first));
    while (true) {
        if (p >= t.size()) return false;
        const auto c = static_cast<unsigned char>(t[p]);
        if (c == '"') break;
        if (c == '\\') {
            if (t.size() - p < 2) return false;
            const char e = t[p + 1];
            p += 2;
            if (!readEscape(t, p, e, text)) return false;
        } else if (c == 0) {
            text.codePoint(symbolForNull);
            ++p;
        } else if (c < 0x80) {
            // Raw control characters other than NUL are taken as their escapes would be.
            std::size_t q = p + 1;
            while (q < t.size() && static_cast<unsigned char>(t[q]) < 0x80 && t[q] != '"' &&
                   t[q] != '\\' && t[q] != '\0')
                ++q;
            text.ascii(t.substr(p, q - p));
            p = q;
        } else {
            const Utf8Step step = utf8Step(t, p);
            if (step.valid)
                text.character(t.substr(p, step.length));
            else
                text.codePoint(replacementCharacter);
            p += step.length;
        }
    }
    value = buffer;
    cut = text.cut;
    pos = p + 1;
    return true;
}

bool skipDigits(std::string_view t, std::size_t& p) {
    const std::size_t start = p;
    while (p < t.size() && t[p] >= '0' && t[p] <= '9') ++p;
    return p > start;
}

bool skipNumber(std::string_view t, std::size_t& p) {
    if (p < t.size() && t[p] == '-') ++p;
    if (p >= t.size()) return false;
    if (t[p] == '0')
        ++p;
    else if (!(t[p] >= '1' && t[p] <= '9') || !skipDigits(t, p))
        return false;
    if (p < t.size() && t[p] == '.' && !skipDigits(t, ++p)) return false;
    if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
        ++p;
        if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
        if (!skipDigits(t, p)) return false;
    }
    return true;
}

bool skipScalar(std::string_view t, std::size_t& p) {
    const char c = t[p];
    if (c == '"') {
        const std::size_t end = jsonStringEnd(t, p);
        if (end == std::string_view::npos) return false;
        p = end;
        return true;
    }
    if (c == '-' || (c >= '0' && c <= '9')) return skipNumber(t, p);
    for (const std::string_view literal : {"true", "false", "null"}) {
        if (t.substr(p, literal.size()) == literal) {
            p += literal.size();
            return true;
        }
    }
    return false;
}

// A member's key and its colon.
bool skipKey(std::string_view t, std::size_t& p) {
    skipSpace(t, p);
    if (p >= t.size() || t[p] != '"') return false;
    const std::size_t end = jsonStringEnd(t, p);
    if (end == std::string_view::npos) return false;
    p = end;
    skipSpace(t, p);
    if (p >= t.size() || t[p] != ':') return false;
    ++p;
    return true;
}

enum Slot { timestampSlot, subsystemSlot, imageSlot, messageSlot, noSlot };

Slot slotOf(std::string_view key) {
    if (key == "timestamp") return timestampSlot;
    if (key == "subsystem") return subsystemSlot;
    if (key == "processImagePath") return imageSlot;
    if (key == "eventMessage") return messageSlot;
    return noSlot;
}

}  // namespace

std::size_t jsonStringEnd(std::string_view t, std::size_t open) {
    std::size_t from = open + 1;
    while (from < t.size()) {
        const void* hit = std::memchr(t.data() + from, '"', t.size() - from);
        if (hit == nullptr) break;
        const auto quote = std::size_t(static_cast<const char*>(hit) - t.data());
        std::size_t run = 0;
        while (quote - run > open + 1 && t[quote - run - 1] == '\\') ++run;
        if (run % 2 == 0) return quote + 1;
        from = quote + 1;
    }
    return std::string_view::npos;
}

// Steps over one value of any kind: brackets pair up, members are "key": value, and
// numbers and literals are JSON's. Strings are found, not read.
bool LogElementReader::skipValue(std::string_view t, std::size_t& p) {
    std::size_t depth = 0;
    while (true) {
        // A value is due.
        skipSpace(t, p);
        if (p >= t.size()) return false;
        const char c = t[p];
        if (c == '{' || c == '[') {
            if (depth == maxElementDepth) return false;
            ++p;
            skipSpace(t, p);
            if (p < t.size() && t[p] == (c == '{' ? '}' : ']')) {
                ++p;  // an empty one is whole at once
            } else {
                objectAt[depth++] = c == '{';
                if (c == '{' && !skipKey(t, p)) return false;
                continue;
            }
        } else if (!skipScalar(t, p)) {
            return false;
        }
        // A value ended: a comma brings the next one, a bracket closes its container.
        while (true) {
            if (depth == 0) return true;
            skipSpace(t, p);
            if (p >= t.size()) return false;
            const char d = t[p++];
            const bool object = objectAt[depth - 1];
            if (d == ',') {
                if (object && !skipKey(t, p)) return false;
                break;
            }
            if (d != (object ? '}' : ']')) return false;
            --depth;
        }
    }
}

LogElementReader::Result LogElementReader::read(std::string_view t, std::size_t p) {
    current = LogFields();
    skipSpace(t, p);
    if (p >= t.size()) return {};
    if (t[p] != '{') {
        if (!skipValue(t, p)) return {};
        return {LogElementKind::OtherValue, p};
    }
    ++p;
    skipSpace(t, p);
    if (p < t.size() && t[p] == '}') return {LogElementKind::Object, p + 1};
    std::optional<std::string_view>* const slots[] = {
        &current.timestamp, &current.subsystem, &current.processImagePath, &current.eventMessage};
    while (true) {
        skipSpace(t, p);
        if (p >= t.size() || t[p] != '"') return {};
        std::string_view key;
        std::uint64_t keyCut = 0;
        // A key without escapes is its bytes: mending cannot make one of the four names.
        std::size_t q = p + 1;
        while (q < t.size() && t[q] != '"' && t[q] != '\\') ++q;
        if (q < t.size() && t[q] == '"') {
            key = t.substr(p + 1, q - p - 1);
            p = q + 1;
        } else if (!readString(t, p, longestKey, keyBuffer, key, keyCut)) {
            return {};
        }
        skipSpace(t, p);
        if (p >= t.size() || t[p] != ':') return {};
        ++p;
        skipSpace(t, p);
        const Slot slot = keyCut == 0 ? slotOf(key) : noSlot;
        if (slot == noSlot) {
            if (!skipValue(t, p)) return {};
        } else if (p < t.size() && t[p] == '"') {
            std::string_view value;
            std::uint64_t cut = 0;
            const std::size_t cap = slot == messageSlot ? maxMessageBytes : maxFieldBytes;
            if (!readString(t, p, cap, buffers[slot], value, cut)) return {};
            *slots[slot] = value;
            if (slot == messageSlot) current.eventMessageCut = cut;
        } else {
            if (!skipValue(t, p)) return {};
            slots[slot]->reset();  // a later duplicate that isn't text hides an earlier one
            if (slot == messageSlot) current.eventMessageCut = 0;
        }
        skipSpace(t, p);
        if (p >= t.size()) return {};
        if (t[p] == '}') return {LogElementKind::Object, p + 1};
        if (t[p] != ',') return {};
        ++p;
    }
}

}  // namespace varko::unifiedlog
