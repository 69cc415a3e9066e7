#include "format/rtf/rtfwriter.h"

#include <algorithm>
#include <cmath>

namespace varko::rtf {

namespace {

void appendNumber(std::string& out, long value) {
    out += std::to_string(value);
}

}  // namespace

Writer::Writer(std::string_view fontName, const std::vector<Colour>& colours)
    : colourCount(int(colours.size())) {
    out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl{\\f0\\fmodern\\fcharset0 ";
    // A font name ends at ';' in the table, and braces or backslashes would end the group.
    const std::size_t nameStart = out.size();
    for (char c : fontName) {
        if (c == ';' || c == '{' || c == '}' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ||
            static_cast<unsigned char>(c) >= 0x7f)
            continue;
        out += c;
    }
    // A name of nothing but those characters would leave the font unnamed.
    if (out.size() == nameStart) out += "Courier";
    out += ";}}\n{\\colortbl;";
    for (const Colour& c : colours) {
        out += "\\red";
        appendNumber(out, c.red);
        out += "\\green";
        appendNumber(out, c.green);
        out += "\\blue";
        appendNumber(out, c.blue);
        out += ';';
    }
    out += "}\n\\pard\\plain\\f0";
}

void Writer::append(std::u16string_view text, int colour, double points) {
    if (colour < 0 || colour > colourCount) colour = 0;
    const int halfPoints =
        std::isfinite(points) ? int(std::lround(std::clamp(points, 1.0, 1000.0) * 2)) : 24;
    if (colour != currentColour || halfPoints != currentHalfPoints) {
        out += "\\cf";
        appendNumber(out, colour);
        out += "\\fs";
        appendNumber(out, halfPoints);
        out += ' ';
        currentColour = colour;
        currentHalfPoints = halfPoints;
    }
    escape(text);
}

void Writer::escape(std::u16string_view text) {
    // Written through a pointer into room for the longest escape of every unit
    // ("\\u-32768\\'3f" is 12 bytes): saving a million lines is mostly this loop.
    constexpr std::size_t longestEscape = 12;
    const std::size_t start = out.size();
    out.resize(start + text.size() * longestEscape);
    char* p = out.data() + start;
    const auto put = [&p](std::string_view s) {
        for (char c : s) *p++ = c;
    };
    constexpr char hex[] = "0123456789abcdef";
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7f && c != u'\\' && c != u'{' && c != u'}') {
            *p++ = char(c);
            continue;
        }
        switch (c) {
            case u'\\':
                put("\\\\");
                break;
            case u'{':
                put("\\{");
                break;
            case u'}':
                put("\\}");
                break;
            case u'\n':
                put("\\par\n");
                break;
            case u'\t':
                put("\\tab ");
                break;
            default: {
                // \u takes a signed 16-bit number. The fallback that readers without
                // Unicode show, and that \uc1 skips, is a hex escape: a bare '?' is
                // taken for the control word's delimiter by some readers.
                put("\\u");
                const std::string number = std::to_string(c < 0x8000 ? long(c) : long(c) - 0x10000);
                put(number);
                const unsigned fallback = c >= 0xa0 && c <= 0xff ? unsigned(c) : 0x3f;
                *p++ = '\\';
                *p++ = '\'';
                *p++ = hex[fallback >> 4];
                *p++ = hex[fallback & 15];
            }
        }
    }
    out.resize(std::size_t(p - out.data()));
}

std::string Writer::finish() {
    out += "}\n";
    std::string document = std::move(out);
    out.clear();
    return document;
}

}  // namespace varko::rtf
