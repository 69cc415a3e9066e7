// 7-Zip's listing of a hostile container: the names in it are the container's own. The
// refusals must hold for every entry the parse yields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "package/sevenziplisting.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto listing = varko::package::parseSevenZipListing(text, 1000);
    if (!listing) return 0;
    for (const auto& entry : listing->entries) {
        const std::string refusal = varko::package::pathRefusal(entry.path, 4096, 128);
        // What is let through never starts at the root nor climbs out.
        if (refusal.empty() &&
            (entry.path.starts_with('/') || entry.path == ".." || entry.path.starts_with("../") ||
             entry.path.find("/../") != std::string::npos || entry.path.ends_with("/..")))
            std::abort();
    }
    (void)varko::package::entryUnderLink(listing->entries);
    (void)varko::package::printable(text);
    return 0;
}
