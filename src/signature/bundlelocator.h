#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "format/itemfile.h"
#include "format/threadscope.h"

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

/// What codesign says when a path holds no code it understands.
inline constexpr const char* noSuchFile = "No such file or directory";
inline constexpr const char* unrecognizedBundle =
    "bundle format unrecognized, invalid, or unsuitable";

/// Finds the main executable of a bundle (`Contents/Info.plist`; a framework's
/// `Versions/Current/Resources/Info.plist`; or, flat, a top-level `Info.plist`, naming
/// `CFBundleExecutable`), or takes a regular file as it is. Everything lies in `within`
/// when given (nested code), else in what `path` resolves to. Fails with `missing`
/// (noSuchFile) when nothing is at the path, `unsupported` (unrecognizedBundle) when it is
/// no bundle we understand or has no main executable, and any other code when a file the
/// bundle needs can't be read: the message names it and says why.
[[nodiscard]] Expected<CodeLocation> locateCode(const std::filesystem::path& path,
                                                const ItemRoot* within = nullptr);

/// Where code was found in one item, for the passes over it that look again (the overview
/// walk, each component's check, the tools run in this process): an answer is given again
/// only while the file it rests on, the bundle's Info.plist or the code itself, is the same
/// file unchanged (device, inode, size, modification and change times). Only answers that
/// found code are kept, and at most `maxEntries`. Made this thread's by a Scope; without
/// one, every call looks afresh.
class LocatedCode final {
public:
    static constexpr std::size_t maxEntries = 4096;

    LocatedCode() = default;
    LocatedCode(const LocatedCode&) = delete;
    LocatedCode& operator=(const LocatedCode&) = delete;

    using Scope = ThreadScope<LocatedCode>;

    using Stamp = FileStamp;

private:
    friend Expected<CodeLocation> locateCode(const std::filesystem::path&, const ItemRoot*);
    struct Entry {
        CodeLocation location;
        std::filesystem::path stamped;
        Stamp stamp;
    };
    std::mutex mutex;
    std::map<std::string, Entry> entries;
};

/// Whether locateCode's error says that no code is there, rather than that a file of it
/// could not be read.
[[nodiscard]] inline bool isNoCode(const Error& error) {
    return error.code == ErrorCode::missing || error.code == ErrorCode::unsupported;
}

}  // namespace varko::codesign
