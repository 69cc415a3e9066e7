#pragma once

#include <filesystem>
#include <string>

#include "format/expected.h"

namespace varko::examplegen {

/// The example bundle's Info.plist (XML): identity, versions, SDK, four standard
/// usage descriptions and one the report does not list among its standard nine.
[[nodiscard]] std::string exampleInfoPlist();

/// The entitlements signed into both slices of the example executable (XML plist).
[[nodiscard]] std::string exampleEntitlements();

/// Writes `outDir/Example.app` (replacing an earlier one): the Info.plist above and a
/// universal x86_64 + arm64 executable signed with the hardened runtime and the
/// entitlements above. Returns the bundle's path.
[[nodiscard]] Expected<std::filesystem::path> writeExampleApp(const std::filesystem::path& outDir);

}  // namespace varko::examplegen
