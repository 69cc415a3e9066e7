#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "format/expected.h"
#include "format/threadscope.h"

namespace varko {

/// One state of a file on disk, by what the system knows of it: hard links share one, and
/// any change to the file, its times included, moves `changedNs`.
struct FileStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0, changedNs = 0;
    auto operator<=>(const FileStamp&) const = default;
};

/// The stamp of what `stat`, `lstat` or `fstat` told.
[[nodiscard]] FileStamp stampOf(const struct stat& st);

/// Whether the last part of a path may be a symbolic link (followed, if it stays inside).
enum class FinalLink { Follow, Refuse };

/// Where every file of one item (a bundle, a package, a lone executable) must lie: the real
/// path of what the user named. Links inside the item are followed, as a framework's
/// Versions/Current must be; a link that leads out of it is refused, so that a bundle can't
/// have us read /etc/shadow, or another bundle under its own name.
class ItemRoot {
public:
    /// The item at `path`, which may itself be a link: the user chose it. Under a ReadFiles
    /// scope the first answer holds for the whole item, so that a link swapped in its place
    /// meanwhile can't move the bounds that every later file is held to.
    [[nodiscard]] static Expected<ItemRoot> of(const std::filesystem::path& path);

    [[nodiscard]] const std::filesystem::path& path() const { return real; }
    /// Whether a real (fully resolved) path is the item or lies inside it.
    [[nodiscard]] bool contains(const std::filesystem::path& realPath) const;
    /// The real path of `file`, which is named through the item, if it lies inside the
    /// item. The error names the link that leads out, or says why `file` can't be resolved.
    [[nodiscard]] Expected<std::filesystem::path> resolve(const std::filesystem::path& file,
                                                          FinalLink last = FinalLink::Follow) const;

private:
    explicit ItemRoot(std::filesystem::path real) : real(std::move(real)) {}
    std::filesystem::path real;
};

/// An open file descriptor, closed when this goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    [[nodiscard]] int get() const { return fd; }
    [[nodiscard]] int release();

private:
    int fd = -1;
};

/// A regular file opened for reading, and its size and stamp when it was opened.
struct OpenedFile {
    FileDescriptor fd;
    std::uint64_t size = 0;
    FileStamp stamp;
};

/// Opens `path` for reading without ever waiting: a FIFO, socket or device is refused
/// before it is opened and, should one be swapped in, opened without blocking and refused.
/// With `within`, the file must lie inside that item. Errors name `path` and say why.
[[nodiscard]] Expected<OpenedFile> openRegularFile(const std::filesystem::path& path,
                                                   const ItemRoot* within = nullptr,
                                                   FinalLink last = FinalLink::Follow);

/// Up to `out.size()` bytes from where `fd` stands; fewer only at the end of the file.
/// Errors name `path`.
[[nodiscard]] Expected<std::size_t> readFully(const FileDescriptor& fd, std::span<std::byte> out,
                                              const std::filesystem::path& path);

/// One entry of a folder, of the kind its listing told: a link is a link, never followed.
struct FolderEntry {
    std::string name;
    std::filesystem::file_type kind = std::filesystem::file_type::unknown;
};

/// A folder's entries in the order the system lists them, "." and ".." left out; `error` is
/// the errno of a listing that failed (then `entries` holds what came before), and `cut`
/// says that it stopped at `maxEntries`.
struct FolderListing {
    static constexpr std::size_t maxEntries = 200'001;
    std::vector<FolderEntry> entries;
    int error = 0;
    bool cut = false;
};

/// The small files read for one item, for the passes over it that read them again (an
/// Info.plist, a seal): a file's bytes are given again only while the path still leads to
/// the same file unchanged (device, inode, size, modification and change times; the link
/// itself when a final link is refused). Only files that held still while read are kept,
/// up to `maxBytes` in all. The item's folders are kept alike, as long as the folder itself
/// is unchanged (any entry added, removed or renamed moves its times), up to `maxNames`
/// entries in all; a folder changed within the last second is listed anew each time, as
/// a change in the same tick of the clock leaves its times as they were. The real path of
/// each item root is kept as first found. Made this thread's by a Scope; without one every
/// read is fresh.
class ReadFiles final {
public:
    static constexpr std::uint64_t maxBytes = 16 << 20;
    static constexpr std::size_t maxEntries = 4096;
    static constexpr std::size_t maxNames = 1 << 20;

    ReadFiles() = default;
    ReadFiles(const ReadFiles&) = delete;
    ReadFiles& operator=(const ReadFiles&) = delete;

    using Scope = ThreadScope<ReadFiles>;

    using Stamp = FileStamp;

private:
    friend Expected<std::vector<std::byte>> readSmallFile(const std::filesystem::path&,
                                                          std::uint64_t, const ItemRoot*, FinalLink,
                                                          std::optional<FileStamp>*);
    friend std::shared_ptr<const FolderListing> listFolder(const std::filesystem::path&, FinalLink);
    friend class ItemRoot;
    struct Entry {
        Stamp stamp;
        std::vector<std::byte> bytes;
    };
    struct Folder {
        Stamp stamp;
        std::shared_ptr<const FolderListing> listing;
    };
    std::mutex mutex;
    std::map<std::string, Entry> entries;
    std::uint64_t kept = 0;
    std::map<std::string, Folder> folders;
    std::size_t keptNames = 0;
    std::map<std::string, std::filesystem::path> roots;
};

/// The entries of the folder at `path`, listed anew or, under a ReadFiles scope, as listed
/// before while the folder is unchanged. With FinalLink::Refuse a link at `path` is not
/// followed and lists as an error (ELOOP or ENOTDIR).
[[nodiscard]] std::shared_ptr<const FolderListing> listFolder(const std::filesystem::path& path,
                                                              FinalLink last = FinalLink::Follow);

/// The whole of a small file, opened as openRegularFile does. A file longer than `maxBytes`
/// is refused, whatever its size claims: files in /proc claim none. `held`, when given, is
/// set to the file's stamp if the path led to that file unchanged from the open to the end
/// of the read, and else reset.
[[nodiscard]] Expected<std::vector<std::byte>> readSmallFile(
    const std::filesystem::path& path, std::uint64_t maxBytes, const ItemRoot* within = nullptr,
    FinalLink last = FinalLink::Follow, std::optional<FileStamp>* held = nullptr);

}  // namespace varko
