#pragma once

#include <cstddef>
#include <span>

#include "format/expected.h"
#include "format/plist/value.h"

namespace varko::codesig {

/// Containers nested deeper than this are refused; real entitlements nest two or three deep.
inline constexpr int maxDerEntitlementDepth = 32;
/// Values (keys, scalars and containers) past this count are refused; real sets hold hundreds.
inline constexpr std::size_t maxDerEntitlementValues = 65536;

/// Reads the DER form of entitlements (the payload of a 0xfade7172 blob), as CoreEntitlements
/// writes it and the platform enforces it:
///
///     [APPLICATION 16] SEQUENCE { version INTEGER (1), [CONTEXT 16] dictionary }
///     dictionary ::= SET OF SEQUENCE { key UTF8String, value }
///     value      ::= BOOLEAN | INTEGER | UTF8String | SEQUENCE OF value | dictionary
///
/// Only definite lengths in their shortest form are read, and nothing may follow the outer
/// element or any element's contents. A key that occurs twice in one dictionary is an error:
/// the platform's lookup expects one value per key, and which of two it finds depends on how it
/// searches, so no answer of ours would be the one it enforces. Errors carry the byte offset in
/// `der` and read "malformed DER entitlements (at byte N: …)".
[[nodiscard]] Expected<plist::Dictionary> parseDerEntitlements(std::span<const std::byte> der);

}  // namespace varko::codesig
