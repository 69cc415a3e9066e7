#include "package/sevenziplisting.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace varko::package {

namespace {

/// The line's value when it is "key = value".
bool field(std::string_view line, std::string_view key, std::string_view& value) {
    if (line.size() < key.size() + 3 || line.substr(0, key.size()) != key ||
        line.substr(key.size(), 3) != " = ")
        return false;
    value = line.substr(key.size() + 3);
    return true;
}

std::uint64_t number(std::string_view text) {
    std::uint64_t n = 0;
    std::from_chars(text.data(), text.data() + text.size(), n);
    return n;
}

}  // namespace

Expected<SevenZipListing> parseSevenZipListing(std::string_view text, std::uint64_t maxEntries) {
    SevenZipListing listing;
    bool inEntries = false;
    ListedEntry* current = nullptr;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string_view::npos) to = text.size();
        std::string_view line = text.substr(from, to - from);
        from = to + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view value;
        if (!inEntries) {
            if (line == "----------")
                inEntries = true;
            else if (field(line, "Type", value))
                listing.types.emplace_back(value);
            continue;
        }
        if (line.empty()) {
            current = nullptr;
            continue;
        }
        if (field(line, "Path", value)) {
            if (listing.entries.size() >= maxEntries)
                return Error{0, "it holds more than " + std::to_string(maxEntries) + " entries",
                             ErrorCode::tooLarge};
            current = &listing.entries.emplace_back();
            current->path = value;
            continue;
        }
        if (!current) continue;
        if (field(line, "Folder", value))
            current->folder = value == "+";
        else if (field(line, "Size", value))
            current->size = number(value);
        else if (field(line, "Encrypted", value))
            current->encrypted = value == "+";
        else if (field(line, "Symbolic Link", value))
            current->link = current->link || !value.empty();
        else if (field(line, "Attributes", value)) {
            // The Unix mode comes last, as "lrwxrwxrwx" for a link.
            const std::size_t space = value.rfind(' ');
            const std::string_view mode =
                space == std::string_view::npos ? value : value.substr(space + 1);
            if (mode.size() == 10 && mode.front() == 'l') current->link = true;
        }
    }
    return listing;
}

std::string pathRefusal(std::string_view path, std::size_t maxPathBytes, std::size_t maxDepth) {
    if (path.empty()) return "an entry without a name";
    if (path.size() > maxPathBytes)
        return "an entry whose path is longer than " + std::to_string(maxPathBytes) + " bytes";
    if (path.front() == '/') return "an absolute path";
    std::size_t depth = 0;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string_view::npos) to = path.size();
        if (path.substr(from, to - from) == "..") return "a path that leaves its folder (\"..\")";
        if (++depth > maxDepth)
            return "an entry more than " + std::to_string(maxDepth) + " folders deep";
        from = to + 1;
    }
    return {};
}

const ListedEntry* entryUnderLink(const std::vector<ListedEntry>& entries) {
    std::set<std::string_view> links;
    for (const ListedEntry& entry : entries)
        if (entry.link) links.insert(entry.path);
    if (links.empty()) return nullptr;
    for (const ListedEntry& entry : entries) {
        const std::string_view path = entry.path;
        for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
             slash = path.find('/', slash + 1))
            if (links.count(path.substr(0, slash))) return &entry;
    }
    return nullptr;
}

std::string printable(std::string_view text, std::size_t max) {
    std::string out(text.substr(0, max));
    std::replace_if(
        out.begin(), out.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, '?');
    if (text.size() > max) out += "...";
    return out;
}

}  // namespace varko::package
