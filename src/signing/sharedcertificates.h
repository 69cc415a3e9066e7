#pragma once

// Certificates decoded once per process and shared by every thread. A fleet's signatures carry
// the same few chains (Apple's, Developer ID's, a timestamp authority's) over and over, and
// OpenSSL 3.0 sets up a public-key decoder for each certificate it reads, which costs more than
// checking a signature with that key.

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "signing/cms.h"
#include "signing/opensslptr.h"

namespace varko::signing {

/// One certificate: OpenSSL's form, read-only once shared, and ours.
struct DecodedCertificate {
    X509Ptr x509;
    Expected<Certificate> described{Error{}};
};

using SharedCertificate = std::shared_ptr<const DecodedCertificate>;

/// The certificate whose encoding is exactly `der`, decoded at most once while it stays among
/// the recent ones: an entry is found only by every byte of its encoding, so two certificates
/// that differ anywhere (a subject alike, a key or signature not) never share one. Null when
/// `der` is not one whole X.509 certificate.
[[nodiscard]] SharedCertificate sharedCertificate(std::span<const unsigned char> der);

/// OpenSSL's form of a CMS ContentInfo. When it has the usual shape (SignedData whose
/// certificates are all X.509), OpenSSL reads it without them and `certificates` holds them,
/// in their order, decoded through sharedCertificate; otherwise it reads the whole as it is
/// and `certificates` stays empty.
struct ReadCms {
    CmsPtr cms;
    std::vector<SharedCertificate> certificates;
    bool apart = false;  ///< whether the certificates were read apart
    bool whole = false;  ///< whether OpenSSL's reading used every byte
};

[[nodiscard]] ReadCms readCms(std::span<const unsigned char> bytes);

/// The certificates of `read`, its own or OpenSSL's, each with one reference for the stack;
/// null when it has none.
[[nodiscard]] X509StackPtr certificatesOf(const ReadCms& read);

}  // namespace varko::signing
