#pragma once

#include <cstdint>
#include <filesystem>

#include "overview/overview.h"
#include "systools/signing/trust.h"

namespace varko::overview {

/// Verifies one component the way strict code-signing validation does, and names who
/// signed it by the trust rules: its code, its seal and nested code, its CMS signature and
/// chain to `anchors` at `now` (seconds since 1970). Reads only inside `item`, the bundle
/// the component belongs to.
[[nodiscard]] ComponentCheck checkComponent(const std::filesystem::path& item,
                                            const Component& component,
                                            const signing::TrustAnchors& anchors, std::int64_t now);

/// Checks every component of `overview` on up to `threads` threads at once and flags them
/// anew: for the command line, which waits for the whole answer.
void checkComponents(Overview& overview, const std::filesystem::path& item,
                     const signing::TrustAnchors& anchors, std::int64_t now, unsigned threads);

}  // namespace varko::overview
