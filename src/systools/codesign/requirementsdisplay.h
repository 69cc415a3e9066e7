#pragma once

#include <ostream>
#include <string>

#include "signature/bundlelocator.h"
#include "signature/codeobject.h"

namespace varko::codesign {

/// Writes what `codesign -d -r` writes: each internal requirement as `designated => …`,
/// and when none is the designated one, the implicit one as `# designated => …`.
/// `destination` is "-" for `out` or a file; fails with why the requirements can't be read
/// or the file can't be written (unwritable).
[[nodiscard]] Expected<void> writeRequirements(const CodeObject& code, const CodeLocation& location,
                                               const std::string& destination, std::ostream& out);

}  // namespace varko::codesign
