#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "format/plist/calendar.h"
#include "format/plist/plist.h"
#include "format/plist/realtext.h"

namespace varko::plist {

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void indent(std::string& out, int level) {
    out.append(static_cast<std::size_t>(level), '\t');
}

void escaped(std::string& out, std::string_view s) {
    for (const char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
    if (d == 0) return "0.0";
    return printReal(d, 17);
}

std::string formatInteger(const Integer& i) {
    return i.isUnsigned ? std::to_string(i.bits) : std::to_string(i.asSigned());
}

// Lines are cut where the platform cuts them: indentation counts eight columns a
// tab against a 76-column line, and at most eight tabs are counted.
void base64Lines(std::string& out, const Data& data, int level) {
    const int tabs = std::min(level, 8);
    const std::size_t limit = static_cast<std::size_t>(76 - 8 * tabs);
    std::string line;
    auto flush = [&] {
        indent(out, tabs);
        out += line;
        out += '\n';
        line.clear();
    };
    std::size_t i = 0;
    for (; i < data.size(); ++i) {
        const unsigned cur = data[i];
        const unsigned prev = i > 0 ? data[i - 1] : 0;
        switch (i % 3) {
            case 0:
                line += base64Alphabet[(cur >> 2) & 0x3F];
                break;
            case 1:
                line += base64Alphabet[(((prev << 8) | cur) >> 4) & 0x3F];
                break;
            default:
                line += base64Alphabet[(((prev << 8) | cur) >> 6) & 0x3F];
                line += base64Alphabet[cur & 0x3F];
        }
        if (line.size() >= limit) flush();
    }
    if (i % 3 == 1) {
        line += base64Alphabet[(data[i - 1] << 4) & 0x30];
        line += "==";
    } else if (i % 3 == 2) {
        line += base64Alphabet[(data[i - 1] << 2) & 0x3C];
        line += '=';
    }
    if (!line.empty()) flush();
}

void write(std::string& out, const Value& v, int level);

void writeDictionary(std::string& out, const Dictionary& dict, int level) {
    if (dict.empty()) {
        out += "<dict/>\n";
        return;
    }
    out += "<dict>\n";
    // The platform writes keys sorted, whatever order they were read in.
    std::vector<const Dictionary::Entry*> sorted;
    sorted.reserve(dict.size());
    for (const auto& entry : dict) sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const auto* entry : sorted) {
        indent(out, level + 1);
        out += "<key>";
        escaped(out, entry->first);
        out += "</key>\n";
        write(out, entry->second, level + 1);
    }
    indent(out, level);
    out += "</dict>\n";
}

void write(std::string& out, const Value& v, int level) {
    indent(out, level);
    switch (v.type()) {
        case Type::String:
            out += "<string>";
            escaped(out, *v.string());
            out += "</string>\n";
            break;
        case Type::Boolean:
            out += *v.boolean() ? "<true/>\n" : "<false/>\n";
            break;
        case Type::Integer:
            out += "<integer>" + formatInteger(*v.integer()) + "</integer>\n";
            break;
        case Type::Real:
            out += "<real>" + formatReal(*v.real()) + "</real>\n";
            break;
        case Type::Date:
            out += "<date>" + detail::formatIsoDate(v.date()->secondsSince2001) + "</date>\n";
            break;
        case Type::Data:
            out += "<data>\n";
            base64Lines(out, *v.data(), level);
            indent(out, level);
            out += "</data>\n";
            break;
        case Type::Array: {
            const Array& items = *v.array();
            if (items.empty()) {
                out += "<array/>\n";
                break;
            }
            out += "<array>\n";
            for (const Value& item : items) write(out, item, level + 1);
            indent(out, level);
            out += "</array>\n";
            break;
        }
        case Type::Dictionary:
            writeDictionary(out, *v.dictionary(), level);
            break;
        case Type::Uid: {
            // Keyed archives' references have no XML element; the platform writes a
            // one-key dictionary, which its reader (and ours) turns back into a UID.
            out += "<dict>\n";
            indent(out, level + 1);
            out += "<key>CF$UID</key>\n";
            indent(out, level + 1);
            out += "<integer>" +
                   formatInteger(Integer{v.uid()->value, v.uid()->value > INT64_MAX}) +
                   "</integer>\n";
            indent(out, level);
            out += "</dict>\n";
            break;
        }
    }
}

}  // namespace

std::string writeXml(const Value& value) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    write(out, value, 0);
    out += "</plist>\n";
    return out;
}

}  // namespace varko::plist
