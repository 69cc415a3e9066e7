#pragma once

// Code requirements in their compiled form (a requirement blob, or a set of them), turned
// into the text of the requirement language exactly as `codesign -d -r-` prints it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "format/expected.h"

namespace varko::codesig {

/// The kinds of a requirement set's entries (SecRequirementType).
inline constexpr std::uint32_t kSecHostRequirementType = 1;
inline constexpr std::uint32_t kSecGuestRequirementType = 2;
inline constexpr std::uint32_t kSecDesignatedRequirementType = 3;
inline constexpr std::uint32_t kSecLibraryRequirementType = 4;
inline constexpr std::uint32_t kSecPluginRequirementType = 5;

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

/// Whether a requirement set blob holds a requirement of `type`; false when it is no set.
[[nodiscard]] bool requirementSetHas(std::span<const std::byte> blob, std::uint32_t type);

}  // namespace varko::codesig
