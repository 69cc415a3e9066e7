// The xar reader over hostile bytes: header, inflation and table of contents; then, on
// what opens, the package check that the tools run: the TOC checksum, the RSA or CMS
// signature over it and the chain to Apple's roots.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "format/macho/bytesource.h"
#include "format/xar/xar.h"
#include "package/packagesignature.h"
#include "scratch.h"

namespace {

constexpr std::int64_t jan2024 = 1704067200;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const varko::macho::MemorySource source(std::as_bytes(std::span(data, size)));
    if (!varko::xar::Archive::open(source)) return 0;
    const auto path = varko::fuzzing::scratchFile("fuzz.pkg", std::span(data, size));
    const auto verdict =
        varko::spctl::verifyPackage(path, varko::signing::TrustAnchors::apple(), jan2024);
    // The same bytes read from a file must open as they did from memory.
    if (!verdict) std::abort();
    return 0;
}
