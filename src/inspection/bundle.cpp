#include "inspection/bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#include "format/plist/plist.h"

namespace varko {

namespace {

// At most `maxBytes` + 1 bytes of a regular file, so that a larger one shows as such.
// No blocking open: a FIFO swapped in after the check must not hang the inspection.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxBytes) {
        bytes.emplace();
        bytes->resize(qsizetype(st.st_size) + 1);
        qsizetype filled = 0;
        while (filled < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + filled, size_t(bytes->size() - filled));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                bytes.reset();
                break;
            }
            if (n == 0) break;
            filled += n;
            // A file that grows while it is read still stops at the bound.
            if (filled == bytes->size() && filled <= maxBytes)
                bytes->resize(std::min<qsizetype>(filled * 2, maxBytes + 1));
        }
        if (bytes) bytes->resize(filled);
    }
    ::close(fd);
    return bytes;
}

}  // namespace

std::optional<Bundle> Bundle::open(const QString& path) {
    if (!QFileInfo(path).isDir()) return std::nullopt;
    return Bundle{path};
}

plist::Dictionary Bundle::infoDictionary() const {
    const QDir dir(path);
    QString root = QFileInfo(path).canonicalFilePath();
    if (!root.endsWith('/')) root += '/';
    for (const QString& candidate : {dir.filePath("Contents/Info.plist"), dir.filePath("Info.plist")}) {
        const QFileInfo info(candidate);
        if (!info.isFile()) continue;
        const QString target = info.canonicalFilePath();
        if (root.size() < 2 || !target.startsWith(root)) return {};
        const std::optional<QByteArray> bytes = readRegularFile(target, maxInfoPlistBytes);
        if (!bytes || bytes->size() > maxInfoPlistBytes) return {};
        auto parsed = plist::parse(std::string_view(bytes->constData(), size_t(bytes->size())));
        if (!parsed.ok()) return {};
        if (plist::Dictionary* dict = parsed->dictionary()) return std::move(*dict);
        return {};
    }
    return {};
}

}  // namespace varko
