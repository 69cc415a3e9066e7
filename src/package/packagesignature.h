#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "signing/trust.h"

namespace varko::spctl {

/// What an installer package's signature comes to.
struct PackageVerdict {
    enum class Kind {
        Unsigned,
        Invalid,    ///< the table of contents or the signature does not match
        Untrusted,  ///< valid, but the chain does not end in a trusted root
        Trusted,
    } kind = Kind::Unsigned;
    /// Why an Invalid or Untrusted package is so, the chain's reason for the latter;
    /// holds for the others.
    Expected<void> check;
    std::vector<signing::Certificate> chain;  ///< verified, leaf first; else as stored
    signing::Authority authority = signing::Authority::Unknown;
    std::optional<std::int64_t> timestamp;  ///< a verified CMS timestamp
};

/// Reads a package (xar), checks its table of contents against the checksum in the heap, the
/// RSA signature over that checksum with the first KeyInfo certificate's key, or the CMS
/// signature over it, and the chain to `anchors` at the timestamp or at `now`. Fails only
/// when the file is no xar archive or a broken one.
[[nodiscard]] Expected<PackageVerdict> verifyPackage(const std::filesystem::path& path,
                                                     const signing::TrustAnchors& anchors,
                                                     std::int64_t now);

}  // namespace varko::spctl
