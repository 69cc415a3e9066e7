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

}  // namespace

std::variant<CodeLocation, LocateFailure> locateCode(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return LocateFailure::NoSuchFile;
    if (fs::is_regular_file(status)) return CodeLocation{path, std::nullopt};
    if (!fs::is_directory(status)) return LocateFailure::Unrecognized;

    const fs::path contents = path / "Contents";
    const bool deep = fs::is_regular_file(contents / "Info.plist", ec);
    const fs::path info = deep ? contents / "Info.plist" : path / "Info.plist";
    if (!fs::is_regular_file(info, ec)) return LocateFailure::Unrecognized;
    const auto name = executableName(info);
    if (!name) return LocateFailure::Unrecognized;
    const fs::path executable = deep ? contents / "MacOS" / *name : path / *name;
    if (!fs::is_regular_file(executable, ec)) return LocateFailure::Unrecognized;
    return CodeLocation{executable, info};
}

}  // namespace varko::codesign
