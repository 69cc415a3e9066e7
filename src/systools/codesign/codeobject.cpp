#include "systools/codesign/codeobject.h"

#include <algorithm>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/macho/machoformat.h"

namespace varko::codesign {

namespace {

void appendBE32(std::vector<std::byte>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::byte(v >> shift));
}

/// The SuperBlob reduced to the blobs of `slots`, read one by one, so that the page
/// hashes of a large executable stay on disk. Anything odd gives nullopt: the caller
/// then reads the whole signature, whose checks word the error.
std::optional<std::vector<std::byte>> readSlots(const macho::ByteSource& source, std::uint64_t base,
                                                std::uint32_t size, std::span<const std::uint32_t> slots) {
    constexpr std::uint32_t headerSize = sizeof(codesig::CS_SuperBlob);
    constexpr std::uint32_t entrySize = sizeof(codesig::CS_BlobIndex);
    if (size < headerSize) return std::nullopt;
    auto header = source.read(base, headerSize);
    if (!header) return std::nullopt;
    const ByteReader h(*header);
    const std::uint32_t magic = *h.u32be(0), length = *h.u32be(4), count = *h.u32be(8);
    if (length > size || std::uint64_t{count} * entrySize + headerSize > length) return std::nullopt;
    auto index = source.read(base + headerSize, std::uint64_t{count} * entrySize);
    if (!index) return std::nullopt;
    const ByteReader r(*index);

    std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> wanted;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t type = *r.u32be(std::uint64_t{i} * entrySize);
        const std::uint32_t offset = *r.u32be(std::uint64_t{i} * entrySize + 4);
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

}  // namespace

std::uint32_t hostCpuType() {
#if defined(__aarch64__)
    return macho::CPU_TYPE_ARM64;
#elif defined(__x86_64__)
    return macho::CPU_TYPE_X86_64;
#elif defined(__i386__)
    return macho::CPU_TYPE_X86;
#else
    return 0;
#endif
}

std::variant<CodeObject, LoadError> loadCodeObject(const std::filesystem::path& executable,
                                                   std::uint32_t cpuType,
                                                   std::span<const std::uint32_t> onlySlots,
                                                   bool exactCpuType) {
    using Kind = LoadError::Kind;
    auto source = macho::FileSource::open(executable.string());
    if (!source) return LoadError{Kind::Unreadable, source.error().message};
    auto head = source->read(0, std::min<std::uint64_t>(source->size(), 8));
    if (!head) return LoadError{Kind::Unreadable, head.error().message};
    if (!macho::looksLikeMachO(*head)) return LoadError{Kind::NotMachO, {}};

    auto file = macho::MachOFile::create(*source);
    if (!file) return LoadError{Kind::MalformedExecutable, file.error().message};
    if (exactCpuType && !file->findSlice(cpuType)) return LoadError{Kind::NoSuchArchitecture, {}};
    CodeObject code{executable, file->preferredSlice(cpuType), std::nullopt, file->isUniversal(), {}};
    for (const auto& slice : file->slices()) code.architectures.push_back(slice.archName());
    if (!code.slice.codeSignature) return code;

    const auto& loc = *code.slice.codeSignature;
    if (!onlySlots.empty())
        if (auto some = readSlots(*source, code.slice.fileOffset + loc.dataoff, loc.datasize, onlySlots))
            if (auto signature = codesig::SuperBlob::create(std::move(*some))) {
                code.signature = std::move(*signature);
                return code;
            }
    auto bytes = macho::MachOFile::readCodeSignature(*source, code.slice);
    if (!bytes) return LoadError{Kind::Unreadable, bytes.error().message};
    auto signature = codesig::SuperBlob::create(std::move(*bytes));
    if (!signature) return LoadError{Kind::MalformedSignature, signature.error().message};
    code.signature = std::move(*signature);
    return code;
}

}  // namespace varko::codesign
