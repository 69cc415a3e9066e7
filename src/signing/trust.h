#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"
#include "signing/cms.h"

namespace varko::signing {

/// The roots a chain may end in, named by the SHA-256 of their DER. The certificates
/// themselves come from the signature; only a pinned one is trusted as an anchor.
struct TrustAnchors {
    std::vector<Sha256> roots;

    /// Apple Root CA, Apple Root CA - G2 and Apple Root CA - G3, the fingerprints Apple
    /// publishes at apple.com/certificateauthority. The tools use these and nothing else.
    [[nodiscard]] static const TrustAnchors& apple();
    [[nodiscard]] bool contains(const Sha256& fingerprint) const;
};

/// Why a chain is not trusted, in the platform's words (its Security framework codes).
/// verifyChain fails with ErrorCode::untrusted and one of these, and with nothing else.
inline constexpr const char* notTrusted = "CSSMERR_TP_NOT_TRUSTED";
inline constexpr const char* certExpired = "CSSMERR_TP_CERT_EXPIRED";
inline constexpr const char* certNotYetValid = "CSSMERR_TP_CERT_NOT_VALID_YET";

/// Builds the chain from `leaf` through `others` to a pinned root among `others` and checks
/// every signature and validity period at `at` (seconds since 1970). Critical extensions in
/// Apple's arc are the markers the platform itself reads, so they are taken as understood.
/// Returns the verified chain, leaf first, or the reason it is not trusted.
[[nodiscard]] Expected<std::vector<Certificate>> verifyChain(const Certificate& leaf,
                                                             std::span<const Certificate> others,
                                                             const TrustAnchors& anchors,
                                                             std::int64_t at);

/// Checks a CMS signature's timestamp token: its own signature, that it stamps this
/// signature's value, and its signer's chain to `anchors` at the stamped time. A stamp
/// that does not hold, its chain included, makes the signature invalidSignature.
[[nodiscard]] Expected<void> verifyTimestamp(const CmsSignature& cms, const TrustAnchors& anchors);

/// What Gatekeeper's rules call a trusted chain, read from Apple's marker extensions.
enum class Authority {
    Unknown,      ///< chains to a pinned root but matches no rule
    AppleSystem,  ///< Software Signing: 3 certificates, Apple Code Signing CA, leaf 100.6.22
    MacAppStore,  ///< leaf 100.6.1.9 (application) or 100.6.1.10 (installer)
    DeveloperId,  ///< leaf 100.6.1.13 (application) or 100.6.1.14 (installer), CA 100.6.2.6
};

[[nodiscard]] Authority classify(std::span<const Certificate> chain);

/// A code signature that holds: its chain and the authority that chain names.
struct SignatureVerdict {
    std::vector<Certificate> chain;  ///< verified, leaf first
    Authority authority = Authority::Unknown;
    std::int64_t checkedAt = 0;  ///< the timestamp's time, or else `now`
};

/// Checks a whole code signature: the signer over `signedContent`, the timestamp if any, the
/// chain at the timestamp's time or else at `now`; and names the authority. Only a chain
/// that ends in no anchor fails with ErrorCode::untrusted.
[[nodiscard]] Expected<SignatureVerdict> verifyCmsSignature(
    const CmsSignature& cms, std::span<const std::byte> signedContent, const TrustAnchors& anchors,
    std::int64_t now);

}  // namespace varko::signing
