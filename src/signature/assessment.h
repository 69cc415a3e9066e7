#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signing/trust.h"

namespace varko::codesign {

/// Gatekeeper's answer for one piece of code, as `spctl --assess` words it.
struct Assessment {
    bool accepted = false;
    std::string reason;  ///< in parentheses after "rejected"; may be empty
    std::string source = "no usable signature";
    std::optional<std::string> origin;  ///< the leaf's common name, once the chain is trusted
    /// What could not be known offline, each said on a line of its own.
    std::vector<std::string> notes;
};

/// Every slice's code and CMS signature checked against its code directories and `anchors`
/// at `now` (seconds since 1970) and named by Gatekeeper's rules, then the bundle as strict
/// validation has it. The verdict is the worst slice's; in a universal file its reason names
/// that slice. The tools pass Apple's pins.
[[nodiscard]] Assessment assessCode(const std::vector<CodeObject>& slices,
                                    const CodeLocation& location,
                                    const signing::TrustAnchors& anchors, std::int64_t now);

/// Whether a bundle's `contents` folder carries a stapled notarization ticket (the file
/// Contents/CodeResources, beside _CodeSignature) that holds `cdhash`. The ticket's own
/// signature by Apple's notary service is not checked, so its presence proves nothing. A
/// ticket that can't be read, or lies outside `within`, is no ticket.
[[nodiscard]] bool hasStapledTicket(const std::filesystem::path& contents,
                                    std::span<const unsigned char> cdhash,
                                    const ItemRoot* within = nullptr);

}  // namespace varko::codesign
