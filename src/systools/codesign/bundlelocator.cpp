#include "systools/codesign/bundlelocator.h"

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "format/plist/plist.h"

namespace varko::codesign {

namespace fs = std::filesystem;

namespace {

/// Info.plist files are small; a bigger one is not a bundle we will trust.
constexpr std::uintmax_t maxInfoPlistSize = 16u << 20;

std::optional<std::string> executableName(const fs::path& infoPlist) {
    std::error_code ec;
    const auto size = fs::file_size(infoPlist, ec);
    if (ec || size > maxInfoPlistSize) return std::nullopt;
    std::ifstream in(infoPlist, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) return std::nullopt;
    auto value = plist::parse(std::string_view(bytes));
    if (!value) return std::nullopt;
    const auto* dict = value->dictionary();
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
    if (ec || target.empty() || target == "." || target == ".." || target.find('/') != std::string::npos)
        return std::nullopt;
    const fs::path version = bundle / "Versions" / target;
    if (!fs::is_directory(fs::symlink_status(version, ec))) return std::nullopt;
    return version;
}

}  // namespace

std::variant<CodeLocation, LocateFailure> locateCode(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return LocateFailure::NoSuchFile;
    if (fs::is_regular_file(status)) return CodeLocation{path, std::nullopt, std::nullopt, false};
    if (!fs::is_directory(status)) return LocateFailure::Unrecognized;

    fs::path root = path, info = path / "Info.plist";
    if (fs::is_regular_file(path / "Contents" / "Info.plist", ec)) {
        root = path / "Contents";
        info = root / "Info.plist";
    } else if (const auto version = currentVersion(path);
               version && fs::is_regular_file(*version / "Resources" / "Info.plist", ec)) {
        root = *version;
        info = root / "Resources" / "Info.plist";
    }
    if (!fs::is_regular_file(info, ec)) return LocateFailure::Unrecognized;
    const auto name = executableName(info);
    if (!name) return LocateFailure::Unrecognized;
    const fs::path executable = root == path / "Contents" ? root / "MacOS" / *name : root / *name;
    if (!fs::is_regular_file(executable, ec)) return LocateFailure::Unrecognized;
    const auto bundleName = path.filename().empty() ? path.parent_path().filename() : path.filename();
    return CodeLocation{executable, info, root, bundleName.extension() == ".app"};
}

}  // namespace varko::codesign
