#include "systools/hdiutil/diskimage.h"

#include <sys/stat.h>

#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#include "tools/pathbytes.h"

namespace varko::hdiutil {

namespace {

constexpr qint64 trailerSize = 512;

Error fail(ErrorCode code, std::string message) {
    return Error{0, std::move(message), code};
}

}  // namespace

Expected<ImageFormat> readImageFormat(const QString& path) {
    struct stat info {};
    if (stat(host::pathToSystem(path).constData(), &info) != 0)
        return fail(errno == ENOENT ? ErrorCode::missing : ErrorCode::unreadable,
                    std::strerror(errno));
    // A FIFO would block the read below, and a device is not an image file.
    if (!S_ISREG(info.st_mode)) return fail(ErrorCode::refused, "not a disk image file");
    if (info.st_size < trailerSize) return ImageFormat::Other;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(info.st_size - trailerSize))
        return fail(ErrorCode::unreadable, file.errorString().toStdString());
    const QByteArray trailer = file.read(trailerSize);
    if (trailer.size() != trailerSize)
        return fail(ErrorCode::unreadable, "the image could not be read to its end");
    const auto* bytes = reinterpret_cast<const uchar*>(trailer.constData());
    const bool koly = trailer.startsWith("koly") && qFromBigEndian<quint32>(bytes + 4) == 4 &&
                      qFromBigEndian<quint32>(bytes + 8) == trailerSize;
    return koly ? ImageFormat::Udif : ImageFormat::Other;
}

}  // namespace varko::hdiutil
