#include "signing/cms.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <ctime>
#include <mutex>

#include "format/codesig/csblobs.h"
#ifdef VARKO_LIBCRYPTO
#include "format/loadedlibrary.h"
#endif
#include "format/plist/plist.h"
#include "format/recentresults.h"
#include "signing/opensslptr.h"
#include "signing/sharedcertificates.h"

namespace varko::signing {

struct DecodedCms {
    /// Checking sets the signer's certificate in its signer info: one check at a time.
    std::mutex mutex;
    CmsPtr cms;
    X509Ptr signer;
};

namespace {

constexpr const char* appleArc = "1.2.840.113635.100.";
constexpr int maxBerDepth = 64;

Error cmsError(const std::string& what, ErrorCode code = ErrorCode::malformed) {
    return Error{0, "invalid CMS signature (" + what + ")", code};
}

/// The length of the BER element at the start of `bytes` (or nullopt when it is not one), as
/// Apple's codesign writes CMS: indefinite lengths on constructed elements, which end at an
/// end-of-contents marker, and constructed strings. Everything BER does not allow is refused:
/// an indefinite primitive, a length past the end, more than four length bytes.
std::optional<std::size_t> berElement(std::span<const unsigned char> bytes, int depth) {
    if (depth > maxBerDepth || bytes.size() < 2) return std::nullopt;
    std::size_t at = 0;
    const unsigned char tag = bytes[at++];
    const bool constructed = tag & 0x20;
    if ((tag & 0x1f) == 0x1f) {  // high tag numbers: base-128 digits
        for (int n = 0;; ++n) {
            if (at >= bytes.size() || n > 4) return std::nullopt;
            if (!(bytes[at++] & 0x80)) break;
        }
    }
    if (at >= bytes.size()) return std::nullopt;
    const unsigned char first = bytes[at++];
    if (first == 0x80) {
        if (!constructed) return std::nullopt;
        // Children until the end-of-contents marker, which is two zero bytes.
        for (;;) {
            if (bytes.size() - at >= 2 && bytes[at] == 0 && bytes[at + 1] == 0) return at + 2;
            const auto n = berElement(bytes.subspan(at), depth + 1);
            if (!n) return std::nullopt;
            at += *n;
        }
    }
    std::size_t length = first;
    if (first & 0x80) {
        const unsigned n = first & 0x7f;
        if (n > 4 || n > bytes.size() - at) return std::nullopt;
        length = 0;
        for (unsigned i = 0; i < n; ++i) length = (length << 8) | bytes[at++];
    }
    if (length > bytes.size() - at) return std::nullopt;
    if (constructed) {
        const auto inner = bytes.subspan(at, length);
        for (std::size_t used = 0; used < length;) {
            const auto n = berElement(inner.subspan(used), depth + 1);
            if (!n) return std::nullopt;
            used += *n;
        }
    }
    return at + length;
}

std::optional<std::int64_t> seconds(const ASN1_TIME* t) {
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return std::nullopt;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::string oidText(const ASN1_OBJECT* obj) {
    char buf[128];
    const int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
    return n > 0 && n < static_cast<int>(sizeof buf) ? std::string(buf, static_cast<std::size_t>(n))
                                                     : std::string();
}

/// The first value of one attribute of the subject's name.
std::string subjectEntry(X509* x, int nid) {
    X509_NAME* name = X509_get_subject_name(x);
    const int i = name ? X509_NAME_get_index_by_NID(name, nid, -1) : -1;
    if (i < 0) return {};
    unsigned char* utf8 = nullptr;
    const int n =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
    if (n < 0) return {};
    std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
    OPENSSL_free(utf8);
    return out;
}

Expected<Certificate> describe(X509* x) {
    Certificate c;
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    if (n <= 0) return cmsError("a certificate cannot be encoded");
    c.der.assign(der, der + n);
    OPENSSL_free(der);
    c.commonName = subjectEntry(x, NID_commonName);
    c.organization = subjectEntry(x, NID_organizationName);
    c.organizationalUnit = subjectEntry(x, NID_organizationalUnitName);
    const auto from = seconds(X509_get0_notBefore(x));
    const auto to = seconds(X509_get0_notAfter(x));
    if (!from || !to) return cmsError("a certificate's validity period is unreadable");
    c.notBefore = *from;
    c.notAfter = *to;
    unsigned int len = 0;
    if (X509_digest(x, EVP_sha256(), c.fingerprint.data(), &len) != 1 ||
        len != c.fingerprint.size())
        return cmsError("a certificate cannot be hashed");
    for (int i = 0; i < X509_get_ext_count(x); ++i) {
        std::string oid = oidText(X509_EXTENSION_get_object(X509_get_ext(x, i)));
        c.extensionOids.push_back(oid);
        if (oid.rfind(appleArc, 0) == 0) c.appleMarkers.push_back(std::move(oid));
    }
    if (auto* policies = static_cast<CERTIFICATEPOLICIES*>(
            X509_get_ext_d2i(x, NID_certificate_policies, nullptr, nullptr))) {
        for (int i = 0; i < sk_POLICYINFO_num(policies); ++i)
            c.policyOids.push_back(oidText(sk_POLICYINFO_value(policies, i)->policyid));
        CERTIFICATEPOLICIES_free(policies);
    }
    X509_NAME* name = X509_get_subject_name(x);
    for (int i = 0; name && i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        std::string type = oidText(X509_NAME_ENTRY_get_object(entry));
        const bool seen =
            std::any_of(c.subjectAttributes.begin(), c.subjectAttributes.end(),
                        [&](const auto& attribute) { return attribute.first == type; });
        unsigned char* utf8 = nullptr;
        const int n =
            seen || type.empty() ? -1 : ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        if (n < 0) continue;
        c.subjectAttributes.emplace_back(std::move(type), std::string(reinterpret_cast<char*>(utf8),
                                                                      static_cast<std::size_t>(n)));
        OPENSSL_free(utf8);
    }
    return c;
}

const ASN1_TYPE* attributeValue(X509_ATTRIBUTE* attr, int index = 0) {
    return attr && index < X509_ATTRIBUTE_count(attr) ? X509_ATTRIBUTE_get0_type(attr, index)
                                                      : nullptr;
}

X509_ATTRIBUTE* signedAttribute(CMS_SignerInfo* si, const char* oid) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    const int at = obj ? CMS_signed_get_attr_by_OBJ(si, obj, -1) : -1;
    ASN1_OBJECT_free(obj);
    return at < 0 ? nullptr : CMS_signed_get_attr(si, at);
}

X509_ATTRIBUTE* unsignedAttribute(CMS_SignerInfo* si, const char* oid) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    const int at = obj ? CMS_unsigned_get_attr_by_OBJ(si, obj, -1) : -1;
    ASN1_OBJECT_free(obj);
    return at < 0 ? nullptr : CMS_unsigned_get_attr(si, at);
}

Bytes octets(const ASN1_STRING* s) {
    return s ? Bytes(ASN1_STRING_get0_data(s), ASN1_STRING_get0_data(s) + ASN1_STRING_length(s))
             : Bytes();
}

std::uint8_t hashTypeOf(const ASN1_OBJECT* obj) {
    switch (OBJ_obj2nid(obj)) {
        case NID_sha1:
            return codesig::CS_HASHTYPE_SHA1;
        case NID_sha256:
            return codesig::CS_HASHTYPE_SHA256;
        case NID_sha384:
            return codesig::CS_HASHTYPE_SHA384;
        default:
            return 0;
    }
}

/// Each value of 1.2.840.113635.100.9.2 is SEQUENCE { OID hash algorithm, OCTET STRING }.
std::optional<TypedCdHash> typedCdHash(const ASN1_TYPE* value) {
    if (!value || value->type != V_ASN1_SEQUENCE) return std::nullopt;
    const unsigned char* p = ASN1_STRING_get0_data(value->value.sequence);
    const long total = ASN1_STRING_length(value->value.sequence);
    const unsigned char* const end = p + total;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, total) & 0x80 || tag != V_ASN1_SEQUENCE)
        return std::nullopt;
    ASN1_OBJECT* obj = d2i_ASN1_OBJECT(nullptr, &p, end - p);
    if (!obj) return std::nullopt;
    TypedCdHash out;
    out.hashType = hashTypeOf(obj);
    ASN1_OBJECT_free(obj);
    ASN1_OCTET_STRING* digest = d2i_ASN1_OCTET_STRING(nullptr, &p, end - p);
    if (!digest) return std::nullopt;
    out.digest = octets(digest);
    ASN1_OCTET_STRING_free(digest);
    return out;
}

/// The cdhashes array of the 1.2.840.113635.100.9.1 property list.
std::optional<std::vector<Bytes>> plistCdHashes(const ASN1_TYPE* value) {
    if (!value || value->type != V_ASN1_OCTET_STRING) return std::nullopt;
    const Bytes text = octets(value->value.octet_string);
    auto parsed =
        plist::parse(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    if (!parsed) return std::nullopt;
    const auto* dict = parsed->dictionary();
    const auto* list = dict ? dict->find("cdhashes") : nullptr;
    const auto* array = list ? list->array() : nullptr;
    if (!array) return std::nullopt;
    std::vector<Bytes> out;
    for (const auto& item : *array) {
        const auto* data = item.data();
        if (!data) return std::nullopt;
        out.emplace_back(reinterpret_cast<const unsigned char*>(data->data()),
                         reinterpret_cast<const unsigned char*>(data->data()) + data->size());
    }
    return out;
}

/// genTime of the token's TSTInfo; the token's own signature is checked elsewhere.
std::optional<std::int64_t> timestampTime(const Bytes& token) {
    const ReadCms read = readCms(token);
    CmsPtr::pointer ts = read.cms.get();
    if (!ts || OBJ_obj2nid(CMS_get0_eContentType(ts)) != NID_id_smime_ct_TSTInfo)
        return std::nullopt;
    ASN1_OCTET_STRING** content = CMS_get0_content(ts);
    if (!content || !*content) return std::nullopt;
    const unsigned char* q = ASN1_STRING_get0_data(*content);
    TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &q, ASN1_STRING_length(*content)));
    return info ? seconds(TS_TST_INFO_get_time(info.get())) : std::nullopt;
}

/// Orders the certificates from the signer up by issuer, never reusing one, so that a
/// loop of certificates naming each other ends. `described[i]` is `certs[i]` in our form.
void orderChain(CmsSignature& out, const std::vector<X509*>& certs,
                const std::vector<const Certificate*>& described, X509* signer) {
    std::vector<Certificate> ordered;
    std::vector<bool> used(certs.size(), false);
    X509* current = signer;
    while (current) {
        const auto at = static_cast<std::size_t>(std::find(certs.begin(), certs.end(), current) -
                                                 certs.begin());
        used[at] = true;
        ordered.push_back(*described[at]);
        if (X509_check_issued(current, current) == X509_V_OK) break;
        X509* next = nullptr;
        for (std::size_t i = 0; i < certs.size() && !next; ++i)
            if (!used[i] && X509_check_issued(certs[i], current) == X509_V_OK) next = certs[i];
        current = next;
    }
    out.chainLength = ordered.size();
    for (std::size_t i = 0; i < certs.size(); ++i)
        if (!used[i]) ordered.push_back(*described[i]);
    out.certificates = std::move(ordered);
}

Expected<CmsSignature> parse(std::span<const std::byte> bytes) {
    if (bytes.empty()) return cmsError("the signature blob is empty", ErrorCode::missing);
    if (bytes.size() > maxCmsBytes) return cmsError("more than 1 MB", ErrorCode::tooLarge);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto element = static_cast<unsigned char>(bytes[0]) == 0x30
                             ? berElement(std::span(data, bytes.size()), 0)
                             : std::nullopt;
    if (!element) return cmsError("not BER-encoded");
    const std::size_t used = *element;
    // codesign pads the blob with zeros after the element.
    if (!std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(used), bytes.end(),
                     [](std::byte b) { return b == std::byte{0}; }))
        return cmsError("bytes follow the signature");

    CmsSignature out;
    out.encoded.assign(data, data + used);
    ReadCms read = readCms(out.encoded);
    CmsPtr& cms = read.cms;
    if (!cms || !read.whole) return cmsError("not a CMS ContentInfo");
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
        return cmsError("not SignedData", ErrorCode::unsupported);
    if (CMS_is_detached(cms.get()) != 1)
        return cmsError("the signed content is embedded, not detached", ErrorCode::unsupported);
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    if (!signers || sk_CMS_SignerInfo_num(signers) != 1)
        return cmsError(
            std::to_string(signers ? sk_CMS_SignerInfo_num(signers) : 0) + " signers, not one",
            ErrorCode::unsupported);
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, 0);

    X509StackPtr certs = certificatesOf(read);
    const int count = certs ? sk_X509_num(certs.get()) : 0;
    if (count <= 0) return cmsError("no certificates", ErrorCode::missing);
    if (static_cast<std::size_t>(count) > maxCertificates)
        return cmsError(
            std::to_string(count) + " certificates, more than " + std::to_string(maxCertificates),
            ErrorCode::tooLarge);
    std::vector<X509*> list;
    X509* signer = nullptr;
    for (int i = 0; i < count; ++i) {
        list.push_back(sk_X509_value(certs.get(), i));
        if (!signer && CMS_SignerInfo_cert_cmp(si, list.back()) == 0) signer = list.back();
    }
    if (!signer)
        return cmsError("the signer's certificate is not among the certificates",
                        ErrorCode::missing);
    // Each certificate in our form: the shared one's, or described here when OpenSSL read
    // them with the rest.
    std::vector<Expected<Certificate>> own;
    std::vector<const Certificate*> described;
    if (!read.apart)
        for (X509* x : list) own.push_back(describe(x));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Expected<Certificate>& c = read.apart ? read.certificates[i]->described : own[i];
        if (!c) return c.error();
        described.push_back(&*c);
    }
    orderChain(out, list, described, signer);

    X509_ALGOR* digestAlg = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digestAlg, nullptr);
    const ASN1_OBJECT* digestObj = nullptr;
    if (digestAlg) X509_ALGOR_get0(&digestObj, nullptr, nullptr, digestAlg);
    const EVP_MD* md = digestObj ? EVP_get_digestbyobj(digestObj) : nullptr;
    if (!md) return cmsError("unknown digest algorithm", ErrorCode::unsupported);
    out.digestName = OBJ_nid2sn(EVP_MD_get_type(md));

    if (CMS_signed_get_attr_count(si) <= 0)
        return cmsError("no signed attributes", ErrorCode::missing);
    const ASN1_TYPE* digest = attributeValue(signedAttribute(si, "1.2.840.113549.1.9.4"));
    if (!digest || digest->type != V_ASN1_OCTET_STRING)
        return cmsError("no message digest attribute", ErrorCode::missing);
    out.messageDigest = octets(digest->value.octet_string);
    if (const ASN1_TYPE* t = attributeValue(signedAttribute(si, "1.2.840.113549.1.9.5"))) {
        if (t->type != V_ASN1_UTCTIME && t->type != V_ASN1_GENERALIZEDTIME)
            return cmsError("signing time is no time");
        out.signingTime = seconds(t->value.utctime);
        if (!out.signingTime) return cmsError("signing time is unreadable");
    }
    if (X509_ATTRIBUTE* list9 = signedAttribute(si, OID_APPLE_CDHASHES_PLIST)) {
        auto hashes = plistCdHashes(attributeValue(list9));
        if (!hashes) return cmsError("the cdhashes property list is unreadable");
        out.plistCdHashes = std::move(*hashes);
    }
    if (X509_ATTRIBUTE* typed = signedAttribute(si, OID_APPLE_CDHASHES)) {
        const int n = X509_ATTRIBUTE_count(typed);
        if (n > 8) return cmsError("too many code directory hashes", ErrorCode::tooLarge);
        for (int i = 0; i < n; ++i) {
            auto h = typedCdHash(attributeValue(typed, i));
            if (!h) return cmsError("a code directory hash attribute is unreadable");
            out.typedCdHashes.push_back(std::move(*h));
        }
    }
    out.signatureValue = octets(CMS_SignerInfo_get0_signature(si));
    if (X509_up_ref(signer) == 1) {
        out.decoded = std::make_shared<DecodedCms>();
        out.decoded->signer.reset(signer);
    }
    if (const ASN1_TYPE* token = attributeValue(unsignedAttribute(si, OID_TIMESTAMP_TOKEN))) {
        if (token->type != V_ASN1_SEQUENCE) return cmsError("the timestamp token is no SEQUENCE");
        out.timestampToken = octets(token->value.sequence);
        out.timestamp = timestampTime(out.timestampToken);
        if (!out.timestamp) return cmsError("the timestamp token is unreadable");
    }
    ERR_clear_error();
    if (out.decoded) out.decoded->cms = std::move(cms);
    return out;
}

std::string_view bytesKey(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

namespace {

/// The tag and length of the BER element at the start of `bytes`, which berElement has found
/// whole: low tag numbers only, as CMS's structure uses.
struct BerHeader {
    unsigned char tag = 0;
    std::size_t size = 0;  ///< of the tag and length bytes
    bool indefinite = false;
    std::size_t length = 0;  ///< of the contents, when definite
};

std::optional<BerHeader> berHeader(std::span<const unsigned char> bytes) {
    if (bytes.size() < 2 || (bytes[0] & 0x1f) == 0x1f) return std::nullopt;
    BerHeader h{bytes[0], 2, bytes[1] == 0x80, bytes[1]};
    if (h.indefinite) {
        h.length = 0;
    } else if (bytes[1] & 0x80) {
        const std::size_t n = bytes[1] & 0x7f;
        if (n == 0 || n > 4 || n > bytes.size() - 2) return std::nullopt;
        h.length = 0;
        for (std::size_t i = 0; i < n; ++i) h.length = (h.length << 8) | bytes[2 + i];
        h.size += n;
    }
    if (!h.indefinite && h.length > bytes.size() - h.size) return std::nullopt;
    return h;
}

void putHeader(Bytes& out, unsigned char tag, std::size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    unsigned char digits[sizeof length];
    std::size_t n = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8)
        digits[n++] = static_cast<unsigned char>(rest & 0xff);
    out.push_back(static_cast<unsigned char>(0x80 | n));
    while (n > 0) out.push_back(digits[--n]);
}

/// A ContentInfo's SignedData without its certificates, and each certificate's own bytes:
/// ContentInfo { contentType, [0] { SignedData { version, digestAlgorithms,
/// encapContentInfo, [0] certificates, ... } } }. The three elements around the certificates
/// keep an indefinite length, or lose the certificates' bytes from a definite one. Nullopt
/// for any other shape, a certificate of another kind, or more than maxCertificates.
struct CertificatesApart {
    std::size_t used = 0;  ///< bytes of the ContentInfo, which may be followed by others
    Bytes rest;
    std::vector<std::span<const unsigned char>> certificates;
};

std::optional<CertificatesApart> takeCertificatesApart(std::span<const unsigned char> info) {
    const auto whole = berElement(info, 0);
    if (!whole) return std::nullopt;
    info = info.first(*whole);
    CertificatesApart out;
    out.used = *whole;
    std::size_t at = 0;
    std::vector<std::pair<std::size_t, BerHeader>> around;
    const auto enter = [&](unsigned char tag) {
        const auto h = berHeader(info.subspan(at));
        if (!h || h->tag != tag) return false;
        around.emplace_back(at, *h);
        at += h->size;
        return true;
    };
    const auto skip = [&](unsigned char tag) {
        const auto n =
            at < info.size() && info[at] == tag ? berElement(info.subspan(at), 1) : std::nullopt;
        if (n) at += *n;
        return n.has_value();
    };
    if (!enter(0x30) || !skip(0x06) || !enter(0xa0) || !enter(0x30) || !skip(0x02) || !skip(0x31) ||
        !skip(0x30))
        return std::nullopt;
    const auto set = berHeader(info.subspan(at));
    const auto setSize = set && set->tag == 0xa0 ? berElement(info.subspan(at), 1) : std::nullopt;
    if (!setSize) return std::nullopt;
    const std::size_t start = at, end = at + *setSize;
    // An indefinite set ends in two zero bytes, which are no certificate.
    const std::size_t last = set->indefinite ? end - 2 : end;
    for (std::size_t c = start + set->size; c < last;) {
        const auto n = info[c] == 0x30 ? berElement(info.subspan(c, last - c), 2) : std::nullopt;
        if (!n || out.certificates.size() == maxCertificates) return std::nullopt;
        out.certificates.push_back(info.subspan(c, *n));
        c += *n;
    }
    const std::size_t removed = end - start;
    std::size_t from = 0;
    for (const auto& [offset, h] : around) {
        if (!h.indefinite && h.length < removed) return std::nullopt;
        out.rest.insert(out.rest.end(), info.begin() + std::ptrdiff_t(from),
                        info.begin() + std::ptrdiff_t(offset));
        if (h.indefinite)
            out.rest.insert(out.rest.end(), info.begin() + std::ptrdiff_t(offset),
                            info.begin() + std::ptrdiff_t(offset + h.size));
        else
            putHeader(out.rest, h.tag, h.length - removed);
        from = offset + h.size;
    }
    out.rest.insert(out.rest.end(), info.begin() + std::ptrdiff_t(from),
                    info.begin() + std::ptrdiff_t(start));
    out.rest.insert(out.rest.end(), info.begin() + std::ptrdiff_t(end), info.end());
    return out;
}

}  // namespace

SharedCertificate sharedCertificate(std::span<const unsigned char> der) {
    static RecentResults<SharedCertificate> recent;
    const std::string_view key(reinterpret_cast<const char*>(der.data()), der.size());
    if (auto known = recent.find(key)) return std::move(*known);
    const unsigned char* p = der.data();
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    ERR_clear_error();
    if (!x || p != der.data() + der.size()) return nullptr;
    auto decoded = std::make_shared<DecodedCertificate>();
    decoded->described = describe(x.get());
    // Worked out now, while no other thread holds it: what OpenSSL would otherwise cache on
    // first use.
    X509_check_purpose(x.get(), -1, 0);
    decoded->x509 = std::move(x);
    ERR_clear_error();
    recent.add(key, decoded);
    return decoded;
}

ReadCms readCms(std::span<const unsigned char> bytes) {
    ReadCms read;
    if (auto apart = takeCertificatesApart(bytes)) {
        for (const auto der : apart->certificates) {
            SharedCertificate c = sharedCertificate(der);
            if (!c) break;
            read.certificates.push_back(std::move(c));
        }
        const unsigned char* p = apart->rest.data();
        if (read.certificates.size() == apart->certificates.size())
            read.cms.reset(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(apart->rest.size())));
        ERR_clear_error();
        if (read.cms && p == apart->rest.data() + apart->rest.size()) {
            read.apart = true;
            read.whole = apart->used == bytes.size();
            return read;
        }
        // Read whole instead, so that whatever is wrong is said as before.
        read.cms.reset();
        read.certificates.clear();
    }
    const unsigned char* p = bytes.data();
    read.cms.reset(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(bytes.size())));
    ERR_clear_error();
    read.whole = read.cms && p == bytes.data() + bytes.size();
    return read;
}

X509StackPtr certificatesOf(const ReadCms& read) {
    if (!read.apart) return X509StackPtr(read.cms ? CMS_get1_certs(read.cms.get()) : nullptr);
    // None is no stack, as OpenSSL's own answer has it.
    if (read.certificates.empty()) return nullptr;
    X509StackPtr stack(sk_X509_new_null());
    for (const SharedCertificate& c : read.certificates) {
        if (!stack || X509_up_ref(c->x509.get()) != 1) return nullptr;
        if (sk_X509_push(stack.get(), c->x509.get()) <= 0) {
            X509_free(c->x509.get());
            return nullptr;
        }
    }
    return stack;
}

bool Certificate::hasMarker(std::string_view oid) const {
    return std::find(appleMarkers.begin(), appleMarkers.end(), oid) != appleMarkers.end();
}

std::optional<Error> cryptoMissing() {
#ifdef VARKO_LIBCRYPTO
    if (loaded::library<VARKO_LIBCRYPTO>() == nullptr)
        return Error{0, loaded::failure<VARKO_LIBCRYPTO>(), ErrorCode::toolFailed};
#endif
    return std::nullopt;
}

std::shared_ptr<const Expected<CmsSignature>> parseCmsShared(std::span<const std::byte> encoded) {
    const auto shared = [](Expected<CmsSignature> parsed) {
        return std::make_shared<const Expected<CmsSignature>>(std::move(parsed));
    };
    if (auto missing = cryptoMissing()) return shared(*missing);
    // The adapter is where a throwing allocation or plist read must stop.
    static RecentResults<std::shared_ptr<const Expected<CmsSignature>>> recent;
    try {
        if (auto known = recent.find(bytesKey(encoded))) return std::move(*known);
        auto parsed = shared(parse(encoded));
        recent.add(bytesKey(encoded), parsed);
        return parsed;
    } catch (...) {
        ERR_clear_error();
        return shared(cmsError("cannot be read"));
    }
}

Expected<CmsSignature> parseCms(std::span<const std::byte> encoded) {
    return *parseCmsShared(encoded);
}

namespace {

Expected<void> checkSigner(const CmsSignature& cms, std::span<const std::byte> content) {
    const EVP_MD* md = EVP_get_digestbyname(cms.digestName.c_str());
    if (!md) return Error{0, "the signature's digest algorithm is unknown", ErrorCode::unsupported};
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(content.data(), content.size(), computed, &n, md, nullptr) != 1)
        return Error{0, "the code directory cannot be hashed", ErrorCode::unsupported};
    if (!std::equal(cms.messageDigest.begin(), cms.messageDigest.end(), computed, computed + n))
        return Error{0, "the signature does not match the code directory",
                     ErrorCode::invalidSignature};
    // The form the parse kept, or the bytes decoded again for a signature made by hand.
    std::shared_ptr<DecodedCms> decoded = cms.decoded;
    if (!decoded || !decoded->cms) {
        decoded = std::make_shared<DecodedCms>();
        decoded->cms = readCms(cms.encoded).cms;
        const SharedCertificate signer =
            cms.certificates.empty() ? nullptr : sharedCertificate(cms.certificates.front().der);
        if (signer && X509_up_ref(signer->x509.get()) == 1)
            decoded->signer.reset(signer->x509.get());
    }
    const std::lock_guard hold(decoded->mutex);
    STACK_OF(CMS_SignerInfo)* signers =
        decoded->cms ? CMS_get0_SignerInfos(decoded->cms.get()) : nullptr;
    if (!decoded->signer || !signers || sk_CMS_SignerInfo_num(signers) != 1)
        return Error{0, "the signature cannot be read again", ErrorCode::malformed};
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, 0);
    CMS_SignerInfo_set1_signer_cert(si, decoded->signer.get());
    const bool good = CMS_SignerInfo_verify(si) == 1;
    ERR_clear_error();
    if (!good)
        return Error{0, "the signature does not verify with its signer's key",
                     ErrorCode::invalidSignature};
    return {};
}

}  // namespace

Expected<void> verifySigner(const CmsSignature& cms, std::span<const std::byte> content) {
    if (auto missing = cryptoMissing()) return *missing;
    static RecentResults<Expected<void>> recent;
    try {
        // Everything the check reads, each part after its length so that no two run together.
        std::string key;
        const auto part = [&key](std::string_view bytes) {
            key.append(std::to_string(bytes.size())).append(1, ':').append(bytes);
        };
        const auto of = [](const Bytes& b) {
            return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
        };
        part(of(cms.encoded));
        part(bytesKey(content));
        part(cms.digestName);
        part(of(cms.messageDigest));
        part(cms.certificates.empty() ? std::string_view() : of(cms.certificates.front().der));
        if (auto known = recent.find(key)) return *known;
        const Expected<void> checked = checkSigner(cms, content);
        recent.add(key, checked);
        return checked;
    } catch (...) {
        ERR_clear_error();
        return Error{0, "the signature cannot be checked", ErrorCode::malformed};
    }
}

Expected<Certificate> describeCertificate(std::span<const unsigned char> der) {
    if (auto missing = cryptoMissing()) return *missing;
    const SharedCertificate c = sharedCertificate(der);
    if (!c) return Error{0, "a certificate is not DER X.509", ErrorCode::malformed};
    return c->described;
}

}  // namespace varko::signing
