#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "format/expected.h"
#include "gen/machowriter.h"

namespace varko::examplegen {

/// A file inside a bundle's Contents folder; `symlinkTarget` makes it a symbolic link.
struct BundleFile {
    std::string path;  ///< relative to Contents, '/'-separated
    std::string bytes;
    std::optional<std::string> symlinkTarget;
    /// Nested code, sealed by its cdhash; the caller puts the code itself in place.
    std::optional<std::vector<unsigned char>> cdhash = std::nullopt;
};

/// The resource seal codesign writes for these files: files (SHA-1), files2 (SHA-1 and
/// SHA-256, symlinks by target), and its default rules and rules2.
[[nodiscard]] std::string codeResources(const std::vector<BundleFile>& files);

/// Writes `appDir` as a deep bundle: Contents/Info.plist, the files, the seal in
/// Contents/_CodeSignature/CodeResources, and Contents/MacOS/<name> built from `executable`,
/// whose signature binds the Info.plist and the seal. Returns the executable's path.
[[nodiscard]] Expected<std::filesystem::path> writeSealedBundle(const std::filesystem::path& appDir,
                                                                const std::string& infoPlist,
                                                                const std::string& executableName,
                                                                const std::vector<BundleFile>& files,
                                                                MachOOptions executable);

/// Writes `frameworkDir` as a versioned framework: Versions/A holds the executable, the
/// files (Resources/Info.plist among them) and the seal; Versions/Current and the
/// top-level names are links into it, as Xcode lays frameworks out.
[[nodiscard]] Expected<std::filesystem::path> writeSealedFramework(const std::filesystem::path& frameworkDir,
                                                                   const std::string& infoPlist,
                                                                   const std::string& executableName,
                                                                   std::vector<BundleFile> files,
                                                                   MachOOptions executable);

}  // namespace varko::examplegen
