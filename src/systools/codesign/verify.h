#pragma once

#include <cstdint>
#include <ostream>

#include "signing/trust.h"
#include "systools/codesign/options.h"

namespace varko::codesign {

/// codesign's exit statuses for --verify.
inline constexpr int verifiedValid = 0;
inline constexpr int verifiedInvalid = 1;
inline constexpr int verifiedUsage = 2;
inline constexpr int verifiedUnsatisfied = 3;

/// `codesign --verify`: every slice's code and signature, its chain to `anchors` at `now`
/// (seconds since 1970), the bundle, the code's own designated requirement (explicit or
/// implicit), then the -R requirement. Says what codesign says on `err`; returns its status.
[[nodiscard]] int verifyItem(const Options& options, const signing::TrustAnchors& anchors,
                             std::int64_t now, std::ostream& err);

}  // namespace varko::codesign
