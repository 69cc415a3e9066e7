#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/expected.h"

namespace varko::signing {

using Bytes = std::vector<unsigned char>;
using Sha256 = std::array<unsigned char, 32>;

/// Apple's signed attributes that name the code directories a signature covers.
inline constexpr const char* OID_APPLE_CDHASHES_PLIST = "1.2.840.113635.100.9.1";
inline constexpr const char* OID_APPLE_CDHASHES = "1.2.840.113635.100.9.2";
/// RFC 3161 token in an unsigned attribute (id-aa-timeStampToken).
inline constexpr const char* OID_TIMESTAMP_TOKEN = "1.2.840.113549.1.9.16.2.14";

/// One certificate carried by a signature, reduced to what the checks and displays use.
struct Certificate {
    Bytes der;
    std::string commonName;          ///< the subject's CN, empty when it has none
    std::string organization;        ///< O, likewise; implicit requirements name the signer by it
    std::string organizationalUnit;  ///< OU: a Developer ID's team
    std::int64_t notBefore = 0;      ///< seconds since 1970, UTC
    std::int64_t notAfter = 0;
    Sha256 fingerprint{};  ///< SHA-256 of the DER
    /// Dotted OIDs of the certificate's extensions in Apple's arc (1.2.840.113635.100.6…),
    /// the markers by which Gatekeeper tells Developer ID from App Store from Apple.
    std::vector<std::string> appleMarkers;
    /// Dotted OIDs of every extension and of every policy its certificatePolicies names, and
    /// each subject attribute's first value by its dotted type: what code requirements ask.
    std::vector<std::string> extensionOids;
    std::vector<std::string> policyOids;
    std::vector<std::pair<std::string, std::string>> subjectAttributes;

    [[nodiscard]] bool hasMarker(std::string_view oid) const;
};

/// A code directory hash from Apple's 1.2.840.113635.100.9.2 attribute.
struct TypedCdHash {
    std::uint8_t hashType = 0;  ///< CS_HASHTYPE_; 0 for an algorithm we don't know
    Bytes digest;
};

/// OpenSSL's own form of a parsed signature, kept so that checking its signer decodes nothing
/// again: decoding a signature's certificates is most of what checking it costs.
struct DecodedCms;

/// A detached CMS SignedData with one signer, as codesign and productsign write it.
/// Nothing here is trusted yet: verifySigner and the chain checks decide that.
struct CmsSignature {
    Bytes encoded;  ///< the BER or DER element, without the zeros that pad it
    /// The signer's certificate first, then each issuer found among the certificates,
    /// then any certificate the chain does not use, in the order they were stored.
    std::vector<Certificate> certificates;
    std::size_t chainLength = 0;  ///< how many of `certificates` form the chain from the signer
    std::string digestName;       ///< of the signer's digest algorithm ("sha256")
    Bytes messageDigest;          ///< the signed messageDigest attribute
    std::optional<std::int64_t> signingTime;
    std::optional<std::int64_t> timestamp;   ///< the token's genTime; checked by verifyTimestamp
    Bytes timestampToken;                    ///< its ContentInfo, empty without one
    std::vector<Bytes> plistCdHashes;        ///< from 1.2.840.113635.100.9.1
    std::vector<TypedCdHash> typedCdHashes;  ///< from 1.2.840.113635.100.9.2
    Bytes signatureValue;
    /// OpenSSL's form of `encoded`, shared by copies; empty for a signature put together by
    /// hand, which verifySigner then decodes.
    std::shared_ptr<DecodedCms> decoded;

    [[nodiscard]] std::span<const Certificate> chain() const {
        return std::span(certificates).first(chainLength);
    }
};

/// Most certificates a signature may carry; real ones have three or four.
inline constexpr std::size_t maxCertificates = 16;
inline constexpr std::size_t maxCmsBytes = 1u << 20;

/// Parses a CMS signature in BER (Apple's codesign writes indefinite lengths; rcodesign and
/// OpenSSL write DER), detached, SignedData with exactly one signer whose certificate it
/// carries. What is not well-formed BER is refused, not repaired.
[[nodiscard]] Expected<CmsSignature> parseCms(std::span<const std::byte> encoded);
/// The same, shared with the other recent parses of the same bytes: one item's passes read
/// each piece's signature several times, and a copy of one costs about what a parse does.
[[nodiscard]] std::shared_ptr<const Expected<CmsSignature>> parseCmsShared(
    std::span<const std::byte> encoded);

/// Checks that the signed message digest is the digest of `content`, and the signature over
/// the signed attributes with the signer's key; a mismatch is invalidSignature.
[[nodiscard]] Expected<void> verifySigner(const CmsSignature& cms,
                                          std::span<const std::byte> content);

/// Why OpenSSL can't be called, if it can't: on Linux it is loaded at its first call. Each
/// check asks first, so that a missing library is reported as such, never as a signature
/// that does not match.
[[nodiscard]] std::optional<Error> cryptoMissing();

/// The parsed form of a DER certificate, for certificates that come from elsewhere (xar).
[[nodiscard]] Expected<Certificate> describeCertificate(std::span<const unsigned char> der);

}  // namespace varko::signing
