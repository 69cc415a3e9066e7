#include "format/itemfile.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace varko {

namespace fs = std::filesystem;

FileStamp stampOf(const struct stat& st) {
    const auto ns = [](const timespec& t) {
        return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
#ifdef __APPLE__
    const timespec &modified = st.st_mtimespec, &changed = st.st_ctimespec;
#else
    const timespec &modified = st.st_mtim, &changed = st.st_ctim;
#endif
    return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
            ns(modified), ns(changed)};
}

namespace {

Error failed(const fs::path& path, const std::string& why, ErrorCode code) {
    return Error{0, path.string() + ": " + why, code};
}

Error failedErrno(const fs::path& path, int error) {
    const bool absent = error == ENOENT || error == ENOTDIR;
    return failed(path, std::strerror(error), absent ? ErrorCode::missing : ErrorCode::unreadable);
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "of an unknown type";
}

Error notRegular(const fs::path& path, mode_t mode) {
    return failed(path, std::string("not a regular file (") + kindOf(mode) + ")",
                  ErrorCode::refused);
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

#ifdef __linux__
/// The path of the file open at `fd` (O_PATH will do), as the kernel names it: fully
/// resolved. Read through one open handle on this process's /proc fd folder, which spares a
/// walk through /proc for every file.
std::optional<fs::path> pathOfOpen(int fd) {
    // A child of a fork names its own files by its own folder, not its parent's: told by a
    // flag that the fork clears, as asking for the process id costs a system call each time.
    static std::atomic<bool> inParent{true};
    static const int folder = [] {
        ::pthread_atfork(nullptr, nullptr, [] { inParent = false; });
        return ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }();
    const std::string name = std::to_string(fd);
    char real[PATH_MAX];
    const ssize_t n = folder >= 0 && inParent
                          ? ::readlinkat(folder, name.c_str(), real, sizeof real)
                          : ::readlink(("/proc/self/fd/" + name).c_str(), real, sizeof real);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof real) || real[0] != '/') return std::nullopt;
    return fs::path(std::string(real, static_cast<std::size_t>(n)));
}
#endif

/// The real path of `path`; an error names `named`, the path the caller was given.
Expected<fs::path> realPath(const fs::path& path, const fs::path& named) {
#ifdef __linux__
    // The kernel's own answer, from one walk of the path: realpath reads each part as a
    // possible link, walking from the root again every time, and a scan resolves every file
    // it opens. Whatever this can't answer (no /proc, an error to name) realpath says.
    if (const FileDescriptor fd(::open(path.c_str(), O_PATH | O_CLOEXEC)); fd.get() >= 0)
        if (auto real = pathOfOpen(fd.get())) return std::move(*real);
#endif
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return failedErrno(named, errno);
    fs::path out(resolved);
    std::free(resolved);
    return out;
}

bool isLink(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

Expected<ItemRoot> ItemRoot::of(const fs::path& path) {
    auto real = realPath(path, path);
    if (!real) return real.error();
    return ItemRoot(std::move(*real));
}

bool ItemRoot::contains(const fs::path& realPath) const {
    const std::string& root = real.native();
    const std::string& path = realPath.native();
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
    return path.size() == root.size() || root == "/" || path[root.size()] == '/';
}

Expected<fs::path> ItemRoot::resolve(const fs::path& file, FinalLink last) const {
    const fs::path name = file.filename();
    // A final link that must stay unfollowed keeps its name; only the folders above it resolve.
    const bool whole = last == FinalLink::Follow || name.empty() || name == "." || name == "..";
    const fs::path parent = file.has_parent_path() ? file.parent_path() : fs::path(".");
    auto resolved = realPath(whole ? file : parent, file);
    if (!resolved) return resolved.error();
    if (!whole) *resolved /= name;
    if (contains(*resolved)) return std::move(*resolved);
    // Name the link that leaves: the first part of the path, past the item, that resolves outside.
    fs::path prefix;
    bool entered = false;
    for (const fs::path& part : file) {
        prefix /= part;
        auto real = realPath(prefix, prefix);
        if (!real) break;
        if (contains(*real)) {
            entered = true;
        } else if (entered) {
            return Error{0,
                         prefix.string() + (isLink(prefix) ? " is a symbolic link that" : "") +
                             " leads out of the bundle",
                         ErrorCode::refused};
        }
    }
    return Error{0, file.string() + " leads out of the bundle", ErrorCode::refused};
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) ::close(fd);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd >= 0) ::close(fd);
}

int FileDescriptor::release() {
    return std::exchange(fd, -1);
}

#ifdef __linux__
namespace {

/// `path` opened inside `within` in one walk: located without being opened (so that no FIFO
/// or device is), told to be a regular file inside by the kernel's name for it, then opened
/// by that name and found to be the same file. Nullopt for anything else, which the full
/// check then names.
std::optional<OpenedFile> openInside(const fs::path& path, const ItemRoot& within, FinalLink last) {
    const int nofollow = last == FinalLink::Refuse ? O_NOFOLLOW : 0;
    const FileDescriptor located(::open(path.c_str(), O_PATH | O_CLOEXEC | nofollow));
    struct stat found {};
    if (located.get() < 0 || ::fstat(located.get(), &found) != 0 || !S_ISREG(found.st_mode))
        return std::nullopt;
    const auto real = pathOfOpen(located.get());
    if (!real || !within.contains(*real)) return std::nullopt;
    FileDescriptor fd(
        ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_dev != found.st_dev || st.st_ino != found.st_ino)
        return std::nullopt;
    return OpenedFile{std::move(fd), static_cast<std::uint64_t>(st.st_size)};
}

}  // namespace
#endif

Expected<OpenedFile> openRegularFile(const fs::path& path, const ItemRoot* within, FinalLink last) {
#ifdef __linux__
    if (within)
        if (auto opened = openInside(path, *within, last)) return std::move(*opened);
#endif
    fs::path target = path;
    if (within) {
        auto resolved = within->resolve(path, last);
        if (!resolved) return resolved.error();
        target = std::move(*resolved);
    }
    // A resolved path holds no link, so nothing is followed once it is known.
    const bool follow = !within && last == FinalLink::Follow;
    struct stat before {};
    if ((follow ? ::stat(target.c_str(), &before) : ::lstat(target.c_str(), &before)) != 0)
        return failedErrno(path, errno);
    if (!S_ISREG(before.st_mode)) return notRegular(path, before.st_mode);
    // Should a FIFO or device be swapped in meanwhile, it opens at once and is refused below.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW);
    FileDescriptor fd(::open(target.c_str(), flags));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ELOOP && !follow) return notRegular(path, S_IFLNK);
        return failedErrno(path, error);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return failedErrno(path, errno);
    if (!S_ISREG(st.st_mode)) return notRegular(path, st.st_mode);
    if (st.st_dev != before.st_dev || st.st_ino != before.st_ino)
        return failed(path, "replaced while it was being opened", ErrorCode::refused);
#ifdef __linux__
    // A folder on the way may have become a link since it was resolved; the open file's
    // own path says where it really is.
    if (within) {
        char opened[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
        const ssize_t n = ::readlink(self.c_str(), opened, sizeof opened - 1);
        if (n > 0 && !within->contains(fs::path(std::string(opened, static_cast<std::size_t>(n)))))
            return Error{0, path.string() + " leads out of the bundle", ErrorCode::refused};
    }
#endif
    return OpenedFile{std::move(fd), static_cast<std::uint64_t>(st.st_size)};
}

Expected<std::size_t> readFully(const FileDescriptor& fd, std::span<std::byte> out,
                                const fs::path& path) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failedErrno(path, errno);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

namespace {

thread_local ReadFiles* currentFiles = nullptr;

std::optional<FileStamp> stampOf(const fs::path& path, FinalLink last) {
    struct stat st {};
    if ((last == FinalLink::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return varko::stampOf(st);
}

Expected<std::vector<std::byte>> readAfresh(const fs::path& path, std::uint64_t maxBytes,
                                            const ItemRoot* within, FinalLink last);

}  // namespace

ReadFiles::Scope::Scope(ReadFiles* files) : previous(currentFiles) {
    currentFiles = files;
}

ReadFiles::Scope::~Scope() {
    currentFiles = previous;
}

Expected<std::vector<std::byte>> readSmallFile(const fs::path& path, std::uint64_t maxBytes,
                                               const ItemRoot* within, FinalLink last) {
    ReadFiles* files = currentFiles;
    if (!files) return readAfresh(path, maxBytes, within, last);
    std::string key = path.native();
    key.append(1, '\0').append(within ? within->path().native() : std::string(1, '\0'));
    key.append(1, last == FinalLink::Follow ? 'f' : 'r');
    {
        const std::lock_guard hold(files->mutex);
        if (const auto found = files->entries.find(key); found != files->entries.end()) {
            // A bound lower than this read's is told afresh, so that it fails as it should.
            if (found->second.bytes.size() <= maxBytes &&
                stampOf(path, last) == found->second.stamp)
                return found->second.bytes;
            files->kept -= found->second.bytes.size();
            files->entries.erase(found);
        }
    }
    // Told before and after the read: a file that changed meanwhile is not kept.
    const auto before = stampOf(path, last);
    auto bytes = readAfresh(path, maxBytes, within, last);
    if (!bytes || !before || stampOf(path, last) != before) return bytes;
    const std::lock_guard hold(files->mutex);
    if (files->entries.size() < ReadFiles::maxEntries &&
        bytes->size() <= ReadFiles::maxBytes - files->kept && !files->entries.contains(key)) {
        files->kept += bytes->size();
        files->entries.emplace(std::move(key), ReadFiles::Entry{*before, *bytes});
    }
    return bytes;
}

namespace {

Expected<std::vector<std::byte>> readAfresh(const fs::path& path, std::uint64_t maxBytes,
                                            const ItemRoot* within, FinalLink last) {
    maxBytes = std::min<std::uint64_t>(maxBytes, std::numeric_limits<std::ptrdiff_t>::max() / 2);
    auto opened = openRegularFile(path, within, last);
    if (!opened) return opened.error();
    // Room for what the file claims, and a byte more so that a longer file shows; files
    // that claim no size (those in /proc) grow the buffer as they are read.
    std::vector<std::byte> bytes(static_cast<std::size_t>(std::min(opened->size, maxBytes) + 1));
    std::size_t filled = 0;
    for (;;) {
        auto n = readFully(opened->fd, std::span(bytes).subspan(filled), path);
        if (!n) return n.error();
        filled += *n;
        if (filled < bytes.size()) break;
        if (filled > maxBytes)
            return failed(path, "larger than " + sizeText(maxBytes), ErrorCode::tooLarge);
        bytes.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() * 2, maxBytes + 1)));
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

}  // namespace varko
