#include "signature/bundlelocator.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "format/plist/plist.h"

namespace varko::codesign {

namespace fs = std::filesystem;

namespace {

/// Info.plist files are small; a bigger one is not a bundle we will trust.
constexpr std::uint64_t maxInfoPlistSize = 16u << 20;

/// A file the bundle needs that can't be read. Whatever its reader called it, it is never
/// `missing` or `unsupported`, which say that no code is there at all.
Error unreadable(Error error) {
    if (isNoCode(error)) error.code = ErrorCode::unreadable;
    return error;
}

Error unrecognized() {
    return Error{0, unrecognizedBundle, ErrorCode::unsupported};
}

std::optional<std::string> executableName(const std::vector<std::byte>& bytes) {
    const auto value = plist::parseShared(std::span<const std::byte>(bytes));
    if (!*value) return std::nullopt;
    const auto* dict = (*value)->dictionary();
    const auto* entry = dict ? dict->find("CFBundleExecutable") : nullptr;
    const auto* name = entry ? entry->string() : nullptr;
    // A name that climbs out of the bundle or names a folder is no executable of it.
    if (!name || name->empty() || *name == "." || *name == ".." ||
        name->find('/') != std::string::npos)
        return std::nullopt;
    return *name;
}

/// A framework's Versions/Current, when it is a folder or names a sibling folder; a
/// link that leaves Versions would let a hostile bundle seal files outside itself.
std::optional<fs::path> currentVersion(const fs::path& bundle) {
    const fs::path current = bundle / "Versions" / "Current";
    std::error_code ec;
    const auto status = fs::symlink_status(current, ec);
    if (fs::is_directory(status)) return current;
    if (!fs::is_symlink(status)) return std::nullopt;
    const auto target = fs::read_symlink(current, ec).string();
    if (ec || target.empty() || target == "." || target == ".." ||
        target.find('/') != std::string::npos)
        return std::nullopt;
    const fs::path version = bundle / "Versions" / target;
    if (!fs::is_directory(fs::symlink_status(version, ec))) return std::nullopt;
    return version;
}

/// The file's identity and times as the system tells them now, or nothing.
std::optional<FileStamp> stampOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return varko::stampOf(st);
}

/// `stamp`, when given, is set to what the answer rests on, if it held still while read.
Expected<CodeLocation> locateAfresh(const fs::path& path, const ItemRoot* within,
                                    std::optional<LocatedCode::Stamp>* stamp);

}  // namespace

Expected<CodeLocation> locateCode(const fs::path& path, const ItemRoot* within) {
    LocatedCode* memo = LocatedCode::Scope::current();
    if (!memo) return locateAfresh(path, within, nullptr);
    // Asked with no item, the code's own path is its item: the answer is the one given inside
    // an item that the code is the root of, and kept apart from an answer inside any other.
    std::optional<Expected<ItemRoot>> own;
    if (!within) own = ItemRoot::of(path);
    const ItemRoot* item = within ? within : *own ? &**own : nullptr;
    std::string key = path.native();
    key.append(1, '\0').append(item ? item->path().native() : std::string(1, '\0'));
    {
        const std::lock_guard hold(memo->mutex);
        if (const auto found = memo->entries.find(key); found != memo->entries.end()) {
            const LocatedCode::Entry& e = found->second;
            if (stampOf(e.stamped) == e.stamp) return e.location;
            memo->entries.erase(found);
        }
    }
    std::optional<LocatedCode::Stamp> stamp;
    auto located = locateAfresh(path, within, &stamp);
    if (!located || !stamp) return located;
    const std::lock_guard hold(memo->mutex);
    if (memo->entries.size() < LocatedCode::maxEntries) {
        const fs::path& stamped = located->infoPlist ? *located->infoPlist : located->executable;
        memo->entries.insert_or_assign(std::move(key),
                                       LocatedCode::Entry{*located, stamped, *stamp});
    }
    return located;
}

namespace {

Expected<CodeLocation> locateAfresh(const fs::path& path, const ItemRoot* within,
                                    std::optional<LocatedCode::Stamp>* stamp) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return Error{0, noSuchFile, ErrorCode::missing};
    auto item = within ? Expected<ItemRoot>(*within) : ItemRoot::of(path);
    if (!item) return unreadable(item.error());
    // Code named on its own is its own item, and lies inside it by being it.
    if (within)
        if (auto inside = item->resolve(path); !inside) return unreadable(inside.error());
    if (fs::is_regular_file(status)) {
        if (stamp) *stamp = stampOf(path);
        return CodeLocation{path, std::nullopt, std::nullopt, false, *item};
    }
    if (!fs::is_directory(status)) return unrecognized();

    // Whatever is there decides the layout; it is read, or refused with its reason, below.
    const auto present = [&ec](const fs::path& p) { return fs::exists(fs::symlink_status(p, ec)); };
    fs::path root = path, info = path / "Info.plist";
    if (present(path / "Contents" / "Info.plist")) {
        root = path / "Contents";
        info = root / "Info.plist";
    } else if (const auto version = currentVersion(path);
               version && present(*version / "Resources" / "Info.plist")) {
        root = *version;
        info = root / "Resources" / "Info.plist";
    } else if (!present(info)) {
        return unrecognized();
    }
    // A Contents linked to another bundle's would have that bundle judged under this name.
    if (auto inside = item->resolve(root); !inside) return unreadable(inside.error());
    // An Info.plist that changed while it was read gives an answer not kept.
    const auto bytes = readSmallFile(info, maxInfoPlistSize, &*item, FinalLink::Follow, stamp);
    if (!bytes) return unreadable(bytes.error());
    const auto name = executableName(*bytes);
    if (!name) return unrecognized();
    const fs::path executable = root == path / "Contents" ? root / "MacOS" / *name : root / *name;
    if (!present(executable)) return unrecognized();
    if (auto inside = item->resolve(executable); !inside) return unreadable(inside.error());
    if (!fs::is_regular_file(executable, ec)) return unrecognized();
    const auto bundleName =
        path.filename().empty() ? path.parent_path().filename() : path.filename();
    return CodeLocation{executable, info, root, bundleName.extension() == ".app", *item};
}

}  // namespace

}  // namespace varko::codesign
