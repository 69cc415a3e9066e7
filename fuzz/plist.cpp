// Every property-list reader over hostile bytes, then the writer and the
// description over whatever they accepted.
#include <cstddef>
#include <cstdint>
#include <span>

#include "format/plist/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    namespace plist = varko::plist;
    for (auto reader : {&plist::parseXml, &plist::parseBinary, &plist::parseOpenStep}) {
        auto value = reader(bytes);
        if (!value) continue;
        const std::string xml = plist::writeXml(*value);
        (void)plist::describe(*value);
        (void)plist::parseXml(
            std::span(reinterpret_cast<const std::byte*>(xml.data()), xml.size()));
    }
    (void)plist::parse(bytes);
    return 0;
}
