#pragma once

#include <string>

#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signing/trust.h"

namespace varko::codesign {

/// The designated requirement the platform makes up for code whose signature holds none,
/// as text: its cdhashes for ad hoc code (every slice's), else its identifier and its signer
/// as the certificates name it, by Apple's markers under one of `appleRoots`. Empty when
/// there is none to make (a signature without certificates).
[[nodiscard]] Expected<std::string> implicitDesignatedRequirement(
    const CodeObject& code, const CodeLocation& location, const signing::TrustAnchors& appleRoots);

/// The requirement by which the platform knows this code across updates, as text.
struct DesignatedRequirement {
    std::string text;       ///< empty when there is none (a signature without certificates)
    bool implicit = false;  ///< made up by the platform's rules, not carried by the signature
};

/// The signature's own designated requirement, else the implicit one.
[[nodiscard]] Expected<DesignatedRequirement> designatedRequirement(
    const CodeObject& code, const CodeLocation& location, const signing::TrustAnchors& appleRoots);

}  // namespace varko::codesign
