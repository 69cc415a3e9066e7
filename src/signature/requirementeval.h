#pragma once

// A code requirement checked against code as the platform checks it. What cannot be known
// here (notarization, this Mac's trust settings, certificate fields not read) is unknown,
// never satisfied: only a requirement whose every deciding clause holds is satisfied.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"
#include "format/plist/value.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signing/cms.h"
#include "signing/trust.h"

namespace varko::codesign {

/// What a requirement is checked against; an empty part is absent, as the platform has it.
struct RequirementContext {
    bool hasDirectory = false;
    std::string identifier;
    std::vector<unsigned char> cdhash;  ///< of the chosen code directory, cut to 20 bytes
    std::uint8_t platform = 0;
    std::optional<plist::Dictionary> info;          ///< the Info.plist the signature binds
    std::optional<plist::Dictionary> entitlements;  ///< those the signature binds
    std::vector<signing::Certificate> chain;        ///< leaf first
    signing::TrustAnchors appleRoots;
};

enum class Truth { no, yes, unknown };

struct RequirementOutcome {
    Truth truth = Truth::no;
    /// What could not be decided here, in the order it was met.
    std::vector<std::string> unknowns;
    [[nodiscard]] bool satisfied() const { return truth == Truth::yes; }
};

/// Checks one requirement blob against `context`. A malformed blob, one nested past
/// codesig::maxRequirementDepth or an opcode that may not be skipped is an error, as it is
/// for the platform.
[[nodiscard]] Expected<RequirementOutcome> evaluateRequirement(std::span<const std::byte> blob,
                                                               const RequirementContext& context);

/// The certificates a slice's CMS signature was verified with at `now` (its timestamp's time
/// when it has one), leaf first; none for ad hoc code. A chain that leads to none of
/// `anchors` fails with ErrorCode::untrusted. Whether the code still matches its code
/// directory is not checked here.
[[nodiscard]] Expected<std::vector<signing::Certificate>> verifiedChain(
    const CodeObject& code, const signing::TrustAnchors& anchors, std::int64_t now);

/// The context of one slice: its chosen code directory, the Info.plist and entitlements its
/// signature binds (an unbound or changed one counts as absent), and `chain`, the
/// certificates its signature was verified with.
[[nodiscard]] Expected<RequirementContext> requirementContext(
    const CodeObject& code, const CodeLocation& location, std::vector<signing::Certificate> chain,
    const signing::TrustAnchors& appleRoots);

}  // namespace varko::codesign
