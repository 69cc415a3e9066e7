#include "format/plist/textencoding.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "format/plist/encoding.h"
#include "format/plist/plist.h"

namespace varko::plist::detail {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes it leaves
// undefined keep their Latin-1 meaning, as browsers read them, so nothing is lost.
// Rows of eight, to be checked against the published tables.
// clang-format off
constexpr std::array<char16_t, 32> windows1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Mac OS Roman from 0x80, as Apple maps it today: the euro sign at 0xDB (since
// Mac OS 8.5), U+2206 and U+03A9 at 0xC6 and 0xBD, the Apple logo at 0xF0 in
// the private-use area.
constexpr std::array<char16_t, 128> macRomanHigh{
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};
// clang-format on

// Names as the IANA charset registry and the platform's encoding tables spell them.
struct NamedEncoding {
    std::string_view name;
    TextEncoding encoding;
};
constexpr std::array<NamedEncoding, 22> encodingNames{{
    {"utf-8", TextEncoding::Utf8},         {"utf8", TextEncoding::Utf8},
    {"us-ascii", TextEncoding::Utf8},      {"ascii", TextEncoding::Utf8},
    {"iso-8859-1", TextEncoding::Latin1},  {"iso8859-1", TextEncoding::Latin1},
    {"iso_8859-1", TextEncoding::Latin1},  {"iso_8859-1:1987", TextEncoding::Latin1},
    {"latin1", TextEncoding::Latin1},      {"latin-1", TextEncoding::Latin1},
    {"l1", TextEncoding::Latin1},          {"iso-ir-100", TextEncoding::Latin1},
    {"ibm819", TextEncoding::Latin1},      {"cp819", TextEncoding::Latin1},
    {"csisolatin1", TextEncoding::Latin1}, {"windows-1252", TextEncoding::Windows1252},
    {"cp1252", TextEncoding::Windows1252}, {"x-cp1252", TextEncoding::Windows1252},
    {"macintosh", TextEncoding::MacRoman}, {"x-mac-roman", TextEncoding::MacRoman},
    {"macroman", TextEncoding::MacRoman},  {"csmacintosh", TextEncoding::MacRoman},
}};

// A declaration is a few dozen bytes; a hostile one is not read to its end.
constexpr std::size_t maxDeclarationBytes = 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
}

void skipSpace(std::string_view& s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
}

// The declaration's pseudo-attributes in XML's own grammar: name, '=', quoted value.
std::optional<std::string_view> declaredEncoding(std::string_view s) {
    // Leading whitespace is tolerated, as format detection and the XML reader do.
    skipSpace(s);
    if (!s.starts_with("<?xml")) return std::nullopt;
    s.remove_prefix(5);
    if (s.empty() || !isSpace(s.front())) return std::nullopt;
    s = s.substr(0, maxDeclarationBytes);
    s = s.substr(0, s.find("?>"));
    while (true) {
        skipSpace(s);
        std::size_t n = 0;
        while (n < s.size() && isNameChar(s[n])) ++n;
        if (n == 0) return std::nullopt;
        const std::string_view name = s.substr(0, n);
        s.remove_prefix(n);
        skipSpace(s);
        if (s.empty() || s.front() != '=') return std::nullopt;
        s.remove_prefix(1);
        skipSpace(s);
        if (s.empty() || (s.front() != '"' && s.front() != '\'')) return std::nullopt;
        const char quote = s.front();
        s.remove_prefix(1);
        const std::size_t end = s.find(quote);
        if (end == std::string_view::npos) return std::nullopt;
        if (name == "encoding") return s.substr(0, end);
        s.remove_prefix(end + 1);
    }
}

// Compared without regard to case. Only encodings that keep ASCII in single bytes
// are named: a declaration found by reading single bytes cannot be right about
// UTF-16, so such a name, like any unknown one, leaves the text as UTF-8.
std::optional<TextEncoding> encodingNamed(std::string_view name) {
    for (const NamedEncoding& known : encodingNames) {
        if (known.name.size() != name.size()) continue;
        const bool same =
            std::equal(name.begin(), name.end(), known.name.begin(), [](char a, char b) {
                if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
                return a == b;
            });
        if (same) return known.encoding;
    }
    return std::nullopt;
}

std::uint8_t byteAt(std::span<const std::byte> bytes, std::size_t i) {
    return static_cast<std::uint8_t>(bytes[i]);
}

void decodeUtf16(std::span<const std::byte> body, bool bigEndian, std::string& out) {
    out.reserve(body.size() / 2 * 3);
    std::uint32_t high = 0;  // a high surrogate waiting for its partner
    for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
        const std::uint32_t first = byteAt(body, i), second = byteAt(body, i + 1);
        const std::uint32_t unit = bigEndian ? (first << 8 | second) : (second << 8 | first);
        if (high && unit >= 0xDC00 && unit <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            high = 0;
            continue;
        }
        if (high) appendUtf8(out, 0xFFFD);
        high = 0;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            high = unit;
            continue;
        }
        appendUtf8(out, unit);  // a lone low surrogate comes out as U+FFFD
    }
    if (high) appendUtf8(out, 0xFFFD);
}

void decodeUtf32(std::span<const std::byte> body, bool bigEndian, std::string& out) {
    out.reserve(body.size());
    for (std::size_t i = 0; i + 3 < body.size(); i += 4) {
        std::uint32_t unit = 0;
        for (std::size_t k = 0; k < 4; ++k)
            unit = unit << 8 | byteAt(body, bigEndian ? i + k : i + 3 - k);
        appendUtf8(out, unit);
    }
}

void decodeSingleByte(std::span<const std::byte> body, TextEncoding encoding, std::string& out) {
    std::size_t high = 0;
    for (std::byte b : body) high += static_cast<std::uint8_t>(b) >= 0x80;
    out.reserve(body.size() + 2 * high);
    for (std::byte b : body) {
        const std::uint8_t c = static_cast<std::uint8_t>(b);
        std::uint32_t cp = c;
        if (encoding == TextEncoding::MacRoman && c >= 0x80)
            cp = macRomanHigh[c - 0x80];
        else if (encoding == TextEncoding::Windows1252 && c >= 0x80 && c < 0xA0)
            cp = windows1252High[c - 0x80];
        appendUtf8(out, cp);
    }
}

}  // namespace

SniffedEncoding sniffEncoding(std::span<const std::byte> bytes, Sniff where) {
    const std::size_t n = bytes.size();
    std::array<int, 4> b{-1, -1, -1, -1};
    for (std::size_t i = 0; i < std::min<std::size_t>(n, 4); ++i) b[i] = byteAt(bytes, i);

    if (b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF)
        return {TextEncoding::Utf32BE, 4};
    // Before UTF-16: FF FE 00 00 is read as UTF-32, not as UTF-16 opening with U+0000.
    if (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00)
        return {TextEncoding::Utf32LE, 4};
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {TextEncoding::Utf8, 3};
    if (b[0] == 0xFF && b[1] == 0xFE) return {TextEncoding::Utf16LE, 2};
    if (b[0] == 0xFE && b[1] == 0xFF) return {TextEncoding::Utf16BE, 2};
    if (where == Sniff::MarkOnly) return {};

    // Unmarked wide text: XML opens with an ASCII character, so the NULs around
    // the first one tell the width and the order of the units.
    if (b[0] > 0 && b[1] == 0 && b[2] == 0 && b[3] == 0) return {TextEncoding::Utf32LE, 0};
    if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] > 0) return {TextEncoding::Utf32BE, 0};
    if (b[0] > 0 && b[1] == 0) return {TextEncoding::Utf16LE, 0};
    if (b[0] == 0 && b[1] > 0) return {TextEncoding::Utf16BE, 0};

    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), n);
    if (const auto name = declaredEncoding(text))
        if (const auto named = encodingNamed(*name)) return {*named, 0};
    return {};
}

Expected<Utf8Text> Utf8Text::decode(std::span<const std::byte> bytes, SniffedEncoding how) {
    how.markSize = std::min(how.markSize, bytes.size());
    Utf8Text text(bytes, how);
    if (how.encoding == TextEncoding::Utf8) return text;

    const std::span<const std::byte> body = bytes.subspan(how.markSize);
    // Converting can triple the size (one byte of Mac OS Roman to three of UTF-8).
    if (body.size() > maxConvertedTextBytes)
        return Error{0,
                     "text of " + std::to_string(body.size()) +
                         " bytes to convert to UTF-8, more than the " +
                         std::to_string(maxConvertedTextBytes) + " that are converted",
                     ErrorCode::tooLarge};
    switch (how.encoding) {
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE:
            if (body.size() % 2 != 0)
                return Error{bytes.size() - 1, "UTF-16 text ends in half a character",
                             ErrorCode::truncated};
            decodeUtf16(body, how.encoding == TextEncoding::Utf16BE, text.converted);
            break;
        case TextEncoding::Utf32LE:
        case TextEncoding::Utf32BE:
            if (body.size() % 4 != 0)
                return Error{bytes.size() - body.size() % 4,
                             "UTF-32 text ends in part of a character", ErrorCode::truncated};
            decodeUtf32(body, how.encoding == TextEncoding::Utf32BE, text.converted);
            break;
        case TextEncoding::Latin1:
        case TextEncoding::Windows1252:
        case TextEncoding::MacRoman:
            decodeSingleByte(body, how.encoding, text.converted);
            break;
        case TextEncoding::Utf8:
            break;
    }
    return text;
}

std::span<const std::byte> Utf8Text::bytes() const {
    if (how.encoding == TextEncoding::Utf8) return original.subspan(how.markSize);
    return std::as_bytes(std::span(converted.data(), converted.size()));
}

std::uint64_t Utf8Text::originalOffset(std::uint64_t offset) const {
    if (how.encoding == TextEncoding::Utf8)
        return std::min<std::uint64_t>(how.markSize + offset, original.size());
    // Count the characters before the one at `offset`; each took a known number of
    // original bytes, which UTF-8's lead byte tells for UTF-16.
    std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(offset, converted.size()));
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(converted[i]); };
    while (end > 0 && end < converted.size() && (at(end) & 0xC0) == 0x80) --end;
    std::uint64_t pos = how.markSize;
    for (std::size_t i = 0; i < end; ++i) {
        const std::uint8_t c = at(i);
        if ((c & 0xC0) == 0x80) continue;
        switch (how.encoding) {
            case TextEncoding::Utf16LE:
            case TextEncoding::Utf16BE:
                pos += c >= 0xF0 ? 4 : 2;
                break;
            case TextEncoding::Utf32LE:
            case TextEncoding::Utf32BE:
                pos += 4;
                break;
            default:
                pos += 1;
                break;
        }
    }
    return std::min<std::uint64_t>(pos, original.size());
}

}  // namespace varko::plist::detail
