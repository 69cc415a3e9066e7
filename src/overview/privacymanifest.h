#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
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

/// Reads a manifest's property list (any format). Fails only when it is no property list
/// or not a dictionary; odd entries inside become problems.
[[nodiscard]] Expected<PrivacyManifest> parsePrivacyManifest(std::span<const std::byte> bytes);

/// The manifest of the bundle whose resources lie in `bundleRoot` (Contents of an app,
/// a framework's version folder, or a flat bundle), read only from inside `within`;
/// nothing when the bundle has none.
[[nodiscard]] Expected<std::optional<PrivacyManifest>> readPrivacyManifest(
    const std::filesystem::path& bundleRoot, const ItemRoot* within = nullptr);

}  // namespace varko::overview
