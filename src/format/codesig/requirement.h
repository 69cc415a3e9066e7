#pragma once

// Code requirements in their compiled form (a requirement blob, or a set of them), turned
// into the text of the requirement language exactly as `codesign -d -r-` prints it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"

namespace varko::codesig {

/// The kinds of a requirement set's entries (SecRequirementType).
inline constexpr std::uint32_t kSecHostRequirementType = 1;
inline constexpr std::uint32_t kSecGuestRequirementType = 2;
inline constexpr std::uint32_t kSecDesignatedRequirementType = 3;
inline constexpr std::uint32_t kSecLibraryRequirementType = 4;
inline constexpr std::uint32_t kSecPluginRequirementType = 5;

/// Opcodes of the expression form. The high byte holds flags: with opGenericFalse or
/// opGenericSkip an opcode the reader does not know is printed by number.
enum : std::uint32_t {
    opFalse,
    opTrue,
    opIdent,
    opAppleAnchor,
    opAnchorHash,
    opInfoKeyValue,
    opAnd,
    opOr,
    opCDHash,
    opNot,
    opInfoKeyField,
    opCertField,
    opTrustedCert,
    opTrustedCerts,
    opCertGeneric,
    opAppleGenericAnchor,
    opEntitlementField,
    opCertPolicy,
    opNamedAnchor,
    opNamedCode,
    opPlatform,
    opNotarized,
    opCertFieldDate,
    opLegacyDevID,
};
inline constexpr std::uint32_t opFlagMask = 0xff000000;
inline constexpr std::uint32_t opGenericFalse = 0x80000000;
inline constexpr std::uint32_t opGenericSkip = 0x40000000;

/// What follows a field: a match operation, then its value if it has one.
enum : std::uint32_t {
    matchExists,
    matchEqual,
    matchContains,
    matchBeginsWith,
    matchEndsWith,
    matchLessThan,
    matchGreaterThan,
    matchLessEqual,
    matchGreaterEqual,
    matchOn,
    matchBefore,
    matchAfter,
    matchOnOrBefore,
    matchOnOrAfter,
    matchAbsent,
};

/// Certificate slots besides a position in the chain.
inline constexpr std::uint32_t leafCertificate = 0;
inline constexpr std::uint32_t anchorCertificate = 0xffffffff;

/// A requirement's program forms; the platform prints both as an expression.
inline constexpr std::uint32_t requirementExprForm = 1;
inline constexpr std::uint32_t requirementLwcrForm = 2;

/// Past this nesting no genuine requirement goes; the platform's own printer recurses
/// without a bound.
inline constexpr int maxRequirementDepth = 128;
/// A set lives in a signature, and real ones take a few kilobytes.
inline constexpr std::size_t maxRequirementBytes = 1u << 20;

/// One requirement blob (0xfade0c00) as text: `identifier "com.example" and anchor apple`.
/// `blob` may run past the blob's own length. An opcode the printer does not know is
/// printed in the platform's words and the printing goes on, as it does; a read past the
/// blob, a depth past maxRequirementDepth or an unknown kind is an error.
[[nodiscard]] Expected<std::string> requirementText(std::span<const std::byte> blob);

/// A requirement set blob (0xfade0c01), a line per requirement: `designated => …`.
[[nodiscard]] Expected<std::string> requirementSetText(std::span<const std::byte> blob);

/// Past this much text no hand-written requirement goes.
inline constexpr std::size_t maxRequirementTextBytes = 1u << 20;

/// Text of the requirement language compiled as the platform compiles it: a requirement
/// blob, or a requirement set blob when the text is `type => requirement` entries. `\\` is
/// taken in strings as the printer writes it. A certificate named by its file is refused:
/// only its hash is taken. Errors name the line and column.
[[nodiscard]] Expected<std::vector<std::byte>> compileRequirement(std::string_view text);

/// A requirement blob of the expression form, written in prefix order as its reader reads.
class RequirementMaker {
public:
    /// An opcode, match operation, certificate slot or number.
    RequirementMaker& word(std::uint32_t value);
    /// Length-prefixed bytes, padded to four.
    RequirementMaker& data(std::span<const std::byte> bytes);
    RequirementMaker& text(std::string_view chars);
    [[nodiscard]] std::vector<std::byte> make() const;

private:
    std::vector<std::byte> program;
};

/// The requirement of `type` in a requirement set blob, running to the set's end; none when
/// it is no set or holds no such entry.
[[nodiscard]] std::optional<std::span<const std::byte>> requirementSetEntry(
    std::span<const std::byte> blob, std::uint32_t type);

/// Whether a requirement set blob holds a requirement of `type`; false when it is no set.
[[nodiscard]] bool requirementSetHas(std::span<const std::byte> blob, std::uint32_t type);

}  // namespace varko::codesig
