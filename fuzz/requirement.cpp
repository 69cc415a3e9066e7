// The requirement printer over hostile bytes, as one requirement and as a set: it must end,
// within its bounds, with text or a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "format/codesig/requirement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    for (const auto& text :
         {varko::codesig::requirementText(bytes), varko::codesig::requirementSetText(bytes)})
        if (text && text->size() > 16 * size + (4u << 20)) std::abort();
    return 0;
}
