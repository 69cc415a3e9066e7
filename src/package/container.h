#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"
#include "package/extraction.h"

namespace varko::package {

/// What holds apps without installing them: a disk image or a zip archive, such as
/// downloads and update feeds ship.
enum class ContainerKind { diskImage, zip };

/// The kind that the file's name announces (".dmg", ".zip", in any case), or none.
[[nodiscard]] std::optional<ContainerKind> containerKindForName(std::string_view name);

/// How far one container may expand on disk, and for how long 7-Zip may run on it.
struct ContainerBudget {
    std::uint64_t maxBytes = maxExtractedBytes;  ///< written in all
    std::uint64_t maxFiles = 500'000;            ///< entries written in all
    /// Past minBytesForRatio, what the listing says it holds may be at most this many times
    /// the container's own size: apps compress a few times, zeros a thousand.
    std::uint64_t maxRatio = 200;
    std::uint64_t minBytesForRatio = 64ull << 20;
    std::size_t maxPathBytes = 4096;  ///< one entry's path inside the container
    std::size_t maxDepth = 128;       ///< path components of one entry
    std::size_t maxAppDepth = 8;      ///< how many folders deep apps are looked for
    std::chrono::milliseconds timeLimit{std::chrono::minutes(5)};  ///< each 7-Zip run
    /// Raised by the caller to end the expansion early, as when its window closes.
    const std::atomic<bool>* cancel = nullptr;
    /// 7-Zip's own executable (Debian's `7zip` package); tests name a stand-in.
    std::filesystem::path sevenZip = "/usr/bin/7zz";
};

/// A container written out into a private folder, and the apps found in it.
struct ExpandedContainer {
    /// Removed, with all in it, when the last holder lets go: windows of its apps keep it.
    std::shared_ptr<PrivateFolder> folder;
    /// Where the container's contents were written, inside `folder`: what stands for the
    /// container itself in the paths of its apps.
    std::filesystem::path contents;
    /// The app bundles found, each a folder under `folder`, ordered by path; none
    /// inside another.
    std::vector<std::filesystem::path> apps;
    /// Each app's path inside the container ("Example.app", "Tools/Helper.app").
    std::vector<std::string> pathsInside;
    /// Entries written but not kept: a link pointing out of the container, a device node
    /// or pipe. What was refused before anything was written fails the whole expansion.
    std::vector<Error> problems;
};

/// Writes out `path` (a disk image or zip archive) read-only with 7-Zip into a new private
/// folder and finds the apps in it. Nothing is written elsewhere: the listing is read first
/// and an entry whose path leaves the folder (absolute, "..") or passes through a link
/// refuses the whole container, as does an encrypted entry, a volume 7-Zip can't read or a
/// listing past the budget; links pointing out, device nodes and pipes are removed after,
/// and setuid, setgid and others' write bits dropped. A bound met during the writing
/// stops 7-Zip, and the folder goes with everything in it.
[[nodiscard]] Expected<ExpandedContainer> expandContainer(const std::filesystem::path& path,
                                                          const ContainerBudget& budget = {});

}  // namespace varko::package
