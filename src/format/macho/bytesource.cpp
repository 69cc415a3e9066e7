#include "format/macho/bytesource.h"

#include "format/prefault.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace varko::macho {

namespace {

Error outside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return Error{offset,
                 "read of " + std::to_string(length) + " bytes at offset " +
                     std::to_string(offset) + " extends past the end of the file (" +
                     std::to_string(size) + " bytes)",
                 ErrorCode::truncated};
}

}  // namespace

Expected<std::vector<std::byte>> ByteSource::read(std::uint64_t offset,
                                                  std::uint64_t length) const {
    // Callers cap their lengths; this check keeps a lying size from allocating.
    if (offset > size() || length > size() - offset) return outside(offset, length, size());
    std::vector<std::byte> out = prefaultedBuffer(static_cast<std::size_t>(length));
    out.resize(static_cast<std::size_t>(length));
    if (auto read = readInto(offset, out); !read) return read.error();
    return out;
}

Expected<void> MemorySource::readInto(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset > bytes.size() || out.size() > bytes.size() - offset)
        return outside(offset, out.size(), bytes.size());
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return {};
}

Expected<FileSource> FileSource::open(const std::string& path) {
    auto opened = openRegularFile(path);
    if (!opened) return opened.error();
    return FileSource(opened->fd.release(), opened->size, opened->stamp);
}

Expected<FileSource> FileSource::open(const std::filesystem::path& path, const ItemRoot& within,
                                      FinalLink last) {
    auto opened = openRegularFile(path, &within, last);
    if (!opened) return opened.error();
    return FileSource(opened->fd.release(), opened->size, opened->stamp);
}

FileSource::FileSource(int fd, std::uint64_t size, const FileStamp& stamp)
    : fd(fd), fileSize(size), stamp(stamp) {
    if (size == 0 || size > readWholeBytes) return;
    whole.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < whole.size()) {
        const ssize_t n =
            ::pread(fd, whole.data() + done, whole.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    // Short or failed: each read then meets the file itself, and says what it finds.
    if (done != whole.size()) whole.clear();
}

FileSource::FileSource(FileSource&& other) noexcept
    : fd(std::exchange(other.fd, -1)),
      fileSize(other.fileSize),
      stamp(other.stamp),
      whole(std::exchange(other.whole, {})) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) ::close(fd);
        fd = std::exchange(other.fd, -1);
        fileSize = other.fileSize;
        stamp = other.stamp;
        whole = std::exchange(other.whole, {});
    }
    return *this;
}

FileSource::~FileSource() {
    if (fd >= 0) ::close(fd);
}

Expected<void> FileSource::readInto(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset > fileSize || out.size() > fileSize - offset)
        return outside(offset, out.size(), fileSize);
    if (!whole.empty()) {
        std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return {};
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return Error{offset + done, std::string("read failed: ") + std::strerror(errno),
                         ErrorCode::unreadable};
        // Its size was taken on open: the bytes it promised have run out.
        if (n == 0)
            return Error{offset + done, "the file became shorter while being read",
                         ErrorCode::truncated};
        done += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace varko::macho
