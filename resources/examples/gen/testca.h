#pragma once

// A certificate authority made at run time for tests, and CMS signatures like codesign's.
// Nothing here is Apple's: the tests pass this root to the verifier as their own anchor.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct evp_pkey_st;

namespace varko::examplegen {

/// A certificate and its private key (P-256, so that tests stay fast).
struct TestIdentity {
    std::vector<unsigned char> certificate;  ///< DER
    std::shared_ptr<evp_pkey_st> key;
};

/// What a certificate says. Apple's marker extensions are added as NULL-valued extensions,
/// critical when `criticalMarkers` is set, as on real Developer ID Application leaves.
struct CertificateRequest {
    std::string commonName;
    std::optional<std::string> organizationalUnit;  ///< the team identifier on Apple leaves
    bool authority = false;
    std::vector<std::string> markers;  ///< dotted OIDs
    bool criticalMarkers = true;
    bool codeSigning = true;    ///< extended key usage codeSigning (leaves only)
    bool timeStamping = false;  ///< critical extended key usage timeStamping instead
    bool rsa = false;           ///< RSA 2048 instead of P-256, for xar's RSA signatures
    std::int64_t notBefore = 0;  ///< seconds since 1970
    std::int64_t notAfter = 0;
};

/// A self-signed root ("Varko Test Root CA" unless named), valid over the given period.
[[nodiscard]] TestIdentity makeTestRoot(const std::string& commonName, std::int64_t notBefore,
                                        std::int64_t notAfter);
[[nodiscard]] TestIdentity issueCertificate(const CertificateRequest& request, const TestIdentity& issuer);

/// SHA-256 of a DER certificate, for handing the root to the verifier.
[[nodiscard]] std::array<unsigned char, 32> fingerprint(const TestIdentity& identity);

/// A detached CMS SignedData over `content` (a code directory), as codesign writes it: SHA-256,
/// signing time, Apple's cdhash attributes (plist 100.9.1, typed 100.9.2), every certificate
/// of `chain` included, and optionally an RFC 3161 token from `timestampAuthority`.
struct CmsRequest {
    const TestIdentity* signer = nullptr;
    std::vector<const TestIdentity*> chain;  ///< certificates to carry, signer included or not
    std::int64_t signingTime = 0;
    const TestIdentity* timestampAuthority = nullptr;
    std::int64_t timestampTime = 0;
    bool appleAttributes = true;
    /// BER as Apple's codesign writes it: indefinite lengths on the outer structures and the
    /// signer's, and the signature value as a constructed string. DER as rcodesign writes it.
    bool ber = false;
};

/// A PKCS #1 v1.5 (or ECDSA) signature of a digest that is already computed, as xar signs
/// its table-of-contents checksum; `digestName` is "sha1" or "sha256".
[[nodiscard]] std::vector<std::byte> signDigest(const TestIdentity& signer, std::span<const std::byte> digest,
                                                const char* digestName);

[[nodiscard]] std::vector<std::byte> signCms(std::span<const std::byte> content, const CmsRequest& request);

}  // namespace varko::examplegen
