#include <algorithm>
#include <string>
#include <string_view>

#include "format/plist/plist.h"
#include "format/plist/textencoding.h"
#include "format/recentresults.h"

namespace varko::plist {

namespace {

// Enough characters to see past leading whitespace to the first markup.
constexpr std::size_t prefixUnits = 64;

}  // namespace

Format detectFormat(std::span<const std::byte> bytes) {
    std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (s.starts_with("bplist00")) return Format::Binary;

    // Wide text is judged by its first characters, converted; only whole units
    // are taken, so the conversion cannot fail on the cut.
    const detail::SniffedEncoding sniffed = detail::sniffEncoding(bytes, detail::Sniff::Xml);
    std::size_t unit = 1;
    switch (sniffed.encoding) {
        case detail::TextEncoding::Utf16LE:
        case detail::TextEncoding::Utf16BE:
            unit = 2;
            break;
        case detail::TextEncoding::Utf32LE:
        case detail::TextEncoding::Utf32BE:
            unit = 4;
            break;
        default:
            break;
    }
    std::string_view prefixText = s.substr(sniffed.markSize);
    std::string converted;
    if (unit > 1) {
        const std::size_t whole = (bytes.size() - sniffed.markSize) / unit * unit;
        const auto prefix = detail::Utf8Text::decode(
            bytes.first(sniffed.markSize + std::min(whole, prefixUnits * unit)), sniffed);
        if (!prefix.ok()) return Format::OpenStep;
        const auto text = prefix->bytes();
        converted.assign(reinterpret_cast<const char*>(text.data()), text.size());
        prefixText = converted;
    }

    while (!prefixText.empty() && (prefixText[0] == ' ' || prefixText[0] == '\t' ||
                                   prefixText[0] == '\n' || prefixText[0] == '\r'))
        prefixText.remove_prefix(1);
    // `<!--` cannot begin OpenStep text, whose `<` opens hexadecimal data.
    for (std::string_view start : {"<?xml", "<!DOCTYPE", "<plist", "<!--"})
        if (prefixText.starts_with(start)) return Format::Xml;
    return Format::OpenStep;
}

Expected<Value> parse(std::span<const std::byte> bytes) {
    if (bytes.empty()) return Error{0, "empty property list", ErrorCode::truncated};
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

std::shared_ptr<const Expected<Value>> parseShared(std::span<const std::byte> bytes) {
    // Enough for the pieces of an item or two; a parsed list may take several times the room
    // of its bytes.
    static RecentResults<std::shared_ptr<const Expected<Value>>, 32> recent;
    const std::string_view key(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto known = recent.find(key)) return std::move(*known);
    auto parsed = std::make_shared<const Expected<Value>>(parse(bytes));
    recent.add(key, parsed);
    return parsed;
}

}  // namespace varko::plist
