#include "signing/trust.h"

#include <openssl/err.h>

#include <algorithm>

#include "signing/opensslptr.h"
#include "signing/sharedcertificates.h"

namespace varko::signing {

namespace {

constexpr Sha256 fromHex(const char (&hex)[65]) {
    Sha256 out{};
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return out;
}

X509Ptr toX509(const Certificate& c) {
    const SharedCertificate shared = sharedCertificate(c.der);
    if (!shared || X509_up_ref(shared->x509.get()) != 1) return nullptr;
    return X509Ptr(shared->x509.get());
}

/// OpenSSL stops at critical extensions it does not know. Apple's marker extensions are
/// critical on real leaves (100.6.1.13 on Developer ID Application); the rules below read
/// them, so only those are let through.
int acceptAppleMarkers(int ok, X509_STORE_CTX* ctx) {
    if (ok || X509_STORE_CTX_get_error(ctx) != X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION) return ok;
    X509* cert = X509_STORE_CTX_get_current_cert(ctx);
    for (int i = 0; cert && i < X509_get_ext_count(cert); ++i) {
        X509_EXTENSION* ext = X509_get_ext(cert, i);
        if (!X509_EXTENSION_get_critical(ext) || X509_supported_extension(ext)) continue;
        char oid[80];
        if (OBJ_obj2txt(oid, sizeof oid, X509_EXTENSION_get_object(ext), 1) <= 0 ||
            std::string_view(oid).rfind("1.2.840.113635.100.6.", 0) != 0)
            return 0;
    }
    X509_STORE_CTX_set_error(ctx, X509_V_OK);
    return 1;
}

const char* reasonFor(int error) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return certExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return certNotYetValid;
        default:
            return notTrusted;
    }
}

Error chainError(const char* why) {
    return Error{0, why, ErrorCode::untrusted};
}

Error timestampError(const std::string& why, ErrorCode code) {
    return Error{0, why, code};
}

}  // namespace

const TrustAnchors& TrustAnchors::apple() {
    static const TrustAnchors pins{{
        fromHex(
            "B0B1730ECBC7FF4505142C49F1295E6EDA6BCAED7E2C68C5BE91B5A11001F024"),  // Apple Root CA
        fromHex("C2B9B042DD57830E7D117DAC55AC8AE19407D38E41D88F3215BC3A890444A050"),  // - G2
        fromHex("63343ABFB89A6A03EBB57E9B3F5FA7BE7C4F5C756F3017B3A8C488C3653E9179"),  // - G3
    }};
    return pins;
}

bool TrustAnchors::contains(const Sha256& fingerprint) const {
    return std::find(roots.begin(), roots.end(), fingerprint) != roots.end();
}

Expected<std::vector<Certificate>> verifyChain(const Certificate& leaf,
                                               std::span<const Certificate> others,
                                               const TrustAnchors& anchors, std::int64_t at) {
    // Told from the fingerprints before any certificate is decoded, which is the dear part.
    const bool anyAnchor = std::any_of(others.begin(), others.end(), [&](const Certificate& c) {
        return anchors.contains(c.fingerprint);
    });
    if (!anyAnchor || anchors.contains(leaf.fingerprint)) return chainError(notTrusted);
    StorePtr store(X509_STORE_new());
    X509StackPtr untrusted(sk_X509_new_null());
    if (!store || !untrusted) return chainError(notTrusted);
    for (const Certificate& c : others) {
        X509Ptr x = toX509(c);
        if (!x) return chainError(notTrusted);
        if (anchors.contains(c.fingerprint)) X509_STORE_add_cert(store.get(), x.get());
        if (sk_X509_push(untrusted.get(), x.get()) > 0) x.release();
    }
    X509Ptr leafX = toX509(leaf);
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!leafX || !ctx ||
        X509_STORE_CTX_init(ctx.get(), store.get(), leafX.get(), untrusted.get()) != 1)
        return chainError(notTrusted);
    X509_STORE_CTX_set_verify_cb(ctx.get(), acceptAppleMarkers);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(at));
    X509_VERIFY_PARAM_set_depth(param, static_cast<int>(maxCertificates));
    const int ok = X509_verify_cert(ctx.get());
    const int error = X509_STORE_CTX_get_error(ctx.get());
    ERR_clear_error();
    if (ok != 1) return chainError(reasonFor(error));
    std::vector<Certificate> chain;
    STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
    for (int i = 0; built && i < sk_X509_num(built); ++i) {
        unsigned char* der = nullptr;
        const int n = i2d_X509(sk_X509_value(built, i), &der);
        if (n <= 0) return chainError(notTrusted);
        auto c =
            describeCertificate(std::span<const unsigned char>(der, static_cast<std::size_t>(n)));
        OPENSSL_free(der);
        if (!c) return c.error();
        chain.push_back(std::move(*c));
    }
    if (chain.empty() || !anchors.contains(chain.back().fingerprint)) return chainError(notTrusted);
    return chain;
}

Expected<void> verifyTimestamp(const CmsSignature& cms, const TrustAnchors& anchors) {
    using enum ErrorCode;
    if (cms.timestampToken.empty() || !cms.timestamp)
        return timestampError("the signature has no timestamp", missing);
    const ReadCms read = readCms(cms.timestampToken);
    const CmsPtr& token = read.cms;
    if (!token) return timestampError("the timestamp is unreadable", malformed);
    // Read apart, the token's certificates are handed to the check beside it.
    X509StackPtr certs = certificatesOf(read);
    BioPtr out(BIO_new(BIO_s_mem()));
    const bool signedOk =
        CMS_verify(token.get(), read.apart ? certs.get() : nullptr, nullptr, nullptr, out.get(),
                   CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) == 1;
    ERR_clear_error();
    if (!signedOk)
        return timestampError("the timestamp's signature does not verify", invalidSignature);
    char* content = nullptr;
    const long length = BIO_get_mem_data(out.get(), &content);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(content);
    TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &q, length));
    if (!info) return timestampError("the timestamp is unreadable", malformed);
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const ASN1_OBJECT* alg = nullptr;
    X509_ALGOR_get0(&alg, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const EVP_MD* md = alg ? EVP_get_digestbyobj(alg) : nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!md || EVP_Digest(cms.signatureValue.data(), cms.signatureValue.size(), digest, &n, md,
                          nullptr) != 1)
        return timestampError("the timestamp's digest algorithm is unknown", unsupported);
    const ASN1_STRING* stamped = TS_MSG_IMPRINT_get_msg(imprint);
    if (ASN1_STRING_length(stamped) != static_cast<int>(n) ||
        !std::equal(digest, digest + n, ASN1_STRING_get0_data(stamped)))
        return timestampError("the timestamp is not for this signature", invalidSignature);

    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(token.get());
    if (!signers || sk_CMS_SignerInfo_num(signers) != 1 || !certs)
        return timestampError("the timestamp has no signer", missing);
    std::vector<Certificate> all;
    std::optional<std::size_t> signer;
    for (int i = 0; i < sk_X509_num(certs.get()) && static_cast<std::size_t>(i) < maxCertificates;
         ++i) {
        X509* x = sk_X509_value(certs.get(), i);
        unsigned char* der = nullptr;
        const int len = i2d_X509(x, &der);
        if (len <= 0)
            return timestampError("the timestamp's certificates are unreadable", malformed);
        auto c =
            describeCertificate(std::span<const unsigned char>(der, static_cast<std::size_t>(len)));
        OPENSSL_free(der);
        if (!c) return timestampError("the timestamp's certificates are unreadable", malformed);
        if (!signer && CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(signers, 0), x) == 0)
            signer = all.size();
        all.push_back(std::move(*c));
    }
    if (!signer) return timestampError("the timestamp's signer certificate is missing", missing);
    // The timestamp authority's certificates may sit in the token or in the signature itself.
    std::vector<Certificate> pool = all;
    pool.insert(pool.end(), cms.certificates.begin(), cms.certificates.end());
    auto chain = verifyChain(all[*signer], pool, anchors, *cms.timestamp);
    // A time no root vouches for is a false claim in the signature, not a doubt about its
    // signer: the signature is invalid, whatever the signer's own chain.
    if (!chain)
        return timestampError(
            "the timestamp's certificate is not trusted (" + chain.error().message + ")",
            invalidSignature);
    return {};
}

Authority classify(std::span<const Certificate> chain) {
    if (chain.size() < 2) return Authority::Unknown;
    const Certificate& leaf = chain[0];
    const Certificate& issuer = chain[1];
    if ((leaf.hasMarker("1.2.840.113635.100.6.1.13") ||
         leaf.hasMarker("1.2.840.113635.100.6.1.14")) &&
        issuer.hasMarker("1.2.840.113635.100.6.2.6"))
        return Authority::DeveloperId;
    if (leaf.hasMarker("1.2.840.113635.100.6.1.9") || leaf.hasMarker("1.2.840.113635.100.6.1.10"))
        return Authority::MacAppStore;
    if (chain.size() == 3 && issuer.commonName == "Apple Code Signing Certification Authority" &&
        leaf.hasMarker("1.2.840.113635.100.6.22"))
        return Authority::AppleSystem;
    return Authority::Unknown;
}

Expected<SignatureVerdict> verifyCmsSignature(const CmsSignature& cms,
                                              std::span<const std::byte> signedContent,
                                              const TrustAnchors& anchors, std::int64_t now) {
    if (auto signer = verifySigner(cms, signedContent); !signer) return signer.error();
    SignatureVerdict v;
    v.checkedAt = now;
    if (cms.timestamp) {
        if (auto stamp = verifyTimestamp(cms, anchors); !stamp) return stamp.error();
        // A trusted timestamp vouches that the certificates were valid when it was made.
        v.checkedAt = *cms.timestamp;
    }
    auto chain = verifyChain(cms.certificates.front(), std::span(cms.certificates).subspan(1),
                             anchors, v.checkedAt);
    if (!chain) return chain.error();
    v.chain = std::move(*chain);
    v.authority = classify(v.chain);
    return v;
}

}  // namespace varko::signing
