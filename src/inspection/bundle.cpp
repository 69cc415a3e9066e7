#include "inspection/bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "format/plist/plist.h"

namespace varko {

std::optional<Bundle> Bundle::open(const QString& path) {
    if (!QFileInfo(path).isDir()) return std::nullopt;
    return Bundle{path};
}

std::optional<plist::Dictionary> Bundle::infoDictionary() const {
    const QDir dir(path);
    for (const QString& candidate : {dir.filePath("Contents/Info.plist"), dir.filePath("Info.plist")}) {
        QFileInfo info(candidate);
        if (!info.isFile()) continue;
        QFile file(candidate);
        // Checked before reading: a stranger's bundle may hold a plist of any size.
        if (info.size() > maxInfoPlistBytes || !file.open(QIODevice::ReadOnly)) return std::nullopt;
        const QByteArray bytes = file.read(maxInfoPlistBytes + 1);
        if (bytes.size() > maxInfoPlistBytes) return std::nullopt;
        auto parsed = plist::parse(std::string_view(bytes.constData(), size_t(bytes.size())));
        if (!parsed.ok()) return std::nullopt;
        if (const plist::Dictionary* dict = parsed->dictionary()) return *dict;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace varko
