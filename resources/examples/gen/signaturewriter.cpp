#include "gen/signaturewriter.h"

#include <algorithm>
#include <map>

#include "gen/bytebuffer.h"

namespace varko::examplegen {

using namespace codesig;

namespace {

std::vector<std::byte> genericBlob(std::uint32_t magic, std::span<const std::byte> payload) {
    ByteBuffer b;
    b.be32(magic);
    b.be32(static_cast<std::uint32_t>(8 + payload.size()));
    b.append(payload);
    return std::move(b).take();
}

std::span<const std::byte> textBytes(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

/// The blobs other than the code directory, by slot; their hashes go into special slots.
std::map<std::uint32_t, std::vector<std::byte>> sideBlobs(const SignatureOptions& o) {
    std::map<std::uint32_t, std::vector<std::byte>> blobs;
    if (o.requirements) {
        ByteBuffer b;
        b.be32(CSMAGIC_REQUIREMENTS);
        b.be32(12);
        b.be32(0);
        blobs[CSSLOT_REQUIREMENTS] = std::move(b).take();
    }
    if (o.entitlements)
        blobs[CSSLOT_ENTITLEMENTS] =
            genericBlob(CSMAGIC_EMBEDDED_ENTITLEMENTS, textBytes(*o.entitlements));
    if (o.derEntitlements)
        blobs[CSSLOT_DER_ENTITLEMENTS] =
            genericBlob(CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, *o.derEntitlements);
    if (o.cmsWrapper) blobs[CSSLOT_SIGNATURESLOT] = genericBlob(CSMAGIC_BLOBWRAPPER, {});
    return blobs;
}

std::uint64_t codeSlotCount(std::uint64_t codeLimit) {
    return (codeLimit + signaturePageSize - 1) / signaturePageSize;
}

std::vector<std::byte> codeDirectory(const SignatureOptions& o, const CodeLayout& layout,
                                     const std::map<std::uint32_t, std::vector<std::byte>>& blobs,
                                     const PageHasher* pageHash) {
    std::uint32_t nSpecial = 0;
    for (const auto& [slot, blob] : blobs)
        if (slot < CSSLOT_ALTERNATE_CODEDIRECTORIES) nSpecial = std::max(nSpecial, slot);
    if (o.infoPlist) nSpecial = std::max(nSpecial, CSSLOT_INFOSLOT);
    if (o.codeResources) nSpecial = std::max(nSpecial, CSSLOT_RESOURCEDIR);

    const std::uint32_t header = codeDirectoryHeaderSize(CS_SUPPORTSEXECSEG);
    const std::uint32_t identOffset = header;
    const std::uint32_t teamOffset =
        o.teamId ? static_cast<std::uint32_t>(identOffset + o.identifier.size() + 1) : 0;
    const std::uint32_t stringsEnd =
        o.teamId ? static_cast<std::uint32_t>(teamOffset + o.teamId->size() + 1)
                 : static_cast<std::uint32_t>(identOffset + o.identifier.size() + 1);
    const std::uint32_t hashOffset = stringsEnd + nSpecial * CS_SHA256_LEN;
    const std::uint64_t nCode = codeSlotCount(layout.codeLimit);
    const std::uint64_t length = hashOffset + nCode * CS_SHA256_LEN;

    ByteBuffer b;
    b.be32(CSMAGIC_CODEDIRECTORY);
    b.be32(static_cast<std::uint32_t>(length));
    b.be32(CS_SUPPORTSEXECSEG);
    b.be32(o.flags);
    b.be32(hashOffset);
    b.be32(identOffset);
    b.be32(nSpecial);
    b.be32(static_cast<std::uint32_t>(nCode));
    b.be32(layout.codeLimit > 0xffffffffu ? 0 : static_cast<std::uint32_t>(layout.codeLimit));
    b.u8(CS_SHA256_LEN);
    b.u8(CS_HASHTYPE_SHA256);
    b.u8(o.platform);
    b.u8(12);   // log2 of signaturePageSize
    b.be32(0);  // spare2
    b.be32(0);  // scatterOffset
    b.be32(teamOffset);
    b.be32(0);  // spare3
    b.be64(layout.codeLimit > 0xffffffffu ? layout.codeLimit : 0);
    b.be64(layout.execSegBase);
    b.be64(layout.execSegLimit);
    b.be64(layout.execSegFlags);
    b.append(o.identifier);
    b.u8(0);
    if (o.teamId) {
        b.append(*o.teamId);
        b.u8(0);
    }
    // Special slot N sits N hashes before hashOffset, so they are written highest first.
    for (std::uint32_t slot = nSpecial; slot >= 1; --slot) {
        Sha256Digest digest{};
        if (slot == CSSLOT_INFOSLOT && o.infoPlist) digest = sha256(*o.infoPlist);
        if (slot == CSSLOT_RESOURCEDIR && o.codeResources) digest = sha256(*o.codeResources);
        if (auto it = blobs.find(slot); it != blobs.end()) digest = sha256(it->second);
        b.append(digest);
    }
    for (std::uint64_t page = 0; page < nCode; ++page)
        b.append(pageHash ? (*pageHash)(page) : Sha256Digest{});
    return std::move(b).take();
}

std::vector<std::byte> superBlob(const SignatureOptions& o, const CodeLayout& layout,
                                 const PageHasher* pageHash) {
    auto blobs = sideBlobs(o);
    std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> all;
    all.emplace_back(CSSLOT_CODEDIRECTORY, codeDirectory(o, layout, blobs, pageHash));
    if (o.cmsWrapper && o.cmsSigner) {
        // Sizing runs without page hashes; the real blob must fit in what sizing reserved.
        const auto cms = pageHash ? o.cmsSigner(all.front().second) : std::vector<std::byte>(o.cmsReserve);
        blobs[CSSLOT_SIGNATURESLOT] = genericBlob(CSMAGIC_BLOBWRAPPER, cms);
    }
    for (const auto& [slot, blob] : blobs) all.emplace_back(slot, blob);

    ByteBuffer b;
    b.be32(CSMAGIC_EMBEDDED_SIGNATURE);
    b.be32(0);  // patched below
    b.be32(static_cast<std::uint32_t>(all.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(12 + 8 * all.size());
    for (const auto& [slot, blob] : all) {
        b.be32(slot);
        b.be32(offset);
        offset += static_cast<std::uint32_t>(blob.size());
    }
    for (const auto& [slot, blob] : all) b.append(blob);
    b.patchBE32(4, static_cast<std::uint32_t>(b.size()));
    return std::move(b).take();
}

}  // namespace

PageHasher memoryPageHasher(std::span<const std::byte> code) {
    return [code](std::uint64_t index) {
        const std::uint64_t start = index * signaturePageSize;
        const std::uint64_t n = std::min<std::uint64_t>(signaturePageSize, code.size() - start);
        return sha256(code.subspan(start, n));
    };
}

std::vector<std::byte> makeSignature(const SignatureOptions& options, const CodeLayout& layout,
                                     const PageHasher& pageHash) {
    return superBlob(options, layout, &pageHash);
}

std::uint64_t signatureSize(const SignatureOptions& options, std::uint64_t codeLimit) {
    CodeLayout layout;
    layout.codeLimit = codeLimit;
    return superBlob(options, layout, nullptr).size();
}

}  // namespace varko::examplegen
