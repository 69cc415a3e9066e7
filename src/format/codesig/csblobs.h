#pragma once

// On-disk layouts and constants of embedded code signatures, with the platform's
// spellings (cs_blobs.h). Every field is big-endian on disk.

#include <cstddef>
#include <cstdint>

namespace varko::codesig {

inline constexpr std::uint32_t CSMAGIC_REQUIREMENT = 0xfade0c00;
inline constexpr std::uint32_t CSMAGIC_REQUIREMENTS = 0xfade0c01;
inline constexpr std::uint32_t CSMAGIC_CODEDIRECTORY = 0xfade0c02;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_SIGNATURE_OLD = 0xfade0b02;
inline constexpr std::uint32_t CSMAGIC_DETACHED_SIGNATURE = 0xfade0cc1;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_ENTITLEMENTS = 0xfade7171;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_DER_ENTITLEMENTS = 0xfade7172;
inline constexpr std::uint32_t CSMAGIC_BLOBWRAPPER = 0xfade0b01;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_LAUNCH_CONSTRAINT = 0xfade8181;

inline constexpr std::uint32_t CSSLOT_CODEDIRECTORY = 0;
inline constexpr std::uint32_t CSSLOT_INFOSLOT = 1;
inline constexpr std::uint32_t CSSLOT_REQUIREMENTS = 2;
inline constexpr std::uint32_t CSSLOT_RESOURCEDIR = 3;
inline constexpr std::uint32_t CSSLOT_APPLICATION = 4;
inline constexpr std::uint32_t CSSLOT_ENTITLEMENTS = 5;
inline constexpr std::uint32_t CSSLOT_DER_ENTITLEMENTS = 7;
inline constexpr std::uint32_t CSSLOT_LAUNCH_CONSTRAINT_SELF = 8;
inline constexpr std::uint32_t CSSLOT_LAUNCH_CONSTRAINT_PARENT = 9;
inline constexpr std::uint32_t CSSLOT_LAUNCH_CONSTRAINT_RESPONSIBLE = 10;
inline constexpr std::uint32_t CSSLOT_LIBRARY_CONSTRAINT = 11;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORIES = 0x1000;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORY_MAX = 5;
inline constexpr std::uint32_t CSSLOT_SIGNATURESLOT = 0x10000;
inline constexpr std::uint32_t CSSLOT_IDENTIFICATIONSLOT = 0x10001;
inline constexpr std::uint32_t CSSLOT_TICKETSLOT = 0x10002;

inline constexpr std::uint32_t CS_VALID = 0x1;
inline constexpr std::uint32_t CS_ADHOC = 0x2;
inline constexpr std::uint32_t CS_GET_TASK_ALLOW = 0x4;
inline constexpr std::uint32_t CS_INSTALLER = 0x8;
inline constexpr std::uint32_t CS_FORCED_LV = 0x10;
inline constexpr std::uint32_t CS_INVALID_ALLOWED = 0x20;
inline constexpr std::uint32_t CS_HARD = 0x100;
inline constexpr std::uint32_t CS_KILL = 0x200;
inline constexpr std::uint32_t CS_CHECK_EXPIRATION = 0x400;
inline constexpr std::uint32_t CS_RESTRICT = 0x800;
inline constexpr std::uint32_t CS_ENFORCEMENT = 0x1000;
inline constexpr std::uint32_t CS_REQUIRE_LV = 0x2000;
inline constexpr std::uint32_t CS_ENTITLEMENTS_VALIDATED = 0x4000;
inline constexpr std::uint32_t CS_NVRAM_UNRESTRICTED = 0x8000;
inline constexpr std::uint32_t CS_RUNTIME = 0x10000;
inline constexpr std::uint32_t CS_LINKER_SIGNED = 0x20000;

inline constexpr std::uint64_t CS_EXECSEG_MAIN_BINARY = 0x1;
inline constexpr std::uint64_t CS_EXECSEG_ALLOW_UNSIGNED = 0x10;
inline constexpr std::uint64_t CS_EXECSEG_DEBUGGER = 0x20;
inline constexpr std::uint64_t CS_EXECSEG_JIT = 0x40;
inline constexpr std::uint64_t CS_EXECSEG_SKIP_LV = 0x80;
inline constexpr std::uint64_t CS_EXECSEG_CAN_LOAD_CDHASH = 0x100;
inline constexpr std::uint64_t CS_EXECSEG_CAN_EXEC_CDHASH = 0x200;

/// Code directory versions, each adding the fields named.
inline constexpr std::uint32_t CS_SUPPORTSSCATTER = 0x20100;
inline constexpr std::uint32_t CS_SUPPORTSTEAMID = 0x20200;
inline constexpr std::uint32_t CS_SUPPORTSCODELIMIT64 = 0x20300;
inline constexpr std::uint32_t CS_SUPPORTSEXECSEG = 0x20400;
inline constexpr std::uint32_t CS_SUPPORTSRUNTIME = 0x20500;
inline constexpr std::uint32_t CS_SUPPORTSLINKAGE = 0x20600;
inline constexpr std::uint32_t CS_EARLIEST_VERSION = 0x20001;

inline constexpr std::uint8_t CS_HASHTYPE_SHA1 = 1;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256 = 2;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256_TRUNCATED = 3;
inline constexpr std::uint8_t CS_HASHTYPE_SHA384 = 4;
inline constexpr std::uint8_t CS_SHA1_LEN = 20;
inline constexpr std::uint8_t CS_SHA256_LEN = 32;
inline constexpr std::uint8_t CS_SHA256_TRUNCATED_LEN = 20;
inline constexpr std::uint8_t CS_SHA384_LEN = 48;
inline constexpr std::uint8_t CS_HASH_MAX_SIZE = 48;

struct CS_BlobIndex {
    std::uint32_t type;    ///< a CSSLOT_ value
    std::uint32_t offset;  ///< from the start of the SuperBlob
};
static_assert(sizeof(CS_BlobIndex) == 8);

struct CS_SuperBlob {
    std::uint32_t magic;
    std::uint32_t length;  ///< of the whole SuperBlob, index and blobs
    std::uint32_t count;
    // CS_BlobIndex index[count] follows
};
static_assert(sizeof(CS_SuperBlob) == 12);

struct CS_GenericBlob {
    std::uint32_t magic;
    std::uint32_t length;  ///< header included
};
static_assert(sizeof(CS_GenericBlob) == 8);

struct CS_CodeDirectory {
    std::uint32_t magic;
    std::uint32_t length;
    std::uint32_t version;
    std::uint32_t flags;
    std::uint32_t hashOffset;  ///< of code slot 0; special slot N is N hashes before it
    std::uint32_t identOffset;
    std::uint32_t nSpecialSlots;
    std::uint32_t nCodeSlots;
    std::uint32_t codeLimit;
    std::uint8_t hashSize;
    std::uint8_t hashType;
    std::uint8_t platform;
    std::uint8_t pageSize;  ///< log2; 0 means one page for everything
    std::uint32_t spare2;
    // CS_SUPPORTSSCATTER
    std::uint32_t scatterOffset;
    // CS_SUPPORTSTEAMID
    std::uint32_t teamOffset;
    // CS_SUPPORTSCODELIMIT64
    std::uint32_t spare3;
    std::uint64_t codeLimit64;
    // CS_SUPPORTSEXECSEG
    std::uint64_t execSegBase;
    std::uint64_t execSegLimit;
    std::uint64_t execSegFlags;
    // CS_SUPPORTSRUNTIME
    std::uint32_t runtime;
    std::uint32_t preEncryptOffset;
    // CS_SUPPORTSLINKAGE
    std::uint8_t linkageHashType;
    std::uint8_t linkageApplicationType;
    std::uint16_t linkageApplicationSubType;
    std::uint32_t linkageOffset;
    std::uint32_t linkageSize;
};
static_assert(offsetof(CS_CodeDirectory, scatterOffset) == 44);
static_assert(offsetof(CS_CodeDirectory, teamOffset) == 48);
static_assert(offsetof(CS_CodeDirectory, codeLimit64) == 56);
static_assert(offsetof(CS_CodeDirectory, execSegBase) == 64);
static_assert(offsetof(CS_CodeDirectory, runtime) == 88);
static_assert(offsetof(CS_CodeDirectory, linkageHashType) == 96);
static_assert(offsetof(CS_CodeDirectory, linkageSize) == 104);

/// Bytes of the code directory's header for a version: the fields it has.
[[nodiscard]] constexpr std::uint32_t codeDirectoryHeaderSize(std::uint32_t version) {
    if (version >= CS_SUPPORTSLINKAGE) return offsetof(CS_CodeDirectory, linkageSize) + 4;
    if (version >= CS_SUPPORTSRUNTIME) return offsetof(CS_CodeDirectory, linkageHashType);
    if (version >= CS_SUPPORTSEXECSEG) return offsetof(CS_CodeDirectory, runtime);
    if (version >= CS_SUPPORTSCODELIMIT64) return offsetof(CS_CodeDirectory, execSegBase);
    if (version >= CS_SUPPORTSTEAMID) return offsetof(CS_CodeDirectory, spare3);
    if (version >= CS_SUPPORTSSCATTER) return offsetof(CS_CodeDirectory, teamOffset);
    return offsetof(CS_CodeDirectory, scatterOffset);
}

/// The length in bytes of a digest of a hash type, or 0 for types we do not know.
[[nodiscard]] constexpr std::uint8_t hashLength(std::uint8_t hashType) {
    switch (hashType) {
        case CS_HASHTYPE_SHA1:
            return CS_SHA1_LEN;
        case CS_HASHTYPE_SHA256:
            return CS_SHA256_LEN;
        case CS_HASHTYPE_SHA256_TRUNCATED:
            return CS_SHA256_TRUNCATED_LEN;
        case CS_HASHTYPE_SHA384:
            return CS_SHA384_LEN;
        default:
            return 0;
    }
}

}  // namespace varko::codesig
