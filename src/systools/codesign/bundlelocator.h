#pragma once

#include <filesystem>
#include <optional>
#include <variant>

namespace varko::codesign {

/// The code a path names: a bundle's main executable, or the file itself.
struct CodeLocation {
    std::filesystem::path executable;
    std::optional<std::filesystem::path> infoPlist;  ///< bundles only
    /// The folder that holds _CodeSignature and whose files the seal names: Contents, a
    /// flat bundle itself, or a framework's current version. Bundles only.
    std::optional<std::filesystem::path> root;
    bool isApp = false;  ///< a bundle whose name ends in .app
};

enum class LocateFailure {
    NoSuchFile,   ///< nothing at the path
    Unrecognized  ///< not a bundle we understand, or no main executable
};

/// Finds the main executable of a bundle (`Contents/Info.plist`; a framework's
/// `Versions/Current/Resources/Info.plist`; or, flat, a top-level `Info.plist`, naming
/// `CFBundleExecutable`), or takes a regular file as it is.
[[nodiscard]] std::variant<CodeLocation, LocateFailure> locateCode(
    const std::filesystem::path& path);

}  // namespace varko::codesign
