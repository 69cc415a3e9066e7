#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"
#include "format/itemfile.h"

namespace varko::overview {

/// One collected data type of a privacy manifest.
struct CollectedData {
    std::string type;  ///< NSPrivacyCollectedDataType…, as written
    std::optional<bool> linked;
    std::optional<bool> tracking;
    std::vector<std::string> purposes;  ///< NSPrivacyCollectedDataTypePurpose…
    bool operator==(const CollectedData&) const = default;
};

/// One required-reason API category and the reasons given for it.
struct AccessedApi {
    std::string category;  ///< NSPrivacyAccessedAPICategory…
    std::vector<std::string> reasons;
    bool operator==(const AccessedApi&) const = default;
};

/// A PrivacyInfo.xcprivacy as its bundle declares it.
struct PrivacyManifest {
    std::optional<bool> tracking;
    std::vector<std::string> trackingDomains;
    std::vector<CollectedData> collectedData;
    std::vector<AccessedApi> accessedApis;
    /// Entries of the wrong type or shape, in words; the rest is still read.
    std::vector<std::string> problems;
    bool operator==(const PrivacyManifest&) const = default;
};

/// Bounds on what one manifest may hold, so that a hostile file can't make the window huge:
/// the file's size, the items read of any one array, the texts kept in all, a text's length
/// (longer ones are cut, at a character's boundary) and the problems listed.
inline constexpr std::uint64_t maxManifestBytes = 1 << 20;
inline constexpr std::size_t maxManifestItems = 1000;
inline constexpr std::size_t maxManifestTexts = 4000;
inline constexpr std::size_t maxManifestTextBytes = 256;
inline constexpr std::size_t maxManifestProblems = 50;

/// Reads a manifest's property list (any format). Fails only when it is no property list
/// or not a dictionary; odd entries inside become problems.
[[nodiscard]] Expected<PrivacyManifest> parsePrivacyManifest(std::span<const std::byte> bytes);

/// The manifest of the bundle whose resources lie in `bundleRoot` (Contents of an app,
/// a framework's version folder, or a flat bundle), read only from inside `within`;
/// nothing when the bundle has none.
[[nodiscard]] Expected<std::optional<PrivacyManifest>> readPrivacyManifest(
    const std::filesystem::path& bundleRoot, const ItemRoot* within = nullptr);

/// The words App Store privacy details use for a data type, a purpose or a required-reason
/// API category ("NSPrivacyCollectedDataTypeEmailAddress" is "Email Address"); anything else,
/// reason codes like "CA92.1" among them, is returned as it is.
[[nodiscard]] std::string_view manifestTitle(std::string_view value);

}  // namespace varko::overview
