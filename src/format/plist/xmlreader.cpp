#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <pugixml.hpp>

#include "format/plist/calendar.h"
#include "format/plist/encoding.h"
#include "format/plist/plist.h"
#include "format/plist/realtext.h"
#include "format/plist/textencoding.h"

namespace varko::plist {

namespace {

// Worded once, in parseXml, when the offset is one in the bytes as given.
Error fail(std::uint64_t at, std::string_view what, ErrorCode code) {
    return Error{at, std::string(what), code};
}

Error worded(const Error& raw) {
    return Error{raw.offset,
                 "malformed XML property list (at byte " + std::to_string(raw.offset) + ": " +
                     raw.message + ")",
                 raw.code};
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

// The forms the platform's reader takes: optional sign, decimal or 0x hex. Errors are
// placed at `at`, the element.
Expected<Integer> parseInteger(std::string_view s, std::uint64_t at) {
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
    if (s.empty()) return fail(at, "integer has no digits", ErrorCode::malformed);
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec == std::errc::result_out_of_range)
        return fail(at, "integer does not fit in 64 bits", ErrorCode::unsupported);
    if (ec != std::errc() || end != s.data() + s.size())
        return fail(at, "integer holds a character that is not a digit", ErrorCode::malformed);
    constexpr auto signedMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > signedMax + 1)
            return fail(at, "integer does not fit in 64 bits", ErrorCode::unsupported);
        return Integer{0 - magnitude, false};
    }
    return Integer{magnitude, magnitude > signedMax};
}

Expected<double> parseReal(std::string_view s, std::uint64_t at) {
    const auto notANumber = [at] { return fail(at, "real is not a number", ErrorCode::malformed); };
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
    // readReal would take these, and a second sign, which the platform does not.
    if (s.empty() || s[0] == '-' || s[0] == '+' || lowerEquals(s, "nan")) return notANumber();
    const std::optional<double> v = readReal(s);
    if (!v) return notANumber();
    return negative ? -*v : *v;
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
                        return fail(offsetOf(child), "<" + std::string(name) + "/> has content",
                                    ErrorCode::malformed);
            }
            return Value(name == "true");
        }
        auto text = textOf(node);
        if (!text) return text.error();
        if (name == "integer") {
            auto v = parseInteger(*text, at);
            if (!v) return v.error();
            return Value(*v);
        }
        if (name == "real") {
            auto v = parseReal(*text, at);
            if (!v) return v.error();
            return Value(*v);
        }
        if (name == "date") {
            auto v = detail::parseIsoDate(trim(*text));
            if (!v) return fail(at, v.error().message, v.error().code);
            return Value(Date{*v});
        }
        if (name == "data") {
            auto v = detail::decodeBase64(*text);
            if (!v) return fail(at, "data is not valid base64", v.error().code);
            return Value(std::move(*v));
        }
        if (name == "key") return fail(at, "<key> outside a dictionary", ErrorCode::malformed);
        return fail(at, "unknown element <" + std::string(name) + ">", ErrorCode::malformed);
    }

private:
    // Character data of an element that may hold only text.
    static Expected<std::string> textOf(const pugi::xml_node& node) {
        std::string text;
        for (auto child : node.children()) {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
                text += child.value();
            } else if (child.type() == pugi::node_element) {
                return fail(
                    offsetOf(child),
                    "<" + std::string(node.name()) + "> holds the element <" + child.name() + ">",
                    ErrorCode::malformed);
            }
        }
        return text;
    }

    // Between the elements of a collection only whitespace may stand.
    static Expected<void> strayText(const pugi::xml_node& child) {
        if (child.type() == pugi::node_element) return {};
        if (child.type() == pugi::node_pcdata && trim(child.value()).empty()) return {};
        return fail(offsetOf(child), "text between the elements of a collection",
                    ErrorCode::malformed);
    }

    Expected<Value> array(const pugi::xml_node& node, int depth) {
        if (depth > maxDepth)
            return fail(offsetOf(node), "nesting is too deep", ErrorCode::tooLarge);
        Array items;
        for (auto child : node.children()) {
            if (auto stray = strayText(child); !stray) return stray.error();
            if (child.type() != pugi::node_element) continue;
            auto item = convert(child, depth + 1);
            if (!item) return item;
            items.push_back(std::move(*item));
        }
        return Value(std::move(items));
    }

    Expected<Value> dictionary(const pugi::xml_node& node, int depth) {
        if (depth > maxDepth)
            return fail(offsetOf(node), "nesting is too deep", ErrorCode::tooLarge);
        Dictionary dict;
        std::optional<std::string> key;
        pugi::xml_node keyNode;
        for (auto child : node.children()) {
            if (auto stray = strayText(child); !stray) return stray.error();
            if (child.type() != pugi::node_element) continue;
            if (!key) {
                if (std::strcmp(child.name(), "key") != 0)
                    return fail(offsetOf(child),
                                "dictionary holds <" + std::string(child.name()) +
                                    "> where a <key> belongs",
                                ErrorCode::malformed);
                auto text = textOf(child);
                if (!text) return text.error();
                key = std::move(*text);
                keyNode = child;
                continue;
            }
            if (std::strcmp(child.name(), "key") == 0)
                return fail(offsetOf(keyNode), "key \"" + *key + "\" has no value",
                            ErrorCode::malformed);
            auto value = convert(child, depth + 1);
            if (!value) return value;
            dict.set(std::move(*key), std::move(*value));
            key.reset();
        }
        if (key)
            return fail(offsetOf(keyNode), "key \"" + *key + "\" has no value",
                        ErrorCode::malformed);
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
                    "NUL byte in XML", ErrorCode::malformed);
    pugi::xml_document doc;
    // No DOCTYPE, entity or processing-instruction handling: nothing expands.
    // Line ends stay as they are, as the platform's reader keeps them.
    constexpr unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata;
    const auto result = doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_utf8);
    if (!result)
        return fail(static_cast<std::uint64_t>(result.offset), result.description(),
                    result.status == pugi::status_out_of_memory ? ErrorCode::tooLarge
                                                                : ErrorCode::malformed);

    pugi::xml_node root;
    for (auto child : doc.children()) {
        if (child.type() != pugi::node_element) continue;
        if (root) return fail(offsetOf(child), "more than one root element", ErrorCode::malformed);
        root = child;
    }
    if (!root) return fail(0, "no root element", ErrorCode::malformed);
    if (std::strcmp(root.name(), "plist") == 0) {
        pugi::xml_node value;
        for (auto child : root.children()) {
            if (child.type() == pugi::node_pcdata && trim(child.value()).empty()) continue;
            if (child.type() != pugi::node_element)
                return fail(offsetOf(child), "text inside <plist>", ErrorCode::malformed);
            if (value)
                return fail(offsetOf(child), "<plist> holds more than one value",
                            ErrorCode::malformed);
            value = child;
        }
        if (!value) return fail(offsetOf(root), "<plist> holds no value", ErrorCode::malformed);
        root = value;
    }
    return XmlConverter().convert(root, 1);
}

}  // namespace

Expected<Value> parseXml(std::span<const std::byte> bytes) {
    if (bytes.empty()) return Error{0, "empty property list", ErrorCode::truncated};
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
        return Error{0, "malformed XML property list (not enough memory to read it)",
                     ErrorCode::tooLarge};
    }
}

}  // namespace varko::plist
