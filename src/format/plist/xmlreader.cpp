#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <pugixml.hpp>

#include "format/plist/calendar.h"
#include "format/plist/encoding.h"
#include "format/plist/plist.h"
#include "format/plist/textencoding.h"

namespace varko::plist {

namespace {

// Worded once, in parseXml, when the offset is one in the bytes as given.
Error fail(std::uint64_t at, std::string_view what) {
    return Error{at, std::string(what)};
}

Error worded(const Error& raw) {
    return Error{raw.offset, "malformed XML property list (at byte " + std::to_string(raw.offset) +
                                 ": " + raw.message + ")"};
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::uint64_t offsetOf(const pugi::xml_node& node) {
    const std::ptrdiff_t off = node.offset_debug();
    if (off < 0) return 0;
    // Elements report the position of their name; the tag starts one byte earlier.
    return node.type() == pugi::node_element && off > 0 ? static_cast<std::uint64_t>(off - 1)
                                                        : static_cast<std::uint64_t>(off);
}

bool lowerEquals(std::string_view s, std::string_view lower) {
    if (s.size() != lower.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// The forms the platform's reader takes: optional sign, decimal or 0x hex.
std::optional<Integer> parseInteger(std::string_view s, std::string& why) {
    s = trim(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) {
        why = "integer has no digits";
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec == std::errc::result_out_of_range) {
        why = "integer does not fit in 64 bits";
        return std::nullopt;
    }
    if (ec != std::errc() || end != s.data() + s.size()) {
        why = "integer holds a character that is not a digit";
        return std::nullopt;
    }
    constexpr auto signedMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > signedMax + 1) {
            why = "integer does not fit in 64 bits";
            return std::nullopt;
        }
        return Integer{0 - magnitude, false};
    }
    return Integer{magnitude, magnitude > signedMax};
}

std::optional<double> parseReal(std::string_view s) {
    s = trim(s);
    if (lowerEquals(s, "nan")) return std::numeric_limits<double>::quiet_NaN();
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (lowerEquals(s, "infinity") || lowerEquals(s, "inf"))
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    // from_chars would take these, and a second sign, which the platform does not.
    if (s.empty() || s[0] == '-' || s[0] == '+' || lowerEquals(s, "nan")) return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return negative ? -v : v;
}

class XmlConverter {
public:
    Expected<Value> convert(const pugi::xml_node& node, int depth) {
        const std::string_view name = node.name();
        const std::uint64_t at = offsetOf(node);
        if (name == "string") {
            auto text = textOf(node);
            if (!text) return text.error();
            return Value(std::move(*text));
        }
        if (name == "dict") return dictionary(node, depth);
        if (name == "array") return array(node, depth);
        if (name == "true" || name == "false") {
            if (node.first_child()) {
                for (auto child : node.children())
                    if (child.type() != pugi::node_pcdata || !trim(child.value()).empty())
                        return fail(offsetOf(child), "<" + std::string(name) + "/> has content");
            }
            return Value(name == "true");
        }
        auto text = textOf(node);
        if (!text) return text.error();
        if (name == "integer") {
            std::string why;
            auto v = parseInteger(*text, why);
            if (!v) return fail(at, why);
            return Value(*v);
        }
        if (name == "real") {
            auto v = parseReal(*text);
            if (!v) return fail(at, "real is not a number");
            return Value(*v);
        }
        if (name == "date") {
            auto v = detail::parseIsoDate(trim(*text));
            if (!v) return fail(at, "date is not of the form YYYY-MM-DDTHH:MM:SSZ");
            return Value(Date{*v});
        }
        if (name == "data") {
            std::size_t badAt = 0;
            auto v = detail::decodeBase64(*text, badAt);
            if (!v) return fail(at, "data is not valid base64");
            return Value(std::move(*v));
        }
        if (name == "key") return fail(at, "<key> outside a dictionary");
        return fail(at, "unknown element <" + std::string(name) + ">");
    }

private:
    // Character data of an element that may hold only text.
    static Expected<std::string> textOf(const pugi::xml_node& node) {
        std::string text;
        for (auto child : node.children()) {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
                text += child.value();
            } else if (child.type() == pugi::node_element) {
                return fail(offsetOf(child), "<" + std::string(node.name()) +
                                                 "> holds the element <" + child.name() + ">");
            }
        }
        return text;
    }

    // Between the elements of a collection only whitespace may stand.
    static std::optional<Error> strayText(const pugi::xml_node& child) {
        if (child.type() == pugi::node_element) return std::nullopt;
        if (child.type() == pugi::node_pcdata && trim(child.value()).empty()) return std::nullopt;
        return fail(offsetOf(child), "text between the elements of a collection");
    }

    Expected<Value> array(const pugi::xml_node& node, int depth) {
        if (depth > maxDepth) return fail(offsetOf(node), "nesting is too deep");
        Array items;
        for (auto child : node.children()) {
            if (auto e = strayText(child)) return *e;
            if (child.type() != pugi::node_element) continue;
            auto item = convert(child, depth + 1);
            if (!item) return item;
            items.push_back(std::move(*item));
        }
        return Value(std::move(items));
    }

    Expected<Value> dictionary(const pugi::xml_node& node, int depth) {
        if (depth > maxDepth) return fail(offsetOf(node), "nesting is too deep");
        Dictionary dict;
        std::optional<std::string> key;
        pugi::xml_node keyNode;
        for (auto child : node.children()) {
            if (auto e = strayText(child)) return *e;
            if (child.type() != pugi::node_element) continue;
            if (!key) {
                if (std::strcmp(child.name(), "key") != 0)
                    return fail(offsetOf(child), "dictionary holds <" + std::string(child.name()) +
                                                     "> where a <key> belongs");
                auto text = textOf(child);
                if (!text) return text.error();
                key = std::move(*text);
                keyNode = child;
                continue;
            }
            if (std::strcmp(child.name(), "key") == 0)
                return fail(offsetOf(keyNode), "key \"" + *key + "\" has no value");
            auto value = convert(child, depth + 1);
            if (!value) return value;
            dict.set(std::move(*key), std::move(*value));
            key.reset();
        }
        if (key) return fail(offsetOf(keyNode), "key \"" + *key + "\" has no value");
        // Keyed archives in XML write their object references this way.
        if (dict.size() == 1) {
            const Value* uid = dict.find("CF$UID");
            if (uid && uid->integer() &&
                (uid->integer()->isUnsigned || uid->integer()->asSigned() >= 0))
                return Value(Uid{uid->integer()->bits});
        }
        return Value(std::move(dict));
    }
};

Expected<Value> readXml(std::span<const std::byte> bytes) {
    // pugixml ends strings at a NUL, which would silently shorten the data.
    if (const void* nul = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size()))
        return fail(static_cast<std::uint64_t>(static_cast<const std::byte*>(nul) - bytes.data()),
                    "NUL byte in XML");
    pugi::xml_document doc;
    // No DOCTYPE, entity or processing-instruction handling: nothing expands.
    // Line ends stay as they are, as the platform's reader keeps them.
    constexpr unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata;
    const auto result = doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_utf8);
    if (!result) return fail(static_cast<std::uint64_t>(result.offset), result.description());

    pugi::xml_node root;
    for (auto child : doc.children()) {
        if (child.type() != pugi::node_element) continue;
        if (root) return fail(offsetOf(child), "more than one root element");
        root = child;
    }
    if (!root) return fail(0, "no root element");
    if (std::strcmp(root.name(), "plist") == 0) {
        pugi::xml_node value;
        for (auto child : root.children()) {
            if (child.type() == pugi::node_pcdata && trim(child.value()).empty()) continue;
            if (child.type() != pugi::node_element)
                return fail(offsetOf(child), "text inside <plist>");
            if (value) return fail(offsetOf(child), "<plist> holds more than one value");
            value = child;
        }
        if (!value) return fail(offsetOf(root), "<plist> holds no value");
        root = value;
    }
    return XmlConverter().convert(root, 1);
}

}  // namespace

Expected<Value> parseXml(std::span<const std::byte> bytes) {
    if (bytes.empty()) return Error{0, "empty property list"};
    try {
        const auto text =
            detail::Utf8Text::decode(bytes, detail::sniffEncoding(bytes, detail::Sniff::Xml));
        if (!text) return worded(text.error());
        auto value = readXml(text->bytes());
        if (value) return value;
        Error error = value.error();
        error.offset = text->originalOffset(error.offset);
        return worded(error);
    } catch (const std::exception&) {
        return Error{0, "malformed XML property list (not enough memory to read it)"};
    }
}

}  // namespace varko::plist
