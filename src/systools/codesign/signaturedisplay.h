#pragma once

#include <ostream>
#include <string>

#include "signature/bundlelocator.h"
#include "signature/codeobject.h"

namespace varko::codesign {

/// The flag names codesign puts in parentheses after a code directory's flags,
/// "none" for zero; bits without a name are left out of the list.
[[nodiscard]] std::string flagNames(std::uint32_t flags);

/// What `codesign -dvvv` writes on standard error after the `Executable=` line, for
/// what can be read from the files: identity, format, code directory, hashes, the
/// bound Info.plist, team, runtime, sealed resources and internal requirements.
/// Fails with what is broken, the signature or a file that can't be read.
[[nodiscard]] Expected<void> writeDetails(const CodeObject& code, const CodeLocation& location,
                                          const std::string& format, std::ostream& err);

}  // namespace varko::codesign
