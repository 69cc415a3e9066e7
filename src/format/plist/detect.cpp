#include <string_view>

#include "format/plist/plist.h"

namespace varko::plist {

Format detectFormat(std::span<const std::byte> bytes) {
    std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (s.starts_with("bplist00")) return Format::Binary;
    if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
    while (!s.empty() && (s[0] == ' ' || s[0] == '\t' || s[0] == '\n' || s[0] == '\r'))
        s.remove_prefix(1);
    // `<!--` cannot begin OpenStep text, whose `<` opens hexadecimal data.
    for (std::string_view prefix : {"<?xml", "<!DOCTYPE", "<plist", "<!--"})
        if (s.starts_with(prefix)) return Format::Xml;
    return Format::OpenStep;
}

Expected<Value> parse(std::span<const std::byte> bytes) {
    if (bytes.empty()) return Error{0, "empty property list"};
    switch (detectFormat(bytes)) {
        case Format::Binary:
            return parseBinary(bytes);
        case Format::Xml:
            return parseXml(bytes);
        case Format::OpenStep:
            break;
    }
    return parseOpenStep(bytes);
}

Expected<Value> parse(std::string_view bytes) {
    return parse(std::as_bytes(std::span(bytes.data(), bytes.size())));
}

}  // namespace varko::plist
