#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "format/expected.h"
#include "package/extraction.h"

namespace varko::package {

/// How far a package's archives may expand while they are listed. Nothing is written to
/// disk; the bounds keep a bomb from costing unbounded time and memory. Real payloads of
/// large apps stay well inside them: Xcode's is some 10 GB over a few hundred thousand files.
struct PayloadBudget {
    std::uint64_t maxExpandedBytes = 64ull << 30;  ///< all archives' decompressed bytes together
    /// Past minBytesForRatio, decompressed bytes may be at most this many times the
    /// compressed ones read so far: text compresses about ten times, zeros a thousand.
    std::uint64_t maxRatio = 200;
    std::uint64_t minBytesForRatio = 64ull << 20;
    std::uint64_t maxFiles = 1'000'000;  ///< entries of all payloads together
    std::size_t maxPathBytes = 4096;
    std::size_t maxDepth = 128;             ///< path components of one entry
    std::size_t maxScriptBytes = 1u << 20;  ///< text kept of one script; the rest is cut
    std::size_t maxInfoBytes = 4u << 20;    ///< a Distribution or PackageInfo
    std::chrono::seconds timeLimit{300};
    /// Raised by the caller to end the listing early, as when its window closes.
    const std::atomic<bool>* cancel = nullptr;
};

enum class EntryType {
    file,
    directory,
    symlink,
    hardlink,
    characterDevice,
    blockDevice,
    fifo,
    socket
};

/// "file", "directory", "symlink", "hardlink", "character-device", "block-device", "fifo",
/// "socket".
[[nodiscard]] const char* entryTypeName(EntryType type);

/// One entry of a payload: what installing it would put on the disk.
struct PayloadFile {
    std::string path;  ///< absolute: the install location joined with the entry's own path
    EntryType type = EntryType::file;
    std::uint32_t mode = 0;  ///< permission bits with setuid, setgid and sticky
    std::uint64_t uid = 0;
    std::uint64_t gid = 0;
    std::uint64_t size = 0;
    std::string linkTarget;  ///< for a symlink or hard link, as the archive holds it
    [[nodiscard]] bool setuid() const { return (mode & 04000) != 0; }
    [[nodiscard]] bool setgid() const { return (mode & 02000) != 0; }
    /// Anyone may write it: a file or folder others can swap, unless a sticky folder.
    [[nodiscard]] bool worldWritable() const {
        return type != EntryType::symlink && (mode & 0002) != 0 &&
               !(type == EntryType::directory && (mode & 01000) != 0);
    }
};

/// A script of a component package, shown and never run.
struct PackageScript {
    std::string name;  ///< its path inside the Scripts archive: "preinstall", "tools/helper"
    std::string text;  ///< as bytes; cut at maxScriptBytes
    std::uint64_t size = 0;
    bool cut = false;
    bool executable = false;
};

/// One component package: its PackageInfo and what its archives hold.
struct ComponentPackage {
    std::string name;  ///< "Foo.pkg" in a product archive; empty for a lone component package
    std::string identifier;
    std::string version;
    std::string installLocation = "/";
    std::vector<PayloadFile> files;
    std::vector<PackageScript> scripts;
    /// Why the payload or scripts could not be listed in full; what was listed stays.
    std::vector<Error> problems;
};

/// What a flat installer package would install, read without installing it.
struct PackageContents {
    std::optional<std::string> distribution;  ///< the product archive's Distribution XML
    std::vector<ComponentPackage> components;
    std::vector<Error> problems;  ///< bounds met or parts unreadable, beside those of components
    /// The app bundles written out by extractPackageApps; none from readPackageContents.
    std::vector<ExtractedApp> apps;
    /// Some bound stopped the listing: what is listed is not all the package holds.
    [[nodiscard]] bool cut() const;
};

/// Whether `folder` is an older bundle-style package: a folder whose Contents folder (not a
/// link) holds the payload, Archive.pax.gz, as a regular file.
[[nodiscard]] bool isBundlePackage(const std::filesystem::path& folder);

/// Lists a flat package (a xar archive): its Distribution, and for each component package
/// its PackageInfo, every entry of its Payload (cpio, plain, gzip or pbzx: xz chunks) and
/// the text of each script in its Scripts archive; a bundle-style package (isBundlePackage) from
/// its Archive.pax.gz, Info.plist and scripts. Fails only when `pkg` is neither.
[[nodiscard]] Expected<PackageContents> readPackageContents(const std::filesystem::path& pkg,
                                                            const PayloadBudget& budget = {});

/// The same, and writes the app bundles of the payloads under `extraction.root` to be
/// inspected (see ExtractionWriter): what is refused is named among the component's
/// problems, and a bound met stops it all.
[[nodiscard]] Expected<PackageContents> extractPackageApps(const std::filesystem::path& pkg,
                                                           const Extraction& extraction,
                                                           const PayloadBudget& budget = {});

}  // namespace varko::package
