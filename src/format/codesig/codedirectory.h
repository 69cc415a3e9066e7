#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"

namespace varko::codesig {

/// The executable segment the code directory vouches for (version 0x20400 on).
struct ExecSegment {
    std::uint64_t base = 0;
    std::uint64_t limit = 0;
    std::uint64_t flags = 0;  ///< CS_EXECSEG_ bits
};

/// Whether a code directory's page hashes were read. Showing a signature needs only the
/// digest of the page hashes, which its reader can take while streaming them from disk.
enum class CodeSlots { Read, LeftUnread };

/// One code directory, checked once: header for its version, strings NUL-terminated
/// inside the blob, every hash slot inside the blob. Fields a version lacks are empty.
struct CodeDirectory {
    std::uint32_t length = 0;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;  ///< CS_ bits: CS_ADHOC, CS_RUNTIME, …
    std::uint32_t hashOffset = 0;
    std::uint32_t identOffset = 0;
    std::uint32_t nSpecialSlots = 0;
    std::uint32_t nCodeSlots = 0;
    std::uint32_t codeLimit = 0;
    std::uint8_t hashSize = 0;
    std::uint8_t hashType = 0;
    std::uint8_t platform = 0;
    std::uint8_t pageSize = 0;  ///< log2 of the page size; 0: one page
    std::string identifier;
    std::optional<std::uint32_t> scatterOffset;  ///< present and non-zero only
    std::optional<std::string> teamId;           ///< present and non-zero offset only
    std::optional<std::uint64_t> codeLimit64;
    std::optional<ExecSegment> execSegment;
    std::optional<std::uint32_t> runtime;  ///< the SDK version the hardened runtime targets
    std::optional<std::uint32_t> preEncryptOffset;
    /// The whole blob, as hashed for the cdhash; with CodeSlots::LeftUnread only the part
    /// before the page hashes, and the cdhash must come from whoever read them.
    std::vector<std::byte> bytes;
    CodeSlots codeSlots = CodeSlots::Read;

    /// Reads a code directory blob; `blob` may run past the blob's own length. With
    /// CodeSlots::LeftUnread the page hashes in `blob` are not looked at (they may be
    /// zeros), and the strings must lie before them.
    [[nodiscard]] static Expected<CodeDirectory> create(std::span<const std::byte> blob,
                                                        CodeSlots codeSlots = CodeSlots::Read);

    /// codeLimit64 when set, else codeLimit.
    [[nodiscard]] std::uint64_t effectiveCodeLimit() const;
    /// Bytes per page, or 0 when the whole code is one page.
    [[nodiscard]] std::uint64_t pageBytes() const;
    /// The stored hash of code page `index`, if there is such a slot and it was read.
    [[nodiscard]] std::optional<std::span<const std::byte>> codeSlotHash(std::uint32_t index) const;
    /// The stored hash of special slot `slot` (CSSLOT_INFOSLOT …), if there is such a slot.
    [[nodiscard]] std::optional<std::span<const std::byte>> specialSlotHash(
        std::uint32_t slot) const;
};

}  // namespace varko::codesig
