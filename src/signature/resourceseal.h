#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "format/itemfile.h"
#include "format/plist/value.h"
#include "signature/resourcerules.h"

namespace varko::codesign {

/// The platform's words for any sealed file that is missing, added or changed, and for
/// rules it can't use.
inline constexpr const char* sealBroken = "a sealed resource is missing or invalid";
inline constexpr const char* rulesInvalid = "invalid resource specification rule(s)";

/// Limits on what a seal may make us read: files walked, nesting of code.
inline constexpr std::size_t maxSealedFiles = 100000;
inline constexpr int maxNestingDepth = 8;

/// Checks the files under `contents` (a bundle's Contents folder, or a flat bundle's folder)
/// against a resource seal (CodeResources): rules2 and files2 when present, else rules and
/// files. Rules are extended regular expressions (see ResourceRules); the heaviest match
/// decides whether a path is omitted, optional or nested code. Symbolic links are compared
/// by target and never followed; nested code the seal names by cdhash is loaded and
/// verified in turn, to `depth` levels. `mainExecutable` is sealed by the signature itself,
/// not by the seal. Nothing is read from outside `within` (by default `contents` itself).
/// Fails with sealBroken and what was found in parentheses (invalidSignature for a changed
/// or added file, missing for a missing one), or rulesInvalid and the rule that can't be used.
[[nodiscard]] Expected<void> verifyResourceSeal(const std::filesystem::path& contents,
                                                const plist::Dictionary& seal,
                                                const std::filesystem::path& mainExecutable,
                                                int depth, const ItemRoot* within = nullptr);

}  // namespace varko::codesign
