#pragma once

#include <ostream>
#include <string>

#include "format/codesig/superblob.h"

namespace varko::codesign {

/// Writes a signature's entitlements to `destination` as `--entitlements` names it:
/// "-" for standard output or a file path; a leading ':' drops the blob's 8-byte header
/// and leaves the plain XML plist. Nothing is written when there is no entitlements blob.
/// Fails with the blob's own error, or `unreadable` when the destination takes no bytes.
[[nodiscard]] Expected<void> writeEntitlements(const codesig::SuperBlob& signature,
                                               const std::string& destination, std::ostream& out);

}  // namespace varko::codesign
