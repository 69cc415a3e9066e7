#pragma once

// A folder tree as bytes, so that a fuzzer can mutate bundles: each record is a kind
// ('d' folder, 'f' file, 'l' symbolic link) and a '/'-separated path ended by a zero byte;
// a file's record goes on with a little-endian 16-bit length and that many bytes, a link's
// with its target ended by a zero byte, so that inserting into a target keeps the records
// after it whole.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace varko::fuzzing {

namespace fs = std::filesystem;

inline constexpr std::size_t maxTreeEntries = 64;
inline constexpr std::size_t maxPathComponents = 8;
inline constexpr std::size_t maxComponentLength = 64;
inline constexpr std::size_t maxLinkTarget = 256;
/// The ".." of all links of a tree together. A link is resolved from its own folder and
/// can't recurse into itself, so no path through the tree gets higher above it than this.
inline constexpr std::size_t maxTreeClimbs = 6;

/// A relative path of at most maxPathComponents names, none of them "." or "..".
inline std::optional<fs::path> safeRelative(std::string_view text) {
    fs::path out;
    std::size_t count = 0;
    while (!text.empty()) {
        const std::size_t slash = text.find('/');
        const std::string_view name = text.substr(0, slash);
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
        if (name.empty()) continue;
        if (name == "." || name == ".." || name.size() > maxComponentLength ||
            ++count > maxPathComponents)
            return std::nullopt;
        out /= std::string(name);
    }
    if (count == 0) return std::nullopt;
    return out;
}

/// How many ".." a link's target climbs, or nothing for a target that can't be made: empty,
/// absolute, too long or holding a zero byte.
inline std::optional<std::size_t> linkClimbs(std::string_view target) {
    if (target.empty() || target.size() > maxLinkTarget || target.front() == '/' ||
        target.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::size_t climbs = 0;
    for (std::size_t at = 0; at <= target.size();) {
        const std::size_t slash = std::min(target.find('/', at), target.size());
        if (target.substr(at, slash - at) == "..") ++climbs;
        at = slash + 1;
    }
    return climbs;
}

/// Whether every folder above `rel` under `root` is a real folder or absent, so that a
/// record never writes through a link to outside the tree.
inline bool parentsAreFolders(const fs::path& root, const fs::path& rel) {
    fs::path at = root;
    for (auto it = rel.begin(); it != rel.end() && std::next(it) != rel.end(); ++it) {
        at /= *it;
        std::error_code ec;
        const auto status = fs::symlink_status(at, ec);
        if (fs::exists(status) && !fs::is_directory(status)) return false;
    }
    return true;
}

/// Makes the tree the records describe under `root`, which must exist and be empty.
/// Records that do not fit (bad paths, paths through links or files, links that would
/// climb more than maxTreeClimbs in all) are skipped.
inline void buildTree(std::span<const std::uint8_t> bytes, const fs::path& root) {
    std::size_t at = 0, climbs = 0;
    for (std::size_t n = 0; n < maxTreeEntries && at < bytes.size(); ++n) {
        const char kind = static_cast<char>(bytes[at++]);
        const auto text = [&] {
            const auto from =
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size()));
            const auto end = std::find(from, bytes.end(), 0);
            at = static_cast<std::size_t>(end - bytes.begin()) + 1;
            return std::string(from, end);
        };
        const std::string pathText = text();
        std::string payload;
        if (kind == 'l') {
            payload = text();
        } else if (kind == 'f') {
            if (at + 2 > bytes.size()) return;
            const std::size_t length =
                std::min<std::size_t>(bytes[at] | bytes[at + 1] << 8, bytes.size() - at - 2);
            at += 2;
            payload.assign(reinterpret_cast<const char*>(bytes.data() + at), length);
            at += length;
        } else if (kind != 'd') {
            return;
        }
        const auto rel = safeRelative(pathText);
        if (!rel || !parentsAreFolders(root, *rel)) continue;
        const fs::path path = root / *rel;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (ec || fs::exists(fs::symlink_status(path, ec))) continue;
        if (kind == 'd') {
            fs::create_directory(path, ec);
        } else if (kind == 'l') {
            const auto up = linkClimbs(payload);
            if (!up || climbs + *up > maxTreeClimbs) continue;
            climbs += *up;
            fs::create_symlink(payload, path, ec);
        } else {
            std::ofstream(path, std::ios::binary)
                .write(payload.data(), static_cast<std::streamsize>(payload.size()));
        }
    }
}

/// The records for the tree under `root`, folders before what they hold.
inline std::vector<std::uint8_t> encodeTree(const fs::path& root) {
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it)
        paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::uint8_t> out;
    for (const fs::path& path : paths) {
        const auto status = fs::symlink_status(path);
        std::string payload;
        char kind = 'd';
        if (fs::is_symlink(status)) {
            kind = 'l';
            payload = fs::read_symlink(path).string();
        } else if (fs::is_regular_file(status)) {
            kind = 'f';
            std::ifstream in(path, std::ios::binary);
            payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        out.push_back(static_cast<std::uint8_t>(kind));
        const std::string rel = path.lexically_relative(root).generic_string();
        out.insert(out.end(), rel.begin(), rel.end());
        out.push_back(0);
        if (kind == 'd') continue;
        if (kind == 'l') {
            out.insert(out.end(), payload.begin(), payload.end());
            out.push_back(0);
            continue;
        }
        payload.resize(std::min<std::size_t>(payload.size(), 0xffff));
        out.push_back(static_cast<std::uint8_t>(payload.size()));
        out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
        out.insert(out.end(), payload.begin(), payload.end());
    }
    return out;
}

}  // namespace varko::fuzzing
