#pragma once

// The walk under the folders of a scan, on the system's bytes and without Qt, so that the
// fuzzer drives it with coverage.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace varko::scan {

/// The most items one scan lists, and how deep it looks into folders: a folder of a
/// stranger's making must not make a scan endless.
inline constexpr std::size_t maxItems = 100'000;
inline constexpr int maxDepth = 32;
/// Entries looked at in one walk, whatever they turn out to be: a folder of a million empty
/// subfolders must end as surely as one of a million apps.
inline constexpr std::size_t maxEntries = 5'000'000;
/// Problems kept: a tree of unreadable folders must not fill memory.
inline constexpr std::size_t maxProblems = 1000;

/// The bounds of one walk; tests and the fuzzer make them small. Folders are held open on
/// the way down, so a walk holds at most `depth` descriptors at once.
struct WalkLimits {
    std::size_t items = maxItems;
    int depth = maxDepth;
    std::size_t entries = maxEntries;
    std::size_t problems = maxProblems;
    /// Disk images (.dmg) and zip archives (.zip) are items too, for a scan that opens them.
    bool containers = false;
};

/// Which bound left something out of a walk.
enum class CutKind {
    depth,     ///< folders deeper than WalkLimits::depth were not looked into
    items,     ///< the walk ended at WalkLimits::items items
    entries,   ///< the walk ended after WalkLimits::entries entries of any kind
    problems,  ///< problems past WalkLimits::problems were dropped (the walk went on)
};

/// Where a bound was first met, and how often: a depth cut once per folder not looked
/// into, a problem cut once per problem dropped; the others end the walk.
template <typename Path>
struct CutAt {
    CutKind kind = CutKind::depth;
    Path folder;  ///< depth: the first folder not looked into; else the one being read
    std::size_t limit = 0;
    std::size_t times = 1;
};

/// What a walk found, as the system's bytes.
struct Walked {
    std::vector<std::string> items;                             ///< each once, in the order found
    std::vector<std::pair<std::string, std::string>> problems;  ///< path, why
    std::vector<CutAt<std::string>> cuts;                       ///< at most one per kind
};

/// Every .app folder and anything named .pkg but a link under `roots` (absolute paths,
/// each a folder to walk or a bundle to list; a root may itself be a link). Each folder
/// below a root is opened from its parent's descriptor, never through a link, so a link
/// put in place of any folder on the way, even while the walk runs, is never followed.
/// `beforeEntering` runs just before a subfolder is opened, its parent already read. Once
/// `cancel` is raised the walk ends at its next entry; what it found so far is no answer.
[[nodiscard]] Walked walkFolders(
    const std::vector<std::string>& roots, const WalkLimits& limits = {},
    const std::function<void(const std::string& folder)>& beforeEntering = {},
    const std::atomic<bool>* cancel = nullptr);

/// Whether a file name ends in `suffix` (".app", ".pkg"), in any case, after at least
/// one more byte.
[[nodiscard]] bool hasBundleSuffix(std::string_view name, std::string_view suffix);

}  // namespace varko::scan
