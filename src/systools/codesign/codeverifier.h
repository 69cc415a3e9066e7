#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/codesig/codedirectory.h"
#include "format/expected.h"
#include "systools/codesign/bundlelocator.h"
#include "systools/codesign/codeobject.h"

namespace varko::codesign {

/// Every code directory of a signature, each with a hash type we know, and which of
/// them is the strongest.
struct CodeDirectories {
    std::vector<codesig::CodeDirectory> all;
    std::vector<std::uint32_t> slots;  ///< where each of `all` is in the signature
    std::size_t best = 0;
    [[nodiscard]] const codesig::CodeDirectory& chosen() const { return all[best]; }
    [[nodiscard]] std::uint32_t chosenSlot() const { return slots[best]; }
};

[[nodiscard]] Expected<CodeDirectories> codeDirectories(const codesig::SuperBlob& signature);

/// Checks the chosen code directory against the files: every code page of the slice,
/// and each bound special slot (Info.plist, requirements, resource seal, entitlements).
/// A bound resource seal is checked against the bundle's files, nested code to `depth` levels.
/// Returns what does not match, in words, or nothing when everything does.
[[nodiscard]] std::optional<std::string> verifyCode(const CodeObject& code, const CodeLocation& location,
                                                    int depth = 8);

}  // namespace varko::codesign
