#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "format/itemfile.h"

namespace varko::codesign {

/// The code a path names: a bundle's main executable, or the file itself.
struct CodeLocation {
    std::filesystem::path executable;
    std::optional<std::filesystem::path> infoPlist;  ///< bundles only
    /// The folder that holds _CodeSignature and whose files the seal names: Contents, a
    /// flat bundle itself, or a framework's current version. Bundles only.
    std::optional<std::filesystem::path> root;
    bool isApp = false;  ///< a bundle whose name ends in .app
    /// The item every file of this code is read from: what the user named, or for nested
    /// code the outermost bundle. Empty: files are read wherever their links lead.
    std::optional<ItemRoot> within;
};

struct LocateFailure {
    enum class Kind {
        NoSuchFile,    ///< nothing at the path
        Unrecognized,  ///< not a bundle we understand, or no main executable
        Unreadable,    ///< a file the bundle needs can't be read: `message` names it and says why
    } kind = Kind::Unrecognized;
    std::string message;
};

/// Finds the main executable of a bundle (`Contents/Info.plist`; a framework's
/// `Versions/Current/Resources/Info.plist`; or, flat, a top-level `Info.plist`, naming
/// `CFBundleExecutable`), or takes a regular file as it is. Everything lies in `within`
/// when given (nested code), else in what `path` resolves to.
[[nodiscard]] std::variant<CodeLocation, LocateFailure> locateCode(
    const std::filesystem::path& path, const ItemRoot* within = nullptr);

}  // namespace varko::codesign
