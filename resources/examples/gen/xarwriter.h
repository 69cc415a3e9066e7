#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "gen/testca.h"

namespace varko::examplegen {

/// How a test package is signed: productsign's RSA signature of the TOC checksum with the
/// certificates in KeyInfo, or a CMS signature of it (`cms`), reserved at `cmsReserve` bytes.
struct XarSigning {
    const TestIdentity* signer = nullptr;  ///< RSA keys for the RSA style
    std::vector<const TestIdentity*> certificates;  ///< leaf first
    bool cms = false;
    CmsRequest cmsRequest;  ///< signer and chain as above; times from here
    std::size_t cmsReserve = 6000;
};

/// A xar archive: header, zlib-compressed TOC (with `files` inside <toc>), and a heap that
/// starts with the TOC's checksum (sha1 or sha256) followed by the signature.
[[nodiscard]] std::vector<std::byte> makeXar(const std::string& files, const std::optional<XarSigning>& signing,
                                             const std::string& checksumStyle = "sha1");

}  // namespace varko::examplegen
