#include "package/packagesignature.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>

#include "format/xar/xar.h"
#include "package/payload.h"
#include "signing/cms.h"

namespace varko::spctl {

namespace {

using Kind = PackageVerdict::Kind;

// A checksum is a digest; an RSA signature a few hundred bytes.
constexpr std::uint64_t maxChecksumBytes = 64;
constexpr std::uint64_t maxSignatureBytes = 16384;

PackageVerdict invalid(std::string why, ErrorCode code = ErrorCode::invalidSignature) {
    PackageVerdict v;
    v.kind = Kind::Invalid;
    v.check = Error{0, std::move(why), code};
    return v;
}

PackageVerdict invalid(const Error& error) {
    return invalid(error.message, error.code);
}

const EVP_MD* checksumDigest(const std::string& style) {
    if (style == "sha1") return EVP_sha1();
    if (style == "sha256") return EVP_sha256();
    if (style == "sha512") return EVP_sha512();
    return nullptr;
}

std::optional<std::vector<std::byte>> heapBytes(const macho::FileSource& file,
                                                const xar::Archive& a, const xar::HeapRange& r,
                                                std::uint64_t limit) {
    const std::uint64_t start = a.heapOffset();
    if (r.size == 0 || r.size > limit || start > file.size() || r.offset > file.size() - start ||
        r.size > file.size() - start - r.offset)
        return std::nullopt;
    auto bytes = file.read(start + r.offset, r.size);
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

/// RSA over the checksum: the checksum is the digest that was signed, PKCS #1 v1.5.
bool rsaVerifies(const std::vector<unsigned char>& leafDer, const std::vector<std::byte>& checksum,
                 const std::vector<std::byte>& signature, const EVP_MD* md) {
    const unsigned char* p = leafDer.data();
    X509* leaf = d2i_X509(nullptr, &p, static_cast<long>(leafDer.size()));
    EVP_PKEY* key = leaf ? X509_get0_pubkey(leaf) : nullptr;
    EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    const bool ok =
        ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 &&
        EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char*>(signature.data()),
                        signature.size(), reinterpret_cast<const unsigned char*>(checksum.data()),
                        checksum.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    X509_free(leaf);
    ERR_clear_error();
    return ok;
}

}  // namespace

Expected<PackageVerdict> verifyPackage(const std::filesystem::path& path,
                                       const signing::TrustAnchors& anchors, std::int64_t now) {
    // Signatures came with flat packages; a bundle-style one never carries any.
    if (package::isBundlePackage(path)) return PackageVerdict{};
    auto file = macho::FileSource::open(path.string());
    if (!file) {
        // The tools name the package themselves.
        Error why = file.error();
        if (why.message.starts_with(path.string() + ": "))
            why.message.erase(0, path.string().size() + 2);
        return why;
    }
    auto archive = xar::Archive::open(*file);
    if (!archive) return archive.error();
    const xar::Archive& a = *archive;
    if (!a.signature && !a.cmsSignature) return PackageVerdict{};
    if (auto missing = signing::cryptoMissing()) return *missing;

    const EVP_MD* md = a.checksumStyle ? checksumDigest(*a.checksumStyle) : nullptr;
    if (!md)
        return invalid("the table of contents has no checksum we can check",
                       ErrorCode::unsupported);
    const auto stored = heapBytes(*file, a, a.checksum, maxChecksumBytes);
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(a.compressedToc.data(), a.compressedToc.size(), computed, &n, md, nullptr);
    if (!stored || stored->size() != n ||
        !std::equal(stored->begin(), stored->end(), reinterpret_cast<const std::byte*>(computed)))
        return invalid("checksum did not verify");

    if (a.cmsSignature) {
        const auto blob = heapBytes(*file, a, a.cmsSignature->range, signing::maxCmsBytes);
        if (!blob)
            return invalid("the CMS signature lies outside the archive", ErrorCode::truncated);
        auto cms = signing::parseCms(*blob);
        if (!cms) return invalid(cms.error());
        auto v = signing::verifyCmsSignature(*cms, *stored, anchors, now);
        PackageVerdict out;
        if (!v) {
            out.kind = v.error().code == ErrorCode::untrusted ? Kind::Untrusted : Kind::Invalid;
            out.check = v.error();
            out.chain.assign(cms->chain().begin(), cms->chain().end());
            return out;
        }
        out.kind = Kind::Trusted;
        out.timestamp = cms->timestamp;
        out.authority = v->authority;
        out.chain = std::move(v->chain);
        return out;
    }

    const auto& rsa = *a.signature;
    if (rsa.style != "RSA")
        return invalid("signature style " + rsa.style + " is unknown", ErrorCode::unsupported);
    if (rsa.certificates.empty())
        return invalid("the signature carries no certificate", ErrorCode::missing);
    const auto signature = heapBytes(*file, a, rsa.range, maxSignatureBytes);
    if (!signature) return invalid("the signature lies outside the archive", ErrorCode::truncated);
    if (!rsaVerifies(rsa.certificates.front(), *stored, *signature, md))
        return invalid("the signature does not verify");
    std::vector<signing::Certificate> certs;
    for (const auto& der : rsa.certificates) {
        auto c = signing::describeCertificate(der);
        if (!c) return invalid(c.error());
        certs.push_back(std::move(*c));
    }
    auto chain = signing::verifyChain(certs.front(), std::span(certs).subspan(1), anchors, now);
    PackageVerdict out;
    if (!chain) {
        out.kind = Kind::Untrusted;
        out.check = chain.error();
        out.chain = std::move(certs);
        return out;
    }
    out.kind = Kind::Trusted;
    out.chain = std::move(*chain);
    out.authority = signing::classify(out.chain);
    return out;
}

}  // namespace varko::spctl
