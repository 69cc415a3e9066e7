#include "signature/codeobject.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

#include <sys/stat.h>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/macho/machoformat.h"
#include "signature/codehash.h"

namespace varko::codesign {

namespace {

void appendBE32(std::vector<std::byte>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::byte(v >> shift));
}

constexpr std::uint32_t headerSize = sizeof(codesig::CS_SuperBlob);
constexpr std::uint32_t entrySize = sizeof(codesig::CS_BlobIndex);

/// A SuperBlob's header and index, read on their own.
struct Index {
    std::uint32_t magic = 0;
    std::uint32_t length = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  ///< slot and offset
    [[nodiscard]] std::uint64_t end() const {
        return headerSize + std::uint64_t{entries.size()} * entrySize;
    }
};

/// Nullopt when the index does not fit the signature's `size` or has more than `maxCount` entries.
std::optional<Index> readIndex(const macho::ByteSource& source, std::uint64_t base,
                               std::uint32_t size, std::uint32_t maxCount) {
    if (size < headerSize) return std::nullopt;
    auto header = source.read(base, headerSize);
    if (!header) return std::nullopt;
    const ByteReader h(*header);
    Index out{*h.u32be(0), *h.u32be(4), {}};
    const std::uint32_t count = *h.u32be(8);
    if (out.length < headerSize || out.length > size || count > maxCount ||
        std::uint64_t{count} * entrySize + headerSize > out.length)
        return std::nullopt;
    auto index = source.read(base + headerSize, std::uint64_t{count} * entrySize);
    if (!index) return std::nullopt;
    const ByteReader r(*index);
    out.entries.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        out.entries.emplace_back(*r.u32be(std::uint64_t{i} * entrySize),
                                 *r.u32be(std::uint64_t{i} * entrySize + 4));
    return out;
}

/// The SuperBlob reduced to the blobs of `slots`, read one by one, so that the page
/// hashes of a large executable stay on disk. Anything odd gives nullopt: the caller
/// then reads the whole signature, whose checks word the error.
std::optional<std::vector<std::byte>> readSlots(const macho::ByteSource& source, std::uint64_t base,
                                                std::uint32_t size,
                                                std::span<const std::uint32_t> slots) {
    const auto index = readIndex(source, base, size, std::numeric_limits<std::uint32_t>::max());
    if (!index) return std::nullopt;
    const std::uint32_t magic = index->magic, length = index->length;

    std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> wanted;
    for (const auto& [type, offset] : index->entries) {
        if (std::find(slots.begin(), slots.end(), type) == slots.end()) continue;
        if (offset > length || length - offset < 8) return std::nullopt;
        auto blobHeader = source.read(base + offset, 8);
        if (!blobHeader) return std::nullopt;
        const std::uint32_t blobLength = *ByteReader(*blobHeader).u32be(4);
        if (blobLength < 8 || blobLength > length - offset) return std::nullopt;
        auto blob = source.read(base + offset, blobLength);
        if (!blob) return std::nullopt;
        wanted.emplace_back(type, std::move(*blob));
    }

    std::uint64_t total = headerSize + wanted.size() * entrySize;
    for (const auto& [type, blob] : wanted) total += blob.size();
    std::vector<std::byte> out;
    out.reserve(total);
    appendBE32(out, magic);
    appendBE32(out, static_cast<std::uint32_t>(total));
    appendBE32(out, static_cast<std::uint32_t>(wanted.size()));
    std::uint64_t at = headerSize + wanted.size() * entrySize;
    for (const auto& [type, blob] : wanted) {
        appendBE32(out, type);
        appendBE32(out, static_cast<std::uint32_t>(at));
        at += blob.size();
    }
    for (const auto& [type, blob] : wanted) out.insert(out.end(), blob.begin(), blob.end());
    return out;
}

// Real signatures hold about ten blobs; a longer index is read whole and checked there.
constexpr std::uint32_t maxStreamedBlobs = 64;
constexpr std::size_t streamChunk = 64 * 1024;

bool isCodeDirectorySlot(std::uint32_t slot) {
    return slot == codesig::CSSLOT_CODEDIRECTORY ||
           (slot >= codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES &&
            slot < codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES +
                       codesig::CSSLOT_ALTERNATE_CODEDIRECTORY_MAX);
}

bool overlaps(std::uint64_t begin1, std::uint64_t end1, std::uint64_t begin2, std::uint64_t end2) {
    return begin1 < end2 && begin2 < end1;
}

/// A code directory whose page hashes stay on disk; offsets within the SuperBlob.
struct Unread {
    std::uint32_t slot = 0;
    std::uint64_t begin = 0, end = 0;
    std::uint64_t hashesBegin = 0, hashesEnd = 0;
    const HashKind* kind = nullptr;
    std::vector<std::byte> header;  ///< what the above was taken from
};

/// Where the page hashes of the code directory at `offset` lie, from its header alone.
/// They must lie past the index, which is decoded from memory again.
std::optional<Unread> locateHashes(const macho::ByteSource& source, std::uint64_t base,
                                   std::uint32_t length, std::uint64_t indexEnd, std::uint32_t slot,
                                   std::uint32_t offset) {
    constexpr std::uint32_t fixed = codesig::codeDirectoryHeaderSize(codesig::CS_EARLIEST_VERSION);
    if (offset < indexEnd || offset > length || length - offset < fixed) return std::nullopt;
    auto header = source.read(base + offset, fixed);
    if (!header) return std::nullopt;
    const ByteReader r(*header);
    const std::uint32_t cdLength = *r.u32be(4), version = *r.u32be(8), hashOffset = *r.u32be(16);
    const std::uint64_t hashBytes = std::uint64_t{*r.u32be(28)} * *r.u8(36);
    const HashKind* kind = hashKind(*r.u8(37));
    // Anything the code directory's own checks might word differently is left to them.
    if (*r.u32be(0) != codesig::CSMAGIC_CODEDIRECTORY || !kind ||
        codesig::hashLength(kind->type) != *r.u8(36) || cdLength > length - offset ||
        hashOffset < codesig::codeDirectoryHeaderSize(version) || hashOffset > cdLength ||
        hashBytes > cdLength - hashOffset)
        return std::nullopt;
    return Unread{slot,
                  offset,
                  std::uint64_t{offset} + cdLength,
                  std::uint64_t{offset} + hashOffset,
                  std::uint64_t{offset} + hashOffset + hashBytes,
                  kind,
                  std::move(*header)};
}

/// The whole SuperBlob but for its page hashes, which are only hashed, a chunk at a time,
/// into their code directories' digests: showing a 200 MB executable's signature then
/// costs what a small one's does. Their place in memory is zeros that nothing decodes.
/// Anything odd gives nullopt, as readSlots does.
std::optional<SignatureBlob> readWithoutPageHashes(const macho::ByteSource& source,
                                                   std::uint64_t base, std::uint32_t size) {
    const auto index = readIndex(source, base, size, maxStreamedBlobs);
    if (!index) return std::nullopt;
    const std::uint32_t length = index->length;

    std::vector<Unread> unread;
    for (const auto& [type, offset] : index->entries) {
        if (!isCodeDirectorySlot(type)) continue;
        auto u = locateHashes(source, base, length, index->end(), type, offset);
        if (!u) return std::nullopt;
        // Code directories sharing bytes would each hash the other's missing hashes.
        for (const Unread& other : unread)
            if (overlaps(u->begin, u->end, other.begin, other.end)) return std::nullopt;
        unread.push_back(*u);
    }
    std::sort(unread.begin(), unread.end(),
              [](const Unread& a, const Unread& b) { return a.hashesBegin < b.hashesBegin; });

    // calloc leaves the pages of a large block unmapped until they are touched, and the
    // page hashes' pages never are.
    std::shared_ptr<std::byte[]> storage(static_cast<std::byte*>(std::calloc(length, 1)),
                                         std::free);
    if (!storage) return std::nullopt;
    const auto read = [&](std::uint64_t from, std::uint64_t to) {
        return source.readInto(base + from, std::span(storage.get() + from, to - from)).ok();
    };
    std::uint64_t at = 0;
    for (const Unread& u : unread) {
        if (!read(at, u.hashesBegin)) return std::nullopt;
        at = u.hashesEnd;
    }
    if (!read(at, length)) return std::nullopt;
    // A file rewritten meanwhile must not move the hashes from where they were skipped.
    for (const Unread& u : unread)
        if (!std::equal(u.header.begin(), u.header.end(), storage.get() + u.begin))
            return std::nullopt;

    // No other blob may reach into the hashes that were not read.
    for (const auto& [type, offset] : index->entries) {
        const std::uint64_t begin = offset;
        if (begin > length || length - begin < 8) continue;  // the SuperBlob's checks word it
        for (const Unread& u : unread)
            if (u.slot != type && overlaps(begin, begin + 8, u.hashesBegin, u.hashesEnd))
                return std::nullopt;
        const std::uint64_t blobLength = *ByteReader(std::span(storage.get() + begin, 8)).u32be(4);
        const std::uint64_t end = begin + std::min(blobLength, length - begin);
        for (const Unread& u : unread)
            if (u.slot != type && overlaps(begin, end, u.hashesBegin, u.hashesEnd))
                return std::nullopt;
    }

    SignatureBlob out{};
    std::vector<std::byte> chunk;
    for (const Unread& u : unread) {
        Digester digester(*u.kind);
        digester.update(std::span(storage.get() + u.begin, u.hashesBegin - u.begin));
        chunk.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(streamChunk, u.hashesEnd - u.hashesBegin)));
        for (std::uint64_t from = u.hashesBegin; from < u.hashesEnd;) {
            const auto part = std::span(chunk).first(static_cast<std::size_t>(
                std::min<std::uint64_t>(chunk.size(), u.hashesEnd - from)));
            if (!source.readInto(base + from, part)) return std::nullopt;
            digester.update(part);
            from += part.size();
        }
        digester.update(std::span(storage.get() + u.hashesEnd, u.end - u.hashesEnd));
        auto digest = digester.finish();
        if (digest.empty()) return std::nullopt;
        out.digests.push_back({u.slot, std::move(digest)});
    }
    auto signature =
        codesig::SuperBlob::create(std::move(storage), length, codesig::CodeSlots::LeftUnread);
    if (!signature) return std::nullopt;
    // Only what decodes is shown from here; the whole read words any error.
    for (const Unread& u : unread) {
        auto cd = signature->codeDirectory(u.slot);
        if (!cd || !*cd) return std::nullopt;
    }
    out.superBlob = std::move(*signature);
    return out;
}

}  // namespace

/// An executable's open file and its headers, read once.
struct OpenedExecutable {
    std::shared_ptr<const macho::FileSource> source;
    macho::MachOFile file;
};

namespace {

/// The same error, told as the stage it stopped at: callers word the stages differently.
Error at(const Error& error, ErrorCode stage) {
    return Error{error.offset, error.message, stage};
}

/// A file that can't be read stays refused when it was refused on purpose.
Error unreadable(const Error& error) {
    return at(error, error.code == ErrorCode::refused ? ErrorCode::refused : ErrorCode::unreadable);
}

Expected<OpenedExecutable> openExecutable(const std::filesystem::path& executable,
                                          const ItemRoot* within) {
    auto source = within ? macho::FileSource::open(executable, *within)
                         : macho::FileSource::open(executable.string());
    if (!source) return unreadable(source.error());
    auto head = source->read(0, std::min<std::uint64_t>(source->size(), 8));
    if (!head) return unreadable(head.error());
    if (!macho::looksLikeMachO(*head))
        return Error{0, "not a Mach-O executable", ErrorCode::unsupported};
    auto file = macho::MachOFile::create(*source);
    if (!file) return at(file.error(), ErrorCode::malformed);
    return OpenedExecutable{std::make_shared<const macho::FileSource>(std::move(*source)),
                            std::move(*file)};
}

}  // namespace

struct OpenedCode::Entries {
    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const OpenedExecutable> opened;
    };
    std::mutex mutex;
    std::map<std::string, Entry> byPath;
};

OpenedCode::OpenedCode() : entries(std::make_unique<Entries>()) {}
OpenedCode::~OpenedCode() = default;

struct OpenedAccess {
    static OpenedCode::Entries* of(OpenedCode* memo) {
        return memo ? memo->entries.get() : nullptr;
    }
};

namespace {

std::optional<FileStamp> stampNow(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return stampOf(st);
}

/// The executable opened afresh, or as this item's passes opened it before while the path
/// leads to the same file unchanged.
Expected<std::shared_ptr<const OpenedExecutable>> openShared(
    const std::filesystem::path& executable, const ItemRoot* within) {
    OpenedCode::Entries* memo = OpenedAccess::of(OpenedCode::Scope::current());
    std::string key = executable.native();
    key.append(1, '\0').append(within ? within->path().native() : std::string(1, '\0'));
    if (memo) {
        const std::lock_guard hold(memo->mutex);
        if (const auto found = memo->byPath.find(key); found != memo->byPath.end()) {
            if (stampNow(executable) == found->second.stamp) return found->second.opened;
            memo->byPath.erase(found);
        }
    }
    auto opened = openExecutable(executable, within);
    if (!opened) return opened.error();
    auto shared = std::make_shared<const OpenedExecutable>(std::move(*opened));
    // Its stamp as opened: any change since shows at the next look.
    if (memo && shared->source->wholeInMemory()) {
        const std::lock_guard hold(memo->mutex);
        if (memo->byPath.size() < OpenedCode::maxEntries)
            memo->byPath.insert_or_assign(
                std::move(key), OpenedCode::Entries::Entry{shared->source->openedStamp(), shared});
    }
    return shared;
}

Expected<CodeObject> loadSlice(const OpenedExecutable& opened,
                               const std::filesystem::path& executable, const macho::Slice& slice,
                               SignatureRead read) {
    CodeObject code{executable, slice, std::nullopt, opened.file.isUniversal(),
                    {},         {},    opened.source};
    for (const auto& s : opened.file.slices()) code.architectures.push_back(s.archName());
    code.running = &slice == &opened.file.runningSlice();
    if (!code.slice.codeSignature) return code;
    const auto& loc = *code.slice.codeSignature;
    auto signature = readSignature(*opened.source, code.slice.fileOffset + loc.dataoff,
                                   static_cast<std::uint32_t>(loc.datasize), read);
    if (!signature) return signature.error();
    code.signature = std::move(signature->superBlob);
    code.directoryDigests = std::move(signature->digests);
    return code;
}

Expected<CodeObject> loadOne(const std::filesystem::path& executable, const ItemRoot* within,
                             const std::optional<macho::Architecture>& architecture,
                             SignatureRead read) {
    auto opened = openShared(executable, within);
    if (!opened) return opened.error();
    const OpenedExecutable& file = **opened;
    const macho::Slice* slice =
        architecture ? file.file.findSlice(*architecture) : &file.file.runningSlice();
    if (!slice)
        return Error{0, "the executable has no code for that architecture", ErrorCode::missing};
    return loadSlice(file, executable, *slice, read);
}

Expected<std::vector<CodeObject>> loadAll(const std::filesystem::path& executable,
                                          const ItemRoot* within, SignatureRead read) {
    auto opened = openShared(executable, within);
    if (!opened) return opened.error();
    std::vector<CodeObject> out;
    for (const auto& slice : (*opened)->file.slices()) {
        auto code = loadSlice(**opened, executable, slice, read);
        if (!code) return code.error();
        out.push_back(std::move(*code));
    }
    return out;
}

}  // namespace

Expected<CodeObject> loadCodeObject(const std::filesystem::path& executable,
                                    const std::optional<macho::Architecture>& architecture,
                                    SignatureRead read) {
    return loadOne(executable, nullptr, architecture, read);
}

Expected<std::vector<CodeObject>> loadEverySlice(const std::filesystem::path& executable,
                                                 SignatureRead read) {
    return loadAll(executable, nullptr, read);
}

Expected<CodeObject> loadCodeObject(const CodeLocation& location,
                                    const std::optional<macho::Architecture>& architecture,
                                    SignatureRead read) {
    return loadOne(location.executable, location.within ? &*location.within : nullptr, architecture,
                   read);
}

Expected<std::vector<CodeObject>> loadEverySlice(const CodeLocation& location, SignatureRead read) {
    return loadAll(location.executable, location.within ? &*location.within : nullptr, read);
}

Expected<SignatureBlob> readSignature(const macho::ByteSource& source, std::uint64_t base,
                                      std::uint32_t size, SignatureRead read) {
    static constexpr std::uint32_t entitlementSlots[] = {codesig::CSSLOT_ENTITLEMENTS,
                                                         codesig::CSSLOT_DER_ENTITLEMENTS};
    if (read == SignatureRead::Entitlements)
        if (auto some = readSlots(source, base, size, entitlementSlots))
            if (auto signature = codesig::SuperBlob::create(std::move(*some)))
                return SignatureBlob{std::move(*signature), {}};
    if (read == SignatureRead::WithoutPageHashes)
        if (auto streamed = readWithoutPageHashes(source, base, size)) return std::move(*streamed);
    auto bytes = source.read(base, size);
    if (!bytes) return unreadable(bytes.error());
    auto signature = codesig::SuperBlob::create(std::move(*bytes));
    if (!signature) return at(signature.error(), ErrorCode::invalidSignature);
    return SignatureBlob{std::move(*signature), {}};
}

std::vector<unsigned char> directoryDigest(const CodeObject& code, std::uint32_t slot,
                                           const codesig::CodeDirectory& cd) {
    if (cd.codeSlots == codesig::CodeSlots::Read) {
        const HashKind* kind = hashKind(cd.hashType);
        return kind ? digest(*kind, cd.bytes) : std::vector<unsigned char>{};
    }
    for (const DirectoryDigest& d : code.directoryDigests)
        if (d.slot == slot) return d.digest;
    return {};
}

}  // namespace varko::codesign
