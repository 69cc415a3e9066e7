#pragma once

#include <ostream>
#include <string>

#include "format/codesig/superblob.h"

namespace varko::codesign {

/// Writes a signature's entitlements to `destination` as `--entitlements` names it:
/// "-" for standard output or a file path; a leading ':' drops the blob's 8-byte header
/// and leaves the plain XML plist. Nothing is written when there is no entitlements blob.
/// Returns an error text, or an empty one on success.
[[nodiscard]] std::string writeEntitlements(const codesig::SuperBlob& signature,
                                            const std::string& destination, std::ostream& out);

}  // namespace varko::codesign
