// The scan's walk over a tree made from the bytes (see filetree.h): folders, files, links,
// .app and .pkg. The first byte may also have a folder swapped for a link, the walk's most
// exposed moment: after its parent was read, just before it or its parent is opened.
//
// Whatever the tree, every item listed lies under the root, was reached through no link,
// no deeper than the bound; the bounds hold; nothing past a swapped link is listed.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <system_error>

#include "filetree.h"
#include "scan/walk.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace varko::scan;

namespace {

// Longer than any name a tree record can make, so only a followed link can list it.
const std::string strangerName = std::string(80, 'S') + ".app";

constexpr WalkLimits limits{.items = 12, .depth = 5, .entries = 150, .problems = 3};

void fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "scanwalk: %s: %s\n", what, path.c_str());
    std::abort();
}

/// Whether `path` below `root` is reached through real folders only, as the walk must.
bool throughNoLink(const std::string& root, const std::string& path) {
    std::string at = root;
    for (const auto& part : fs::path(path.substr(root.size() + 1))) {
        at += "/" + part.string();
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const fs::path base = varko::fuzzing::scratchFolder() / "walk";
    std::error_code ec;
    fs::remove_all(base, ec);
    const fs::path rootPath = base / "root", outside = base / "outside", moved = base / "moved";
    fs::create_directories(rootPath);
    fs::create_directories(outside / strangerName);
    fs::create_directories(moved);
    varko::fuzzing::buildTree(std::span(data + 1, size - 1), rootPath);
    const std::string root = rootPath.string();

    // Byte 0: 0 swaps nothing; else at the (b >> 2)th folder entered, swap it (b & 1 == 0)
    // or its parent, for a link to a folder that holds the stranger under every name asked.
    const unsigned swapAt = data[0] >> 2;
    const bool swapParent = (data[0] & 1) != 0;
    unsigned entered = 0;
    std::set<std::string> swapped;
    const auto hook = [&](const std::string& folder) {
        if (data[0] == 0 || ++entered != swapAt) return;
        const fs::path child(folder);
        fs::path target = swapParent ? child.parent_path() : child;
        if (target.string().size() <= root.size()) target = child;
        const fs::path lure = outside / std::to_string(entered);
        fs::create_directories(lure / child.filename() / strangerName, ec);
        fs::create_directories(lure / strangerName, ec);
        fs::rename(target, moved / std::to_string(entered), ec);
        if (ec) return;
        fs::create_directory_symlink(lure, target, ec);
        swapped.insert(target.string());
    };
    const Walked walked = walkFolders({root}, limits, hook);

    if (walked.items.size() > limits.items) fail("too many items", root);
    if (walked.problems.size() > limits.problems) fail("too many problems", root);
    std::set<CutKind> kinds;
    for (const auto& cut : walked.cuts)
        if (!kinds.insert(cut.kind).second) fail("a cut twice", cut.folder);
    std::set<std::string> seen;
    for (const std::string& item : walked.items) {
        if (!seen.insert(item).second) fail("listed twice", item);
        if (!item.starts_with(root + "/")) fail("outside the root", item);
        if (item.ends_with(strangerName)) fail("through a link", item);
        const auto depth = std::count(item.begin() + std::ptrdiff_t(root.size()), item.end(), '/');
        if (depth > limits.depth) fail("too deep", item);
        // Without a swap the tree is as the walk saw it: each step a real folder.
        if (swapped.empty() && !throughNoLink(root, item)) fail("through a link", item);
    }
    return 0;
}
