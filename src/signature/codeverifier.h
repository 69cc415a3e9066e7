#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/codesig/codedirectory.h"
#include "format/expected.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"

namespace varko::codesign {

/// The platform's words for what strict validation finds wrong with a bundle.
inline constexpr const char* infoPlistFailed =
    "invalid Info.plist (plist or signature have been modified)";
inline constexpr const char* resourcesNotFound =
    "code has no resources but signature indicates they must be present";
inline constexpr const char* resourceDirectoryFailed =
    "invalid resource directory (directory or signature have been modified)";
inline constexpr const char* unsealedAppRoot = "unsealed contents present in the bundle root";
inline constexpr const char* unsealedFrameworkRoot =
    "unsealed contents present in the root directory of an embedded framework";
inline constexpr const char* nestedCodeInvalid = "nested code is modified or invalid";
inline constexpr const char* mainExecutableFailed = "main executable failed strict validation";

/// Every code directory of a signature, each with a hash type we know, and which of
/// them is the strongest.
struct CodeDirectories {
    std::vector<codesig::CodeDirectory> all;
    std::vector<std::uint32_t>
        slotNumbers;  ///< where each of `all` is in the signature (not `slots`: a Qt keyword)
    std::size_t best = 0;
    [[nodiscard]] const codesig::CodeDirectory& chosen() const { return all[best]; }
    [[nodiscard]] std::uint32_t chosenSlot() const { return slotNumbers[best]; }
};

[[nodiscard]] Expected<CodeDirectories> codeDirectories(const codesig::SuperBlob& signature);

/// The bytes a code directory's cdhash and its CMS signature are taken over.
[[nodiscard]] inline std::span<const std::byte> directoryBytes(const codesig::CodeDirectory& cd) {
    return std::span(cd.bytes).first(std::min<std::size_t>(cd.length, cd.bytes.size()));
}

/// Checks one slice's chosen code directory against the files: every code page, and each
/// bound special slot (Info.plist, requirements, resource seal, entitlements). A bundle's
/// Info.plist and resource seal must be bound, and, as strict validation has it, the slice
/// must end where its __LINKEDIT ends. Fails with the platform's reason: code
/// invalidSignature for what does not match, missing for what is not there.
[[nodiscard]] Expected<void> verifySlice(const CodeObject& code, const CodeLocation& location);

/// Only the code pages of one slice against its chosen code directory: whether the code
/// itself is what was signed, whatever the bundle around it.
[[nodiscard]] Expected<void> verifyCodePages(const CodeObject& code);

/// Whether the slice's CMS signature still vouches for its code directory (ad hoc code has
/// none to ask): without that, its page hashes are no one's word, and a page that differs
/// from them blames code that may be untouched.
[[nodiscard]] bool directoryVouchedFor(const CodeObject& code);

/// A bundle as strict validation has it: nothing unsealed in its root or in _CodeSignature,
/// and every file and nested code item as its seal says, nested code to `depth` levels.
/// Nothing to check for a bare executable.
[[nodiscard]] Expected<void> verifyBundle(const CodeLocation& location, int depth = 8);

/// verifySlice, then verifyBundle.
[[nodiscard]] Expected<void> verifyCode(const CodeObject& code, const CodeLocation& location,
                                        int depth = 8);

}  // namespace varko::codesign
