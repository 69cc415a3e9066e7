#pragma once

#include <ostream>
#include <string>

#include "format/codesig/superblob.h"

namespace varko::codesign {

/// Writes a signature's entitlements to `destination` as `--entitlements` names it:
/// "-" for standard output or a file path; a leading ':' drops the blob's 8-byte header
/// and leaves the plain XML plist. As the platform's Security framework answers, a signature
/// with a DER form shows that form, the one the system enforces, as an XML plist (whatever its
/// XML blob says); one without shows its XML blob unchanged. Nothing is written when there are
/// no entitlements. Fails with the blob's own error (an unreadable DER form included), or
/// `unreadable` when the destination takes no bytes.
[[nodiscard]] Expected<void> writeEntitlements(const codesig::SuperBlob& signature,
                                               const std::string& destination, std::ostream& out);

}  // namespace varko::codesign
