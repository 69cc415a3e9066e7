// The requirement compiler over hostile text: it must end, within its bounds, with a blob the
// printer reads back, or a reason; and printed text it compiles again prints the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/codesig/requirement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto blob = varko::codesig::compileRequirement(text);
    if (!blob) return 0;
    if (blob->size() > varko::codesig::maxRequirementBytes) std::abort();
    const auto printed = varko::codesig::requirementSetText(*blob);
    if (!printed) std::abort();
    // Some printed forms do not compile (a binary identifier); those that do are stable.
    const auto again = varko::codesig::compileRequirement(*printed);
    if (!again) return 0;
    const auto reprinted = varko::codesig::requirementSetText(*again);
    if (!reprinted || *reprinted != *printed) std::abort();
    return 0;
}
