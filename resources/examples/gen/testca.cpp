#include "gen/testca.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace varko::examplegen {

namespace {

std::shared_ptr<EVP_PKEY> newKey() {
    return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

std::vector<unsigned char> der(X509* x) {
    unsigned char* p = nullptr;
    const int n = i2d_X509(x, &p);
    std::vector<unsigned char> out(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    return out;
}

X509* parse(const std::vector<unsigned char>& bytes) {
    const unsigned char* p = bytes.data();
    return d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext) X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

void addMarker(X509* cert, const std::string& oid, bool critical) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid.c_str(), 1);
    static const unsigned char null[] = {0x05, 0x00};
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, null, sizeof null);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, critical ? 1 : 0, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(obj);
}

TestIdentity make(const CertificateRequest& r, const TestIdentity* issuer) {
    TestIdentity id;
    id.key = r.rsa ? std::shared_ptr<EVP_PKEY>(EVP_RSA_gen(2048), EVP_PKEY_free) : newKey();
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    static long serial = 1;
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    ASN1_TIME_set(X509_getm_notBefore(cert), static_cast<time_t>(r.notBefore));
    ASN1_TIME_set(X509_getm_notAfter(cert), static_cast<time_t>(r.notAfter));
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(r.commonName.c_str()), -1, -1, 0);
    if (r.organizationalUnit)
        X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(r.organizationalUnit->c_str()), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Varko Tests"), -1,
                               -1, 0);
    X509* issuerCert = issuer ? parse(issuer->certificate) : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
    X509_set_pubkey(cert, id.key.get());
    addExtension(cert, issuerCert, NID_basic_constraints, r.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(cert, issuerCert, NID_key_usage, r.authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    addExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
    if (issuer) addExtension(cert, issuerCert, NID_authority_key_identifier, "keyid");
    if (!r.authority && r.timeStamping) addExtension(cert, issuerCert, NID_ext_key_usage, "critical,timeStamping");
    else if (!r.authority && r.codeSigning) addExtension(cert, issuerCert, NID_ext_key_usage, "critical,codeSigning");
    for (const auto& oid : r.markers) addMarker(cert, oid, r.criticalMarkers);
    X509_sign(cert, issuer ? issuer->key.get() : id.key.get(), EVP_sha256());
    id.certificate = der(cert);
    if (issuerCert != cert) X509_free(issuerCert);
    X509_free(cert);
    return id;
}

struct X509Stack {
    STACK_OF(X509)* stack = sk_X509_new_null();
    ~X509Stack() { sk_X509_pop_free(stack, X509_free); }
};

int fixedTime(TS_RESP_CTX*, void* data, long* sec, long* usec) {
    *sec = static_cast<long>(*static_cast<std::int64_t*>(data));
    *usec = 0;
    return 1;
}

ASN1_INTEGER* nextSerial(TS_RESP_CTX*, void*) {
    ASN1_INTEGER* s = ASN1_INTEGER_new();
    ASN1_INTEGER_set(s, 7);
    return s;
}

/// An RFC 3161 token over the SHA-256 of `signature`, made by `tsa` at `when`.
std::vector<unsigned char> timestampToken(std::span<const unsigned char> signature, const TestIdentity& tsa,
                                          std::int64_t when) {
    unsigned char digest[32];
    unsigned int n = 0;
    EVP_Digest(signature.data(), signature.size(), digest, &n, EVP_sha256(), nullptr);
    TS_REQ* req = TS_REQ_new();
    TS_REQ_set_version(req, 1);
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* alg = X509_ALGOR_new();
    X509_ALGOR_set0(alg, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint, alg);
    TS_MSG_IMPRINT_set_msg(imprint, digest, static_cast<int>(n));
    TS_REQ_set_msg_imprint(req, imprint);
    TS_REQ_set_cert_req(req, 1);
    BIO* reqBio = BIO_new(BIO_s_mem());
    i2d_TS_REQ_bio(reqBio, req);

    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    X509* cert = parse(tsa.certificate);
    TS_RESP_CTX_set_signer_cert(ctx, cert);
    TS_RESP_CTX_set_signer_key(ctx, tsa.key.get());
    ASN1_OBJECT* policy = OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1);
    TS_RESP_CTX_set_def_policy(ctx, policy);
    TS_RESP_CTX_add_md(ctx, EVP_sha256());
    std::int64_t at = when;
    TS_RESP_CTX_set_time_cb(ctx, fixedTime, &at);
    TS_RESP_CTX_set_serial_cb(ctx, nextSerial, nullptr);
    TS_RESP* resp = TS_RESP_create_response(ctx, reqBio);
    std::vector<unsigned char> out;
    if (resp && TS_RESP_get_token(resp)) {
        unsigned char* p = nullptr;
        const int len = i2d_PKCS7(TS_RESP_get_token(resp), &p);
        if (len > 0) out.assign(p, p + len);
        OPENSSL_free(p);
    }
    TS_RESP_free(resp);
    ASN1_OBJECT_free(policy);
    X509_free(cert);
    TS_RESP_CTX_free(ctx);
    BIO_free(reqBio);
    X509_ALGOR_free(alg);
    TS_MSG_IMPRINT_free(imprint);
    TS_REQ_free(req);
    return out;
}

std::string base64(std::span<const unsigned char> bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

TestIdentity makeTestRoot(const std::string& commonName, std::int64_t notBefore, std::int64_t notAfter) {
    CertificateRequest r;
    r.commonName = commonName;
    r.authority = true;
    r.notBefore = notBefore;
    r.notAfter = notAfter;
    return make(r, nullptr);
}

TestIdentity issueCertificate(const CertificateRequest& request, const TestIdentity& issuer) {
    return make(request, &issuer);
}

std::array<unsigned char, 32> fingerprint(const TestIdentity& identity) {
    std::array<unsigned char, 32> out{};
    unsigned int n = 0;
    EVP_Digest(identity.certificate.data(), identity.certificate.size(), out.data(), &n, EVP_sha256(), nullptr);
    return out;
}

std::vector<std::byte> signDigest(const TestIdentity& signer, std::span<const std::byte> digest, const char* digestName) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(signer.key.get(), nullptr);
    std::size_t n = 0;
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_signature_md(ctx, EVP_get_digestbyname(digestName));
    const auto* in = reinterpret_cast<const unsigned char*>(digest.data());
    EVP_PKEY_sign(ctx, nullptr, &n, in, digest.size());
    std::vector<std::byte> out(n);
    EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char*>(out.data()), &n, in, digest.size());
    out.resize(n);
    EVP_PKEY_CTX_free(ctx);
    return out;
}

namespace {

struct Tlv {
    unsigned char tag = 0;
    std::span<const unsigned char> content;
    std::size_t size = 0;  ///< of the whole element
};

/// One DER element; the signer writes only low tag numbers.
Tlv readTlv(std::span<const unsigned char> der) {
    Tlv t{der[0], {}, 0};
    std::size_t at = 2, length = der[1];
    if (length & 0x80) {
        const std::size_t n = length & 0x7f;
        length = 0;
        for (std::size_t i = 0; i < n; ++i) length = (length << 8) | der[at++];
    }
    t.content = der.subspan(at, length);
    t.size = at + length;
    return t;
}

void appendDefinite(std::vector<unsigned char>& out, unsigned char tag, std::span<const unsigned char> content) {
    out.push_back(tag);
    if (content.size() < 0x80) {
        out.push_back(static_cast<unsigned char>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(content.size() >> 8));
        out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
}

enum class Within { Outer, SignerInfos, SignerInfo };

/// Rewrites the DER of a SignedData in BER: ContentInfo, its content, SignedData and the
/// encapsulated content info with indefinite lengths, as Apple's codesign writes them; and
/// beyond what Apple does, the signer infos and their unsigned attributes indefinite too and
/// the signature value a constructed OCTET STRING in two parts. Certificates and signed
/// attributes keep their DER.
void reencodeBer(std::vector<unsigned char>& out, std::span<const unsigned char> der, int depth, Within within) {
    for (std::size_t at = 0; at < der.size();) {
        const Tlv t = readTlv(der.subspan(at));
        at += t.size;
        const auto indefinite = [&](Within inner, bool copyChildren) {
            out.insert(out.end(), {t.tag, 0x80});
            if (copyChildren) out.insert(out.end(), t.content.begin(), t.content.end());
            else reencodeBer(out, t.content, depth + 1, inner);
            out.insert(out.end(), {0x00, 0x00});
        };
        if (within == Within::SignerInfo && t.tag == 0x04) {
            out.insert(out.end(), {0x24, 0x80});
            const std::size_t half = t.content.size() / 2;
            appendDefinite(out, 0x04, t.content.first(half));
            appendDefinite(out, 0x04, t.content.subspan(half));
            out.insert(out.end(), {0x00, 0x00});
        } else if (within == Within::SignerInfo && t.tag == 0xA1) {
            indefinite(Within::Outer, true);
        } else if (within == Within::SignerInfos) {
            indefinite(Within::SignerInfo, false);
        } else if (depth == 3 && t.tag == 0x30) {  // encapContentInfo, as Apple writes it
            indefinite(Within::Outer, true);
        } else if (depth == 3 && t.tag == 0x31 && at == der.size()) {
            indefinite(Within::SignerInfos, false);
        } else if (depth < 3 && (t.tag & 0x20)) {
            indefinite(Within::Outer, false);
        } else {
            const auto whole = der.subspan(at - t.size, t.size);
            out.insert(out.end(), whole.begin(), whole.end());
        }
    }
}

}  // namespace

std::vector<std::byte> signCms(std::span<const std::byte> content, const CmsRequest& r) {
    X509* signer = parse(r.signer->certificate);
    X509Stack certs;
    for (const TestIdentity* c : r.chain) sk_X509_push(certs.stack, parse(c->certificate));
    const int flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, certs.stack, nullptr, flags);
    // The certificates to carry are exactly `chain`, so the signer is not added again.
    CMS_SignerInfo* si = CMS_add1_signer(cms, signer, r.signer->key.get(), EVP_sha256(), flags | CMS_NOCERTS);
    if (!si) {
        ERR_print_errors_fp(stderr);
        std::abort();
    }

    ASN1_TIME* when = ASN1_TIME_set(nullptr, static_cast<time_t>(r.signingTime));
    CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, when->type, when, -1);
    ASN1_TIME_free(when);
    if (r.appleAttributes) {
        unsigned char digest[32];
        unsigned int n = 0;
        EVP_Digest(content.data(), content.size(), digest, &n, EVP_sha256(), nullptr);
        const std::string plist =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>cdhashes</key>\n"
            "\t<array>\n\t\t<data>\n\t\t" + base64(std::span(digest, 20)) + "\n\t\t</data>\n\t</array>\n</dict>\n</plist>\n";
        CMS_signed_add1_attr_by_txt(si, "1.2.840.113635.100.9.1", V_ASN1_OCTET_STRING, plist.data(),
                                    static_cast<int>(plist.size()));
        // SEQUENCE { OID sha256, OCTET STRING digest }, written by hand: it is fixed-size.
        std::vector<unsigned char> seq = {0x30, 0x2d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                          0x03, 0x04, 0x02, 0x01, 0x04, 0x20};
        seq.insert(seq.end(), digest, digest + 32);
        ASN1_STRING* value = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
        ASN1_STRING_set(value, seq.data(), static_cast<int>(seq.size()));
        CMS_signed_add1_attr_by_txt(si, "1.2.840.113635.100.9.2", V_ASN1_SEQUENCE, value, -1);
        ASN1_STRING_free(value);
    }
    BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    CMS_final(cms, data, nullptr, flags & ~CMS_PARTIAL);
    BIO_free(data);
    if (r.timestampAuthority) {
        const ASN1_OCTET_STRING* sig = CMS_SignerInfo_get0_signature(si);
        const auto token = timestampToken(
            std::span(ASN1_STRING_get0_data(sig), static_cast<std::size_t>(ASN1_STRING_length(sig))),
            *r.timestampAuthority, r.timestampTime);
        ASN1_STRING* value = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
        ASN1_STRING_set(value, token.data(), static_cast<int>(token.size()));
        CMS_unsigned_add1_attr_by_txt(si, "1.2.840.113549.1.9.16.2.14", V_ASN1_SEQUENCE, value, -1);
        ASN1_STRING_free(value);
    }
    unsigned char* p = nullptr;
    const int n = i2d_CMS_ContentInfo(cms, &p);
    std::vector<unsigned char> encoded(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    if (r.ber) {
        std::vector<unsigned char> ber;
        reencodeBer(ber, encoded, 0, Within::Outer);
        encoded = std::move(ber);
    }
    std::vector<std::byte> out(reinterpret_cast<std::byte*>(encoded.data()),
                               reinterpret_cast<std::byte*>(encoded.data()) + encoded.size());
    CMS_ContentInfo_free(cms);
    X509_free(signer);
    return out;
}

}  // namespace varko::examplegen
