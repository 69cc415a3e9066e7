#include "inspection/bundle.h"

#include <sys/stat.h>

#include <filesystem>

#include "format/itemfile.h"
#include "format/plist/plist.h"
#include "tools/pathbytes.h"

namespace varko {

Expected<Bundle> Bundle::open(const QString& path) {
    struct stat st {};
    if (::stat(host::pathToSystem(path).constData(), &st) != 0)
        return Error{0, "it can't be opened", ErrorCode::unreadable, path.toStdString()};
    if (!S_ISDIR(st.st_mode))
        return Error{0, "it is not a folder", ErrorCode::unsupported, path.toStdString()};
    return Bundle{path};
}

Expected<plist::Dictionary> Bundle::readInfoDictionary() const {
    namespace fs = std::filesystem;
    const fs::path base(host::pathToSystem(path).toStdString());
    const auto root = ItemRoot::of(base);
    if (!root) return root.error();
    for (const char* name : {"Contents/Info.plist", "Info.plist"}) {
        const fs::path candidate = base / name;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) continue;
        const auto bytes = readSmallFile(candidate, maxInfoPlistBytes, &*root);
        if (!bytes) return bytes.error();
        const auto parsed = plist::parseShared(std::span<const std::byte>(*bytes));
        if (!*parsed) {
            const Error& e = parsed->error();
            return Error{e.offset, std::string(name) + ": " + e.message, e.code};
        }
        if (const plist::Dictionary* dict = (*parsed)->dictionary()) return *dict;
        return Error{0, std::string(name) + " holds no dictionary", ErrorCode::malformed};
    }
    return Error{0, "the bundle has no Info.plist", ErrorCode::missing};
}

plist::Dictionary Bundle::infoDictionary() const {
    auto dict = readInfoDictionary();
    return dict ? std::move(*dict) : plist::Dictionary();
}

}  // namespace varko
