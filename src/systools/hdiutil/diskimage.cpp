#include "systools/hdiutil/diskimage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QScopeGuard>
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
    // Opened by its bytes, as a name need not be UTF-8; without blocking, as it may be a FIFO.
    const int fd = open(host::pathToSystem(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno == ENOENT ? ErrorCode::missing : ErrorCode::unreadable,
                    std::strerror(errno));
    const auto closeFile = qScopeGuard([fd] { close(fd); });
    struct stat info {};
    if (fstat(fd, &info) != 0) return fail(ErrorCode::unreadable, std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return fail(ErrorCode::refused, "not a disk image file");
    if (info.st_size < trailerSize) return ImageFormat::Other;

    uchar trailer[trailerSize];
    if (pread(fd, trailer, sizeof trailer, info.st_size - trailerSize) != trailerSize)
        return fail(ErrorCode::unreadable, "the image could not be read to its end");
    const bool koly = std::memcmp(trailer, "koly", 4) == 0 &&
                      qFromBigEndian<quint32>(trailer + 4) == 4 &&
                      qFromBigEndian<quint32>(trailer + 8) == trailerSize;
    return koly ? ImageFormat::Udif : ImageFormat::Other;
}

}  // namespace varko::hdiutil
