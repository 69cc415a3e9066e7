#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "format/hex.h"
#include "format/plist/calendar.h"
#include "format/plist/plist.h"
#include "format/plist/realtext.h"

namespace varko::plist {

namespace {

void indent(std::string& out, int level) {
    out.append(static_cast<std::size_t>(level) * 4, ' ');
}

// The shortest %g text that reads back as the same double, as Foundation prints it.
std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    std::string text;
    for (int precision = 1; precision <= 17; ++precision) {
        text = printReal(d, precision);
        if (readReal(text) == d) break;
    }
    return text;
}

std::string formatData(const Data& data) {
    std::string out = "{length = " + std::to_string(data.size()) + ", bytes = 0x";
    if (data.size() <= 24) {
        out += hex(data);
    } else {
        out += hex(std::span(data).first(16)) + " ... " + hex(std::span(data).last(8));
    }
    return out + "}";
}

void quoted(std::string& out, std::string_view s) {
    const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') ||
               (u >= 'A' && u <= 'Z');
    });
    if (plain) {
        out += s;
        return;
    }
    out += '"';
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string leaf(const Value& v) {
    switch (v.type()) {
        case Type::String:
            return *v.string();
        case Type::Boolean:
            return *v.boolean() ? "1" : "0";
        case Type::Integer:
            return v.integer()->isUnsigned ? std::to_string(v.integer()->bits)
                                           : std::to_string(v.integer()->asSigned());
        case Type::Real:
            return formatReal(*v.real());
        case Type::Date:
            return detail::formatDescriptionDate(v.date()->secondsSince2001);
        case Type::Data:
            return formatData(*v.data());
        case Type::Uid:
            return "<CFKeyedArchiverUID>{value = " + std::to_string(v.uid()->value) + "}";
        default:
            return {};
    }
}

void describe(std::string& out, const Value& v, int level, bool nested) {
    if (const Array* items = v.array()) {
        out += "(\n";
        for (std::size_t i = 0; i < items->size(); ++i) {
            indent(out, level + 1);
            describe(out, (*items)[i], level + 1, true);
            if (i + 1 < items->size()) out += ',';
            out += '\n';
        }
        indent(out, level);
        out += ')';
        return;
    }
    if (const Dictionary* dict = v.dictionary()) {
        // Foundation lists string keys in ascending order.
        std::vector<const Dictionary::Entry*> sorted;
        sorted.reserve(dict->size());
        for (const auto& entry : *dict) sorted.push_back(&entry);
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto* a, const auto* b) { return a->first < b->first; });
        out += "{\n";
        for (const auto* entry : sorted) {
            indent(out, level + 1);
            quoted(out, entry->first);
            out += " = ";
            describe(out, entry->second, level + 1, true);
            out += ";\n";
        }
        indent(out, level);
        out += '}';
        return;
    }
    // Data and UIDs describe themselves in braces and are never quoted; texts,
    // numbers and dates are, when they hold punctuation or blanks.
    if (!nested || v.type() == Type::Data || v.type() == Type::Uid) {
        out += leaf(v);
        return;
    }
    quoted(out, leaf(v));
}

}  // namespace

std::string describe(const Value& value) {
    std::string out;
    describe(out, value, 0, false);
    return out;
}

}  // namespace varko::plist
