#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"
#include "format/itemfile.h"

namespace varko::macho {

/// Random access to the bytes of a file without holding all of them, so that a large
/// executable costs only the few small reads its headers and signature need.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    [[nodiscard]] virtual std::uint64_t size() const = 0;
    /// Fills `out` with the bytes at `offset`, or says why they are not all there. The
    /// caller owns the memory, so it can be reused or left partly untouched.
    [[nodiscard]] virtual Expected<void> readInto(std::uint64_t offset,
                                                  std::span<std::byte> out) const = 0;
    /// Exactly `length` bytes at `offset`, or an error if they are not all there.
    [[nodiscard]] Expected<std::vector<std::byte>> read(std::uint64_t offset,
                                                        std::uint64_t length) const;
    /// The open file behind the bytes, so that the same file can be known by its identity;
    /// -1 for bytes that are no file.
    [[nodiscard]] virtual int descriptor() const { return -1; }
};

/// Bytes already in memory (tests, fuzzing). The span must outlive the source.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::byte> bytes) : bytes(bytes) {}
    [[nodiscard]] std::uint64_t size() const override { return bytes.size(); }
    [[nodiscard]] Expected<void> readInto(std::uint64_t offset,
                                          std::span<std::byte> out) const override;

private:
    std::span<const std::byte> bytes;
};

/// A regular file read with pread; its size is taken once on open, which never blocks and
/// refuses anything but a regular file (see openRegularFile). A small file is read whole on
/// open, in one call rather than one for each header, load command and blob; if it can't be,
/// the reads go to the file as they come.
class FileSource final : public ByteSource {
public:
    [[nodiscard]] static Expected<FileSource> open(const std::string& path);
    /// A file of an item, which must lie inside it.
    [[nodiscard]] static Expected<FileSource> open(const std::filesystem::path& path,
                                                   const ItemRoot& within,
                                                   FinalLink last = FinalLink::Follow);
    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;

    [[nodiscard]] std::uint64_t size() const override { return fileSize; }
    [[nodiscard]] Expected<void> readInto(std::uint64_t offset,
                                          std::span<std::byte> out) const override;
    [[nodiscard]] int descriptor() const override { return fd; }
    /// Whether the file's bytes were read whole on open.
    [[nodiscard]] bool wholeInMemory() const { return !whole.empty(); }
    /// The file as it was when opened.
    [[nodiscard]] const FileStamp& openedStamp() const { return stamp; }

    /// Files up to this size are read whole on open.
    static constexpr std::uint64_t readWholeBytes = 128 * 1024;

private:
    FileSource(int fd, std::uint64_t size, const FileStamp& stamp);
    int fd = -1;
    std::uint64_t fileSize = 0;
    FileStamp stamp;
    std::vector<std::byte> whole;  ///< the file's bytes when read on open, else empty
};

}  // namespace varko::macho
