// The DER entitlements reader over hostile bytes; what it accepts must survive the XML
// writer and read back as the same dictionary, since codesign's display goes that way.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace plist = varko::plist;
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    auto dict = varko::codesig::parseDerEntitlements(bytes);
    if (!dict) return 0;
    const std::string xml = plist::writeXml(plist::Value(*dict));
    // XML carries no other control characters, and a carriage return reads back as a line feed.
    const bool carried = std::none_of(xml.begin(), xml.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t';
    });
    auto back = plist::parseXml(std::as_bytes(std::span(xml.data(), xml.size())));
    if (carried && (!back || !back->dictionary() || !(*back->dictionary() == *dict))) std::abort();
    return 0;
}
