#include "tools/safewrite.h"

#include "tools/pathbytes.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varko::host {

namespace {

// Each step keeps its own errno: Qt's file classes report a full disk found only
// at close or sync as "Unknown error".
Error reason(int error) {
    return Error{0, std::generic_category().message(error), ErrorCode::unwritable};
}

}  // namespace

Expected<void> writeFileAtomically(const QString& fileName, const char* data, qint64 size) {
    const QByteArray target = pathToSystem(fileName);
    struct stat existing {};
    const bool replaces = ::stat(target.constData(), &existing) == 0;
    // Renaming over a device or a FIFO would put a plain file in its place.
    if (replaces && !S_ISREG(existing.st_mode))
        return Error{0, "Not a regular file", ErrorCode::refused};

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        // Short and beside the target: a name near the 255-byte limit must still be saved.
        temporary = folder + ".vk" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // 0666 lets the umask decide, as for any new file of the user's.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return reason(errno);
    }
    if (fd < 0) return reason(EEXIST);

    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temporary.constData());
        return reason(error);
    };
    if (replaces && ::fchmod(fd, existing.st_mode & 07777) != 0) return fail(errno);
    for (qint64 written = 0; written < size;) {
        const ssize_t n = ::write(fd, data + written, size_t(size - written));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        if (n == 0) return fail(EIO);
        written += n;
    }
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return reason(error);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return reason(error);
    }
    return {};
}

}  // namespace varko::host
