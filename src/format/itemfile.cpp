#include "format/itemfile.h"

#include <dirent.h>
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
#include <ctime>
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
/// This process's /proc fd folder, opened once, or -1 where it can't be used: a child of a
/// fork has its own, told by a flag that the fork clears, as asking for the process id
/// costs a system call each time.
int openFilesFolder() {
    static std::atomic<bool> inParent{true};
    static const int folder = [] {
        ::pthread_atfork(nullptr, nullptr, [] { inParent = false; });
        return ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }();
    return inParent ? folder : -1;
}

/// The path of the file open at `fd` (O_PATH will do), as the kernel names it: fully
/// resolved. Read through one open handle on this process's /proc fd folder, which spares a
/// walk through /proc for every file.
std::optional<fs::path> pathOfOpen(int fd) {
    const int folder = openFilesFolder();
    const std::string name = std::to_string(fd);
    char real[PATH_MAX];
    const ssize_t n = folder >= 0
                          ? ::readlinkat(folder, name.c_str(), real, sizeof real)
                          : ::readlink(("/proc/self/fd/" + name).c_str(), real, sizeof real);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof real) || real[0] != '/') return std::nullopt;
    return fs::path(std::string(real, static_cast<std::size_t>(n)));
}

/// The file located at `fd` (O_PATH) opened for reading through the kernel's own link to
/// it, which leads to that file and no other, whatever has become of its path.
int reopen(int fd, int flags) {
    const int folder = openFilesFolder();
    const std::string name = std::to_string(fd);
    return folder >= 0 ? ::openat(folder, name.c_str(), flags)
                       : ::open(("/proc/self/fd/" + name).c_str(), flags);
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
    ReadFiles* files = ReadFiles::Scope::current();
    if (files) {
        const std::lock_guard hold(files->mutex);
        if (const auto found = files->roots.find(path.native()); found != files->roots.end())
            return ItemRoot(found->second);
    }
    auto real = realPath(path, path);
    if (!real) return real.error();
    if (files) {
        const std::lock_guard hold(files->mutex);
        // Another thread of the item may have found it first: its answer is the item's.
        if (files->roots.size() < ReadFiles::maxEntries)
            return ItemRoot(files->roots.try_emplace(path.native(), *real).first->second);
    }
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
/// through the kernel's link to what was located. Nullopt for anything else, which the full
/// check then names; `absent` is set to the errno of a path that leads nowhere.
std::optional<OpenedFile> openInside(const fs::path& path, const ItemRoot& within, FinalLink last,
                                     int& absent) {
    const int nofollow = last == FinalLink::Refuse ? O_NOFOLLOW : 0;
    const FileDescriptor located(::open(path.c_str(), O_PATH | O_CLOEXEC | nofollow));
    if (located.get() < 0 && (errno == ENOENT || errno == ENOTDIR)) absent = errno;
    struct stat found {};
    if (located.get() < 0 || ::fstat(located.get(), &found) != 0 || !S_ISREG(found.st_mode))
        return std::nullopt;
    const auto real = pathOfOpen(located.get());
    if (!real || !within.contains(*real)) return std::nullopt;
    // The very file looked at: nothing swapped in since can be opened in its place.
    FileDescriptor fd(reopen(located.get(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) return std::nullopt;
    return OpenedFile{std::move(fd), static_cast<std::uint64_t>(found.st_size), stampOf(found)};
}

}  // namespace
#endif

Expected<OpenedFile> openRegularFile(const fs::path& path, const ItemRoot* within, FinalLink last) {
#ifdef __linux__
    if (within) {
        int absent = 0;
        if (auto opened = openInside(path, *within, last, absent)) return std::move(*opened);
        // Nothing there, or a file where a folder should be: the full check would find the
        // same, and walk every part of the path again to say so.
        if (absent != 0) return failedErrno(path, absent);
    }
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
    return OpenedFile{std::move(fd), static_cast<std::uint64_t>(st.st_size), stampOf(st)};
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

std::optional<FileStamp> stampOf(const fs::path& path, FinalLink last, mode_t type = S_IFREG) {
    struct stat st {};
    if ((last == FinalLink::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0 ||
        (st.st_mode & S_IFMT) != type)
        return std::nullopt;
    return varko::stampOf(st);
}

fs::file_type typeOfMode(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return fs::file_type::regular;
        case S_IFDIR:
            return fs::file_type::directory;
        case S_IFLNK:
            return fs::file_type::symlink;
        case S_IFIFO:
            return fs::file_type::fifo;
        case S_IFSOCK:
            return fs::file_type::socket;
        case S_IFCHR:
            return fs::file_type::character;
        case S_IFBLK:
            return fs::file_type::block;
        default:
            return fs::file_type::unknown;
    }
}

/// The kind an entry's listing told, else what the entry itself says, never through a link.
fs::file_type typeOfEntry(int folder, const char* name, unsigned char type) {
    if (type != DT_UNKNOWN) return typeOfMode(DTTOIF(type));
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return fs::file_type::not_found;
    return typeOfMode(st.st_mode);
}

bool listed(FolderListing& out, int folder, const char* name, unsigned char type) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return true;
    if (out.entries.size() == FolderListing::maxEntries) {
        out.cut = true;
        return false;
    }
    out.entries.push_back({name, typeOfEntry(folder, name, type)});
    return true;
}

/// A folder changed this recently may change again within the same tick of the file
/// system's clock, which leaves its times as they were: its listing is not kept.
constexpr std::int64_t settlingNs = 1'000'000'000;

/// The folder listed in one open: its stamp, told by the open folder before any entry is
/// read, is set when the listing is whole and the folder had settled.
FolderListing listAfresh(const fs::path& path, FinalLink last, std::optional<FileStamp>* stamp) {
    FolderListing out;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t settled =
        std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec - settlingNs;
    const int nofollow = last == FinalLink::Refuse ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | nofollow);
    if (fd < 0) {
        out.error = errno;
        return out;
    }
    struct stat st {};
    const bool stamped = stamp && ::fstat(fd, &st) == 0;
#ifdef __linux__
    const FileDescriptor folder(fd);
    alignas(dirent64) char buffer[32 * 1024];
    for (bool more = true; more;) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.error = errno;
            break;
        }
        if (n == 0) break;
        for (ssize_t at = 0; more && at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            more = listed(out, fd, entry->d_name, entry->d_type);
            at += entry->d_reclen;
        }
    }
#else
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        out.error = errno;
        ::close(fd);
        return out;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            out.error = errno;
            break;
        }
        if (!listed(out, ::dirfd(dir), entry->d_name, entry->d_type)) break;
    }
    ::closedir(dir);
#endif
    const FileStamp told = varko::stampOf(st);
    if (stamped && out.error == 0 && !out.cut && told.modifiedNs < settled &&
        told.changedNs < settled)
        *stamp = told;
    return out;
}

/// `stamp`, when given, is set to the file's as it was opened.
Expected<std::vector<std::byte>> readAfresh(const fs::path& path, std::uint64_t maxBytes,
                                            const ItemRoot* within, FinalLink last,
                                            std::optional<FileStamp>* stamp = nullptr);

}  // namespace

Expected<std::vector<std::byte>> readSmallFile(const fs::path& path, std::uint64_t maxBytes,
                                               const ItemRoot* within, FinalLink last,
                                               std::optional<FileStamp>* held) {
    std::optional<FileStamp> ownHeld;
    if (!held) held = &ownHeld;
    held->reset();
    ReadFiles* files = ReadFiles::Scope::current();
    if (!files) {
        if (held == &ownHeld) return readAfresh(path, maxBytes, within, last);
        std::optional<FileStamp> before;
        auto bytes = readAfresh(path, maxBytes, within, last, &before);
        if (bytes && before && stampOf(path, last) == before) *held = before;
        return bytes;
    }
    std::string key = path.native();
    key.append(1, '\0').append(within ? within->path().native() : std::string(1, '\0'));
    key.append(1, last == FinalLink::Follow ? 'f' : 'r');
    {
        const std::lock_guard hold(files->mutex);
        if (const auto found = files->entries.find(key); found != files->entries.end()) {
            // A bound lower than this read's is told afresh, so that it fails as it should.
            if (found->second.bytes.size() <= maxBytes &&
                stampOf(path, last) == found->second.stamp) {
                *held = found->second.stamp;
                return found->second.bytes;
            }
            files->kept -= found->second.bytes.size();
            files->entries.erase(found);
        }
    }
    // Told as it was opened and after the read: a file that changed meanwhile, or that the
    // path no longer leads to, is not kept.
    std::optional<FileStamp> before;
    auto bytes = readAfresh(path, maxBytes, within, last, &before);
    if (!bytes || !before || stampOf(path, last) != before) return bytes;
    *held = before;
    const std::lock_guard hold(files->mutex);
    if (files->entries.size() < ReadFiles::maxEntries &&
        bytes->size() <= ReadFiles::maxBytes - files->kept && !files->entries.contains(key)) {
        files->kept += bytes->size();
        files->entries.emplace(std::move(key), ReadFiles::Entry{*before, *bytes});
    }
    return bytes;
}

std::shared_ptr<const FolderListing> listFolder(const fs::path& path, FinalLink last) {
    ReadFiles* files = ReadFiles::Scope::current();
    if (!files) return std::make_shared<const FolderListing>(listAfresh(path, last, nullptr));
    // Kept by path alone: a link in a folder's place fails the check of one that refuses it,
    // and the folder it leads to is another, with another stamp.
    const std::string& key = path.native();
    {
        const std::lock_guard hold(files->mutex);
        if (const auto found = files->folders.find(key); found != files->folders.end()) {
            if (stampOf(path, last, S_IFDIR) == found->second.stamp) return found->second.listing;
            files->keptNames -= found->second.listing->entries.size();
            files->folders.erase(found);
        }
    }
    std::optional<FileStamp> stamp;
    auto listing = std::make_shared<const FolderListing>(listAfresh(path, last, &stamp));
    if (!stamp) return listing;
    const std::lock_guard hold(files->mutex);
    if (files->folders.size() < ReadFiles::maxEntries &&
        listing->entries.size() <= ReadFiles::maxNames - files->keptNames &&
        !files->folders.contains(key)) {
        files->keptNames += listing->entries.size();
        files->folders.emplace(key, ReadFiles::Folder{*stamp, listing});
    }
    return listing;
}

namespace {

Expected<std::vector<std::byte>> readAfresh(const fs::path& path, std::uint64_t maxBytes,
                                            const ItemRoot* within, FinalLink last,
                                            std::optional<FileStamp>* stamp) {
    maxBytes = std::min<std::uint64_t>(maxBytes, std::numeric_limits<std::ptrdiff_t>::max() / 2);
    auto opened = openRegularFile(path, within, last);
    if (!opened) return opened.error();
    if (stamp) *stamp = opened->stamp;
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
