#include "inspection/bundle.h"

#include <sys/stat.h>

#include <filesystem>

#include "format/itemfile.h"
#include "format/plist/plist.h"
#include "tools/pathbytes.h"

namespace varko {

std::optional<Bundle> Bundle::open(const QString& path) {
    struct stat st {};
    if (::stat(tools::pathToSystem(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return Bundle{path};
}

Bundle::InfoDictionary Bundle::readInfoDictionary() const {
    namespace fs = std::filesystem;
    const fs::path base(tools::pathToSystem(path).toStdString());
    const auto root = ItemRoot::of(base);
    if (!root) return {{}, QString::fromStdString(root.error().message)};
    for (const char* name : {"Contents/Info.plist", "Info.plist"}) {
        const fs::path candidate = base / name;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) continue;
        const auto bytes = readSmallFile(candidate, maxInfoPlistBytes, &*root);
        if (!bytes) return {{}, QString::fromStdString(bytes.error().message)};
        auto parsed = plist::parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        const QString where = QString::fromUtf8(name);
        if (!parsed.ok()) return {{}, where + ": " + QString::fromStdString(parsed.error().message)};
        if (const plist::Dictionary* dict = parsed->dictionary()) return {std::move(*dict), {}};
        return {{}, where + " holds no dictionary"};
    }
    return {{}, QStringLiteral("the bundle has no Info.plist")};
}

}  // namespace varko
