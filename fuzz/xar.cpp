// libFuzzer target over the xar reader: header, inflation and table of contents.
#include <cstddef>
#include <cstdint>
#include <span>

#include "format/macho/bytesource.h"
#include "format/xar/xar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const varko::macho::MemorySource source(std::as_bytes(std::span(data, size)));
    (void)varko::xar::Archive::open(source);
    return 0;
}
