#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "format/expected.h"

namespace varko::examplegen {

/// Writes `appDir/Contents/Info.plist` and `appDir/Contents/MacOS/<executableName>`,
/// replacing whatever an earlier run left at appDir. Returns the executable's path.
[[nodiscard]] Expected<std::filesystem::path> writeBundle(const std::filesystem::path& appDir,
                                                          std::string_view infoPlist,
                                                          std::string_view executableName,
                                                          std::span<const std::byte> executable);

}  // namespace varko::examplegen
