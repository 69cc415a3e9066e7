#pragma once

#include <cstdint>
#include <filesystem>

#include "overview/overview.h"
#include "signature/hashbudget.h"
#include "signing/trust.h"
#include "tools/toolset.h"

namespace varko::overview {

/// Verifies one component the way strict code-signing validation does, and names who
/// signed it by the trust rules: its code, its seal and nested code, its CMS signature and
/// chain to `anchors` at `now` (seconds since 1970). Reads only inside `item`, the bundle
/// the component belongs to.
/// Hashing draws on `budget`, which the checks of one item share so that each file is
/// hashed once and the item's total is bounded; without one, this check has its own.
[[nodiscard]] ComponentCheck checkComponent(const std::filesystem::path& item,
                                            const Component& component,
                                            const signing::TrustAnchors& anchors, std::int64_t now,
                                            codesign::HashBudget* budget = nullptr);

/// The same where the system has its own verifier: on macOS (a profile that assesses
/// online) the validity and its reason come from the system's codesign, strict
/// verification of that one piece; who signed it is still named by the trust rules over
/// its own certificates. Elsewhere this is checkComponent. Raising `cancel` ends the tool.
[[nodiscard]] ComponentCheck verifyComponent(const host::ToolSet& tools,
                                             const std::filesystem::path& item,
                                             const Component& component,
                                             const host::CancelFlag& cancel = {},
                                             codesign::HashBudget* budget = nullptr);

/// Checks every component of `overview` on the threads that `work` grants and flags them
/// anew: for the command line, which waits for the whole answer. Once `work` is called off,
/// the pieces not yet checked stay unchecked.
void checkComponents(Overview& overview, const std::filesystem::path& item,
                     const host::ToolSet& tools, const Work& work = {});

}  // namespace varko::overview
