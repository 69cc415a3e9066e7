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

}  // namespace varko::codesign
