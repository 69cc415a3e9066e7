// The RTF writer over arbitrary text, colours, sizes and font names. Its output is read
// back by a strict reader of the subset it writes: printable ASCII only, groups balanced,
// every control word known and in range, each \u followed by its one fallback, and the
// text and each character's colour and size must come back as they went in.
//
// Input: a colour count (mod 17), three bytes per colour, the font name up to a zero byte,
// then runs of colour (signed byte), size code, 16-bit little-endian length and that many
// bytes of UTF-8 (bytes that are not UTF-8 become lone surrogates, to reach every unit).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/rtf/rtfwriter.h"

namespace {

[[noreturn]] void fail(const char* why, const std::string& doc) {
    std::fprintf(stderr, "malformed RTF: %s\n%s\n", why, doc.c_str());
    std::abort();
}

std::u16string utf16(std::string_view bytes) {
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int extra = b < 0x80 ? 0 : b >> 5 == 6 ? 1 : b >> 4 == 14 ? 2 : b >> 3 == 30 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1f : extra == 2 ? b & 0x0f : b & 0x07;
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < bytes.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto cont = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            ok = cont >> 6 == 2;
            c = c << 6 | (cont & 0x3f);
        }
        if (!ok || c > 0x10ffff) {
            out += static_cast<char16_t>(0xdc00 + b);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

double pointsFor(std::uint8_t code) {
    switch (code) {
        case 251:
            return std::numeric_limits<double>::quiet_NaN();
        case 252:
            return std::numeric_limits<double>::infinity();
        case 253:
            return -std::numeric_limits<double>::infinity();
        case 254:
            return -12;
        case 255:
            return 1e300;
        default:
            return code * 0.5;
    }
}

struct Styled {
    char16_t c;
    int colour;      // what the character must be shown in
    int halfPoints;  // 0: any legal size
};

/// Reads the document back; fails on anything the writer should never produce.
void check(const std::string& doc, int colourCount, const std::vector<Styled>& expected) {
    for (unsigned char c : doc)
        if ((c < 0x20 || c >= 0x7f) && c != '\n') fail("a byte outside printable ASCII", doc);
    if (doc.rfind("{\\rtf1", 0) != 0) fail("no {\\rtf1 header", doc);

    int depth = 0;
    std::string destination;  // the first control word of the group at depth 2
    std::string fontName;
    int fontEntries = 0, colourEntries = 0;
    int cf = 0, fs = 24;
    std::size_t decoded = 0;
    const auto text = [&](char16_t c) {
        if (depth == 3 && destination == "fonttbl") {
            fontName += static_cast<char>(c);
            if (c == ';') ++fontEntries;
        } else if (depth == 2 && destination == "colortbl") {
            if (c != ';') fail("text in the colour table", doc);
            ++colourEntries;
        } else if (depth == 1) {
            if (decoded >= expected.size() || expected[decoded].c != c)
                fail("the text differs", doc);
            if (expected[decoded].colour != cf) fail("a character in the wrong colour", doc);
            if (expected[decoded].halfPoints ? expected[decoded].halfPoints != fs
                                             : fs < 2 || fs > 2000)
                fail("a character in the wrong size", doc);
            ++decoded;
        } else {
            fail("text outside the body and tables", doc);
        }
    };

    std::size_t i = 0;
    bool startGroup = false;
    while (i < doc.size()) {
        const char c = doc[i];
        if (c == '{') {
            ++depth;
            startGroup = true;
            ++i;
            continue;
        }
        if (c == '}') {
            if (--depth < 0) fail("a group closes that was never opened", doc);
            if (depth == 1) destination.clear();
            ++i;
            if (depth > 0) continue;
            if (doc.compare(i, std::string::npos, "\n") != 0) fail("bytes after the document", doc);
            break;
        }
        if (depth == 0) fail("text outside the document's group", doc);
        if (c == '\n') {  // readers ignore bare line ends
            ++i;
            continue;
        }
        if (c != '\\') {
            text(static_cast<char16_t>(c));
            startGroup = false;
            ++i;
            continue;
        }
        if (++i >= doc.size()) fail("a backslash ends the document", doc);
        const char s = doc[i];
        if (s == '\\' || s == '{' || s == '}') {
            text(static_cast<char16_t>(s));
            startGroup = false;
            ++i;
            continue;
        }
        if (s == '\'') fail("a hex escape outside a \\u fallback", doc);
        if (!std::isalpha(static_cast<unsigned char>(s))) fail("an unknown control symbol", doc);
        std::size_t end = i;
        while (end < doc.size() && std::isalpha(static_cast<unsigned char>(doc[end]))) ++end;
        const std::string word = doc.substr(i, end - i);
        std::optional<long> number;
        const bool minus = end < doc.size() && doc[end] == '-';
        const std::size_t firstDigit = end + (minus ? 1 : 0);
        std::size_t digits = firstDigit;
        while (digits < doc.size() && std::isdigit(static_cast<unsigned char>(doc[digits])))
            ++digits;
        if (digits > firstDigit) {
            if (digits - firstDigit > 6) fail("a parameter too long", doc);
            number = std::strtol(doc.c_str() + end, nullptr, 10);
        } else if (minus) {
            fail("a lone minus after a control word", doc);
        }
        i = digits;
        if (i < doc.size() && doc[i] == ' ') ++i;  // the delimiter is part of the word
        if (startGroup && depth == 2) destination = word;
        startGroup = false;

        const auto in = [&](long lo, long hi) {
            if (!number || *number < lo || *number > hi)
                fail(("\\" + word + " out of range").c_str(), doc);
        };
        const auto bare = [&] {
            if (number) fail(("\\" + word + " takes no number").c_str(), doc);
        };
        if (word == "rtf" || word == "uc")
            in(1, 1);
        else if (word == "ansicpg")
            in(1252, 1252);
        else if (word == "deff" || word == "f" || word == "fcharset")
            in(0, 0);
        else if (word == "ansi" || word == "fonttbl" || word == "fmodern" || word == "colortbl" ||
                 word == "pard" || word == "plain")
            bare();
        else if (word == "red" || word == "green" || word == "blue")
            in(0, 255);
        else if (word == "cf")
            in(0, colourCount), cf = static_cast<int>(*number);
        else if (word == "fs")
            in(2, 2000), fs = static_cast<int>(*number);
        else if (word == "par")
            bare(), text(u'\n');
        else if (word == "tab")
            bare(), text(u'\t');
        else if (word == "u") {
            in(-32768, 32767);
            const auto unit = static_cast<char16_t>(*number < 0 ? *number + 0x10000 : *number);
            // \uc1: exactly one fallback follows, and it must be a hex escape.
            if (doc.compare(i, 2, "\\'") != 0 || i + 4 > doc.size() ||
                !std::isxdigit(static_cast<unsigned char>(doc[i + 2])) ||
                !std::isxdigit(static_cast<unsigned char>(doc[i + 3])))
                fail("\\u without its fallback", doc);
            if (unit >= 0x20 && unit < 0x7f && unit != u'\\' && unit != u'{' && unit != u'}')
                fail("printable ASCII escaped as \\u", doc);
            i += 4;
            text(unit);
        } else {
            fail(("unknown control word \\" + word).c_str(), doc);
        }
    }
    if (depth != 0) fail("groups left open", doc);
    if (decoded != expected.size()) fail("text is missing", doc);
    if (fontEntries != 1 || fontName.size() < 2 || fontName.find(';') != fontName.size() - 1)
        fail("the font table does not hold one named font", doc);
    if (colourEntries != colourCount + 1) fail("the colour table has the wrong size", doc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    if (in.empty()) return 0;
    const int colourCount = static_cast<unsigned char>(in[0]) % 17;
    in.remove_prefix(1);
    std::vector<varko::rtf::Colour> colours;
    for (int k = 0; k < colourCount; ++k) {
        if (in.size() < 3) return 0;
        colours.push_back({static_cast<std::uint8_t>(in[0]), static_cast<std::uint8_t>(in[1]),
                           static_cast<std::uint8_t>(in[2])});
        in.remove_prefix(3);
    }
    const std::size_t nameEnd = std::min(in.find('\0'), in.size());
    varko::rtf::Writer writer(in.substr(0, nameEnd), colours);
    in.remove_prefix(std::min(nameEnd + 1, in.size()));

    std::vector<Styled> expected;
    while (in.size() >= 4) {
        const int colour = static_cast<signed char>(in[0]);
        const double points = pointsFor(static_cast<std::uint8_t>(in[1]));
        const std::size_t length = std::min<std::size_t>(
            static_cast<unsigned char>(in[2]) | static_cast<unsigned char>(in[3]) << 8,
            in.size() - 4);
        const std::u16string text = utf16(in.substr(4, length));
        in.remove_prefix(4 + length);
        writer.append(text, colour, points);
        const int shownColour = colour >= 0 && colour <= colourCount ? colour : 0;
        const int halfPoints = std::isfinite(points) && points >= 1 && points <= 1000
                                   ? static_cast<int>(std::lround(points * 2))
                                   : 0;
        for (char16_t c : text) expected.push_back({c, shownColour, halfPoints});
    }
    check(writer.finish(), colourCount, expected);
    return 0;
}
