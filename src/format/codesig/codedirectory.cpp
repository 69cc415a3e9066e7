#include "format/codesig/codedirectory.h"
#include "format/hex.h"

#include <algorithm>
#include <cstdio>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/prefault.h"

namespace varko::codesig {

namespace {

Error fail(std::uint64_t offset, const std::string& what, ErrorCode code) {
    return Error{offset, "malformed code directory (" + what + ")", code};
}

/// A NUL-terminated string starting at `offset` and ending inside the blob. An error names
/// the string as `what` and is placed at `field`, the header field that holds the offset.
Expected<std::string> cString(const ByteReader& r, std::uint32_t offset, std::uint64_t field,
                              const char* what) {
    const auto rest = offset < r.size() ? r.text(offset, r.size() - offset) : std::nullopt;
    const auto nul = rest ? rest->find('\0') : std::string_view::npos;
    if (nul == std::string_view::npos)
        return fail(field,
                    std::string(what) + " at offset " + std::to_string(offset) +
                        " is not NUL-terminated inside the code directory",
                    ErrorCode::malformed);
    return std::string(rest->substr(0, nul));
}

}  // namespace

Expected<CodeDirectory> CodeDirectory::create(std::span<const std::byte> blob,
                                              CodeSlots codeSlots) {
    const ByteReader whole(blob);
    const auto magic = whole.u32be(0);
    const auto length = whole.u32be(4);
    if (!magic || !length)
        return fail(0, "blob is shorter than its 8-byte header", ErrorCode::truncated);
    if (*magic != CSMAGIC_CODEDIRECTORY)
        return fail(0, "magic " + hex(*magic) + " is not " + hex(CSMAGIC_CODEDIRECTORY),
                    ErrorCode::malformed);
    if (*length > blob.size())
        return fail(4,
                    "length " + std::to_string(*length) + " is more than the " +
                        std::to_string(blob.size()) + " bytes present",
                    ErrorCode::truncated);
    const ByteReader r(blob.first(*length));
    CodeDirectory cd;
    cd.length = *length;
    cd.codeSlots = codeSlots;
    const auto version = r.u32be(8);
    if (!version)
        return fail(8, "length " + std::to_string(*length) + " is too short for a header",
                    ErrorCode::truncated);
    cd.version = *version;
    if (cd.version < CS_EARLIEST_VERSION || (cd.version >> 16) != 2)
        return fail(8, "unsupported version " + hex(cd.version), ErrorCode::unsupported);
    const std::uint32_t headerSize = codeDirectoryHeaderSize(cd.version);
    if (cd.length < headerSize)
        return fail(4,
                    "version " + hex(cd.version) + " needs " + std::to_string(headerSize) +
                        " bytes of header, the blob has " + std::to_string(cd.length),
                    ErrorCode::truncated);

    cd.flags = *r.u32be(12);
    cd.hashOffset = *r.u32be(16);
    cd.identOffset = *r.u32be(20);
    cd.nSpecialSlots = *r.u32be(24);
    cd.nCodeSlots = *r.u32be(28);
    cd.codeLimit = *r.u32be(32);
    cd.hashSize = *r.u8(36);
    cd.hashType = *r.u8(37);
    cd.platform = *r.u8(38);
    cd.pageSize = *r.u8(39);
    if (cd.version >= CS_SUPPORTSSCATTER && *r.u32be(44) != 0) cd.scatterOffset = *r.u32be(44);
    const std::uint32_t teamOffset = cd.version >= CS_SUPPORTSTEAMID ? *r.u32be(48) : 0;
    if (cd.version >= CS_SUPPORTSCODELIMIT64) cd.codeLimit64 = *r.u64be(56);
    if (cd.version >= CS_SUPPORTSEXECSEG)
        cd.execSegment = ExecSegment{*r.u64be(64), *r.u64be(72), *r.u64be(80)};
    if (cd.version >= CS_SUPPORTSRUNTIME) {
        cd.runtime = *r.u32be(88);
        cd.preEncryptOffset = *r.u32be(92);
    }

    if (cd.hashSize == 0 || cd.hashSize > CS_HASH_MAX_SIZE)
        return fail(36,
                    "hashSize " + std::to_string(cd.hashSize) + " is not between 1 and " +
                        std::to_string(CS_HASH_MAX_SIZE),
                    ErrorCode::malformed);
    if (const auto expected = hashLength(cd.hashType); expected != 0 && expected != cd.hashSize)
        return fail(36,
                    "hashSize " + std::to_string(cd.hashSize) + " does not match hash type " +
                        std::to_string(cd.hashType),
                    ErrorCode::malformed);
    // Unread page hashes are no part of any string.
    const ByteReader strings(codeSlots == CodeSlots::Read ? r.all()
                                                          : r.all().first(std::min<std::uint64_t>(
                                                                cd.hashOffset, cd.length)));
    auto identifier = cString(strings, cd.identOffset, 20, "identifier");
    if (!identifier) return identifier.error();
    cd.identifier = std::move(*identifier);
    if (teamOffset != 0) {
        auto team = cString(strings, teamOffset, 48, "team identifier");
        if (!team) return team.error();
        cd.teamId = std::move(*team);
    }
    if (cd.scatterOffset && *cd.scatterOffset >= cd.length)
        return fail(
            44,
            "scatterOffset " + std::to_string(*cd.scatterOffset) + " is outside the code directory",
            ErrorCode::malformed);
    const std::uint64_t specialBytes = std::uint64_t{cd.nSpecialSlots} * cd.hashSize;
    if (specialBytes > cd.hashOffset)
        return fail(
            24, std::to_string(cd.nSpecialSlots) + " special slots start before the code directory",
            ErrorCode::malformed);
    const std::uint64_t codeBytes = std::uint64_t{cd.nCodeSlots} * cd.hashSize;
    if (cd.hashOffset > cd.length || codeBytes > cd.length - cd.hashOffset)
        return fail(16,
                    "hashOffset " + std::to_string(cd.hashOffset) + " plus " +
                        std::to_string(cd.nCodeSlots) + " code slots of " +
                        std::to_string(cd.hashSize) +
                        " bytes extends past the end of the code directory of " +
                        std::to_string(cd.length) + " bytes",
                    ErrorCode::truncated);
    const auto kept = codeSlots == CodeSlots::Read ? r.all() : r.all().first(cd.hashOffset);
    cd.bytes = prefaultedBuffer(kept.size());
    cd.bytes.assign(kept.begin(), kept.end());
    return cd;
}

std::uint64_t CodeDirectory::effectiveCodeLimit() const {
    return codeLimit64 && *codeLimit64 != 0 ? *codeLimit64 : codeLimit;
}

std::uint64_t CodeDirectory::pageBytes() const {
    return pageSize == 0 || pageSize >= 64 ? 0 : std::uint64_t{1} << pageSize;
}

std::optional<std::span<const std::byte>> CodeDirectory::codeSlotHash(std::uint32_t index) const {
    if (index >= nCodeSlots || codeSlots == CodeSlots::LeftUnread) return std::nullopt;
    return ByteReader(bytes).slice(hashOffset + std::uint64_t{index} * hashSize, hashSize);
}

std::optional<std::span<const std::byte>> CodeDirectory::specialSlotHash(std::uint32_t slot) const {
    if (slot == 0 || slot > nSpecialSlots) return std::nullopt;
    return ByteReader(bytes).slice(hashOffset - std::uint64_t{slot} * hashSize, hashSize);
}

}  // namespace varko::codesig
