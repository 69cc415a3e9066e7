#include "format/codesig/superblob.h"
#include "format/hex.h"

#include <cstdio>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"

namespace varko::codesig {

namespace {

Error fail(std::uint64_t offset, const std::string& what, ErrorCode code) {
    return Error{offset, "malformed code signature (" + what + ")", code};
}

std::string blobName(std::size_t i, std::uint32_t slot) {
    return "blob " + std::to_string(i) + " (slot " + hex(slot) + ")";
}

/// Errors of a blob's decoder are placed at the blob within the signature.
Error at(const BlobEntry& entry, Error e) {
    e.offset += entry.offset;
    return e;
}

}  // namespace

Expected<SuperBlob> SuperBlob::create(std::span<const std::byte> bytes) {
    return create(std::vector<std::byte>(bytes.begin(), bytes.end()));
}

Expected<SuperBlob> SuperBlob::create(std::vector<std::byte> bytes) {
    const auto held = std::make_shared<const std::vector<std::byte>>(std::move(bytes));
    return create(std::shared_ptr<const std::byte[]>(held, held->data()), held->size(),
                  CodeSlots::Read);
}

Expected<SuperBlob> SuperBlob::create(std::shared_ptr<const std::byte[]> storage, std::size_t size,
                                      CodeSlots codeSlots) {
    const std::span<const std::byte> bytes(storage.get(), size);
    const ByteReader r(bytes);
    if (r.size() < sizeof(CS_SuperBlob))
        return fail(
            0, "the SuperBlob header needs 12 bytes, the signature has " + std::to_string(r.size()),
            ErrorCode::truncated);
    SuperBlob sb;
    sb.blobMagic = *r.u32be(0);
    sb.blobLength = *r.u32be(4);
    const std::uint32_t count = *r.u32be(8);
    // A detached signature shares the layout but signs code elsewhere: embedded, it vouches
    // for nothing in this file.
    if (sb.blobMagic == CSMAGIC_DETACHED_SIGNATURE)
        return fail(0,
                    "magic " + hex(sb.blobMagic) +
                        " is a detached signature's; an embedded one must have " +
                        hex(CSMAGIC_EMBEDDED_SIGNATURE),
                    ErrorCode::malformed);
    if (sb.blobMagic != CSMAGIC_EMBEDDED_SIGNATURE)
        return fail(0, "magic " + hex(sb.blobMagic) + " is not an embedded signature",
                    ErrorCode::unsupported);
    if (sb.blobLength < sizeof(CS_SuperBlob) || sb.blobLength > r.size())
        return fail(
            4,
            "SuperBlob length " + std::to_string(sb.blobLength) + " does not fit the " +
                std::to_string(r.size()) + " bytes of the signature",
            sb.blobLength < sizeof(CS_SuperBlob) ? ErrorCode::malformed : ErrorCode::truncated);
    const std::uint64_t indexEnd =
        sizeof(CS_SuperBlob) + std::uint64_t{count} * sizeof(CS_BlobIndex);
    if (indexEnd > sb.blobLength)
        return fail(8,
                    "SuperBlob count " + std::to_string(count) + " does not fit in its length " +
                        std::to_string(sb.blobLength),
                    ErrorCode::truncated);
    sb.index.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = sizeof(CS_SuperBlob) + std::uint64_t{i} * sizeof(CS_BlobIndex);
        BlobEntry e;
        e.type = *r.u32be(at);
        e.offset = *r.u32be(at + 4);
        const std::string name = blobName(i, e.type);
        if (e.offset < indexEnd)
            return fail(at + 4,
                        name + " at offset " + std::to_string(e.offset) +
                            " lies inside the SuperBlob's index",
                        ErrorCode::malformed);
        if (e.offset > sb.blobLength || sizeof(CS_GenericBlob) > sb.blobLength - e.offset)
            return fail(at + 4,
                        name + " at offset " + std::to_string(e.offset) +
                            " extends past the end of the SuperBlob",
                        ErrorCode::truncated);
        e.magic = *r.u32be(e.offset);
        e.length = *r.u32be(e.offset + 4);
        if (e.length < sizeof(CS_GenericBlob))
            return fail(e.offset + 4,
                        name + " length " + std::to_string(e.length) + " is less than 8",
                        ErrorCode::malformed);
        if (e.length > sb.blobLength - e.offset)
            return fail(e.offset + 4,
                        name + " length " + std::to_string(e.length) +
                            " extends past the end of the SuperBlob",
                        ErrorCode::truncated);
        for (std::uint32_t j = 0; j < i; ++j)
            if (sb.index[j].type == e.type)
                return fail(at, name + " repeats the slot of blob " + std::to_string(j),
                            ErrorCode::malformed);
        sb.index.push_back(e);
    }
    sb.owner = std::move(storage);
    sb.data = bytes;
    sb.codeSlots = codeSlots;
    return sb;
}

const BlobEntry* SuperBlob::find(std::uint32_t slot) const {
    for (const auto& e : index)
        if (e.type == slot) return &e;
    return nullptr;
}

std::span<const std::byte> SuperBlob::blob(const BlobEntry& entry) const {
    return ByteReader(data)
        .slice(entry.offset, entry.length)
        .value_or(std::span<const std::byte>{});
}

Expected<std::optional<CodeDirectory>> SuperBlob::codeDirectory(std::uint32_t slot) const {
    const BlobEntry* e = find(slot);
    if (!e) return std::optional<CodeDirectory>{};
    auto cd = CodeDirectory::create(blob(*e), codeSlots);
    if (!cd) return at(*e, cd.error());
    return std::optional<CodeDirectory>(std::move(*cd));
}

std::vector<Expected<CodeDirectory>> SuperBlob::alternateCodeDirectories() const {
    std::vector<Expected<CodeDirectory>> out;
    for (std::uint32_t slot = CSSLOT_ALTERNATE_CODEDIRECTORIES;
         slot < CSSLOT_ALTERNATE_CODEDIRECTORIES + CSSLOT_ALTERNATE_CODEDIRECTORY_MAX; ++slot) {
        auto cd = codeDirectory(slot);
        if (!cd)
            out.push_back(cd.error());
        else if (*cd)
            out.push_back(std::move(**cd));
    }
    return out;
}

Expected<std::optional<std::span<const std::byte>>> SuperBlob::payload(std::uint32_t slot,
                                                                       std::uint32_t expectedMagic,
                                                                       const char* what) const {
    using Result = std::optional<std::span<const std::byte>>;
    const BlobEntry* e = find(slot);
    if (!e) return Result{};
    if (e->magic != expectedMagic)
        return fail(
            e->offset,
            std::string(what) + " blob has magic " + hex(e->magic) + ", not " + hex(expectedMagic),
            ErrorCode::malformed);
    return Result(blob(*e).subspan(sizeof(CS_GenericBlob)));
}

Expected<std::optional<std::span<const std::byte>>> SuperBlob::entitlements() const {
    return payload(CSSLOT_ENTITLEMENTS, CSMAGIC_EMBEDDED_ENTITLEMENTS, "entitlements");
}

Expected<std::optional<std::span<const std::byte>>> SuperBlob::derEntitlements() const {
    return payload(CSSLOT_DER_ENTITLEMENTS, CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, "DER entitlements");
}

Expected<std::optional<std::span<const std::byte>>> SuperBlob::cmsSignature() const {
    return payload(CSSLOT_SIGNATURESLOT, CSMAGIC_BLOBWRAPPER, "CMS signature");
}

Expected<std::optional<RequirementSet>> SuperBlob::requirements() const {
    const BlobEntry* e = find(CSSLOT_REQUIREMENTS);
    if (!e) return std::optional<RequirementSet>{};
    if (e->magic != CSMAGIC_REQUIREMENTS)
        return fail(
            e->offset,
            "requirements blob has magic " + hex(e->magic) + ", not " + hex(CSMAGIC_REQUIREMENTS),
            ErrorCode::malformed);
    const ByteReader r(blob(*e));
    const auto count = r.u32be(8);
    if (!count || std::uint64_t{*count} * 8 > r.size() - 12)
        return fail(e->offset + 8, "requirement count does not fit in the requirements blob",
                    ErrorCode::truncated);
    RequirementSet set;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint32_t type = *r.u32be(12 + 8 * std::uint64_t{i});
        const std::uint32_t offset = *r.u32be(16 + 8 * std::uint64_t{i});
        const auto length = r.u32be(std::uint64_t{offset} + 4);
        const auto bytes = length ? r.slice(offset, *length) : std::nullopt;
        if (!bytes || *length < sizeof(CS_GenericBlob))
            return fail(e->offset + offset,
                        "requirement " + std::to_string(i) +
                            " extends past the end of the requirements blob",
                        bytes ? ErrorCode::malformed : ErrorCode::truncated);
        set.entries.push_back({type, *bytes});
    }
    return std::optional<RequirementSet>(std::move(set));
}

}  // namespace varko::codesig
