#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"

namespace varko::package {

/// One entry of `7zz l -slt`: what 7-Zip says the container holds there. The names come
/// from the container and are hostile; 7-Zip prints a line feed in one as "_", so one
/// entry's fields can't pass for another's.
struct ListedEntry {
    std::string path;
    bool folder = false;
    bool link = false;  ///< a symbolic link: by its mode or its target
    bool encrypted = false;
    std::uint64_t size = 0;
};

/// The listing of a container and of any volume 7-Zip opened inside it.
struct SevenZipListing {
    /// Each archive 7-Zip opened, outermost first: "Dmg", "Iso", "HFS", "zip".
    std::vector<std::string> types;
    std::vector<ListedEntry> entries;
};

/// Reads `7zz l -slt` output; stops at `maxEntries` with a tooLarge error.
[[nodiscard]] Expected<SevenZipListing> parseSevenZipListing(std::string_view text,
                                                             std::uint64_t maxEntries);

/// Why a listed path may not be written under a folder: empty when it may. An absolute path,
/// a ".." component, an empty path, more than `maxPathBytes` or `maxDepth` components.
[[nodiscard]] std::string pathRefusal(std::string_view path, std::size_t maxPathBytes,
                                      std::size_t maxDepth);

/// The first entry that lies under a listed link ("a" a link, "a/b" a file), if any: 7-Zip
/// would write it where the link points.
[[nodiscard]] const ListedEntry* entryUnderLink(const std::vector<ListedEntry>& entries);

/// `text` with each control character shown as "?", cut at `max` bytes: for words 7-Zip
/// prints about a hostile container.
[[nodiscard]] std::string printable(std::string_view text, std::size_t max = 200);

}  // namespace varko::package
