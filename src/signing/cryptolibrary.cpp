// libcrypto's functions that Varko calls, each of the same name and type as in OpenSSL's
// headers, passing the call on to the library once it is loaded. It is loaded at the first
// call: its own symbol bindings took a tenth of the time to a first window, and a window or
// a tool run that checks no signature never calls it. Should it fail to load, every call
// fails as OpenSSL's own calls fail, and `signing::cryptoMissing` says why, so that the
// checks report the missing library rather than a signature that does not match.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "format/loadedlibrary.h"

namespace {

template <varko::loaded::Name name, class Function, class Result, class... Arguments>
Result pass(Result failed, Arguments... arguments) {
    return varko::loaded::pass<VARKO_LIBCRYPTO, name, Function>(failed, arguments...);
}

template <varko::loaded::Name name, class Function>
Function* resolved() {
    return varko::loaded::resolved<VARKO_LIBCRYPTO, name, Function>();
}

}  // namespace

extern "C" {

void ASN1_OBJECT_free(ASN1_OBJECT* a) {
    if (auto* function = resolved<"ASN1_OBJECT_free", decltype(ASN1_OBJECT_free)>()) function(a);
}
void ASN1_OCTET_STRING_free(ASN1_OCTET_STRING* a) {
    if (auto* function = resolved<"ASN1_OCTET_STRING_free", decltype(ASN1_OCTET_STRING_free)>())
        function(a);
}
const unsigned char* ASN1_STRING_get0_data(const ASN1_STRING* x) {
    return pass<"ASN1_STRING_get0_data", decltype(ASN1_STRING_get0_data)>(
        static_cast<const unsigned char*>(nullptr), x);
}
int ASN1_STRING_length(const ASN1_STRING* x) {
    return pass<"ASN1_STRING_length", decltype(ASN1_STRING_length)>(0, x);
}
int ASN1_STRING_to_UTF8(unsigned char** out, const ASN1_STRING* in) {
    return pass<"ASN1_STRING_to_UTF8", decltype(ASN1_STRING_to_UTF8)>(-1, out, in);
}
int ASN1_TIME_to_tm(const ASN1_TIME* s, struct tm* tm) {
    return pass<"ASN1_TIME_to_tm", decltype(ASN1_TIME_to_tm)>(0, s, tm);
}
int ASN1_get_object(const unsigned char** pp, long* plength, int* ptag, int* pclass, long omax) {
    return pass<"ASN1_get_object", decltype(ASN1_get_object)>(0x80, pp, plength, ptag, pclass,
                                                              omax);
}
long BIO_ctrl(BIO* bp, int cmd, long larg, void* parg) {
    return pass<"BIO_ctrl", decltype(BIO_ctrl)>(0L, bp, cmd, larg, parg);
}
void BIO_free_all(BIO* a) {
    if (auto* function = resolved<"BIO_free_all", decltype(BIO_free_all)>()) function(a);
}
BIO* BIO_new(const BIO_METHOD* type) {
    return pass<"BIO_new", decltype(BIO_new)>(static_cast<BIO*>(nullptr), type);
}
const BIO_METHOD* BIO_s_mem() {
    return pass<"BIO_s_mem", decltype(BIO_s_mem)>(static_cast<const BIO_METHOD*>(nullptr));
}
void CERTIFICATEPOLICIES_free(CERTIFICATEPOLICIES* a) {
    if (auto* function = resolved<"CERTIFICATEPOLICIES_free", decltype(CERTIFICATEPOLICIES_free)>())
        function(a);
}
void CMS_ContentInfo_free(CMS_ContentInfo* a) {
    if (auto* function = resolved<"CMS_ContentInfo_free", decltype(CMS_ContentInfo_free)>())
        function(a);
}
int CMS_SignerInfo_cert_cmp(CMS_SignerInfo* si, X509* cert) {
    return pass<"CMS_SignerInfo_cert_cmp", decltype(CMS_SignerInfo_cert_cmp)>(-1, si, cert);
}
void CMS_SignerInfo_get0_algs(CMS_SignerInfo* si, EVP_PKEY** pk, X509** signer, X509_ALGOR** pdig,
                              X509_ALGOR** psig) {
    if (auto* function = resolved<"CMS_SignerInfo_get0_algs", decltype(CMS_SignerInfo_get0_algs)>())
        function(si, pk, signer, pdig, psig);
}
ASN1_OCTET_STRING* CMS_SignerInfo_get0_signature(CMS_SignerInfo* si) {
    return pass<"CMS_SignerInfo_get0_signature", decltype(CMS_SignerInfo_get0_signature)>(
        static_cast<ASN1_OCTET_STRING*>(nullptr), si);
}
void CMS_SignerInfo_set1_signer_cert(CMS_SignerInfo* si, X509* signer) {
    if (auto* function = resolved<"CMS_SignerInfo_set1_signer_cert",
                                  decltype(CMS_SignerInfo_set1_signer_cert)>())
        function(si, signer);
}
int CMS_SignerInfo_verify(CMS_SignerInfo* si) {
    return pass<"CMS_SignerInfo_verify", decltype(CMS_SignerInfo_verify)>(-1, si);
}
STACK_OF(CMS_SignerInfo) * CMS_get0_SignerInfos(CMS_ContentInfo* cms) {
    return pass<"CMS_get0_SignerInfos", decltype(CMS_get0_SignerInfos)>(
        static_cast<STACK_OF(CMS_SignerInfo)*>(nullptr), cms);
}
ASN1_OCTET_STRING** CMS_get0_content(CMS_ContentInfo* cms) {
    return pass<"CMS_get0_content", decltype(CMS_get0_content)>(
        static_cast<ASN1_OCTET_STRING**>(nullptr), cms);
}
const ASN1_OBJECT* CMS_get0_eContentType(CMS_ContentInfo* cms) {
    return pass<"CMS_get0_eContentType", decltype(CMS_get0_eContentType)>(
        static_cast<const ASN1_OBJECT*>(nullptr), cms);
}
const ASN1_OBJECT* CMS_get0_type(const CMS_ContentInfo* cms) {
    return pass<"CMS_get0_type", decltype(CMS_get0_type)>(static_cast<const ASN1_OBJECT*>(nullptr),
                                                          cms);
}
STACK_OF(X509) * CMS_get1_certs(CMS_ContentInfo* cms) {
    return pass<"CMS_get1_certs", decltype(CMS_get1_certs)>(static_cast<STACK_OF(X509)*>(nullptr),
                                                            cms);
}
int CMS_is_detached(CMS_ContentInfo* cms) {
    return pass<"CMS_is_detached", decltype(CMS_is_detached)>(0, cms);
}
X509_ATTRIBUTE* CMS_signed_get_attr(const CMS_SignerInfo* si, int loc) {
    return pass<"CMS_signed_get_attr", decltype(CMS_signed_get_attr)>(
        static_cast<X509_ATTRIBUTE*>(nullptr), si, loc);
}
int CMS_signed_get_attr_by_OBJ(const CMS_SignerInfo* si, const ASN1_OBJECT* obj, int lastpos) {
    return pass<"CMS_signed_get_attr_by_OBJ", decltype(CMS_signed_get_attr_by_OBJ)>(-1, si, obj,
                                                                                    lastpos);
}
int CMS_signed_get_attr_count(const CMS_SignerInfo* si) {
    return pass<"CMS_signed_get_attr_count", decltype(CMS_signed_get_attr_count)>(-1, si);
}
X509_ATTRIBUTE* CMS_unsigned_get_attr(const CMS_SignerInfo* si, int loc) {
    return pass<"CMS_unsigned_get_attr", decltype(CMS_unsigned_get_attr)>(
        static_cast<X509_ATTRIBUTE*>(nullptr), si, loc);
}
int CMS_unsigned_get_attr_by_OBJ(const CMS_SignerInfo* si, const ASN1_OBJECT* obj, int lastpos) {
    return pass<"CMS_unsigned_get_attr_by_OBJ", decltype(CMS_unsigned_get_attr_by_OBJ)>(-1, si, obj,
                                                                                        lastpos);
}
int CMS_verify(CMS_ContentInfo* cms, STACK_OF(X509) * certs, X509_STORE* store, BIO* dcont,
               BIO* out, unsigned int flags) {
    return pass<"CMS_verify", decltype(CMS_verify)>(0, cms, certs, store, dcont, out, flags);
}
void CRYPTO_free(void* ptr, const char* file, int line) {
    if (auto* function = resolved<"CRYPTO_free", decltype(CRYPTO_free)>())
        function(ptr, file, line);
}
void ERR_clear_error() {
    if (auto* function = resolved<"ERR_clear_error", decltype(ERR_clear_error)>()) function();
}
int EVP_Digest(const void* data, size_t count, unsigned char* md, unsigned int* size,
               const EVP_MD* type, ENGINE* impl) {
    return pass<"EVP_Digest", decltype(EVP_Digest)>(0, data, count, md, size, type, impl);
}
int EVP_DigestFinal_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* s) {
    return pass<"EVP_DigestFinal_ex", decltype(EVP_DigestFinal_ex)>(0, ctx, md, s);
}
int EVP_DigestInit_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
    return pass<"EVP_DigestInit_ex", decltype(EVP_DigestInit_ex)>(0, ctx, type, impl);
}
int EVP_DigestInit_ex2(EVP_MD_CTX* ctx, const EVP_MD* type, const OSSL_PARAM params[]) {
    return pass<"EVP_DigestInit_ex2", decltype(EVP_DigestInit_ex2)>(0, ctx, type, params);
}
int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* d, size_t cnt) {
    return pass<"EVP_DigestUpdate", decltype(EVP_DigestUpdate)>(0, ctx, d, cnt);
}
void EVP_MD_CTX_free(EVP_MD_CTX* ctx) {
    if (auto* function = resolved<"EVP_MD_CTX_free", decltype(EVP_MD_CTX_free)>()) function(ctx);
}
EVP_MD_CTX* EVP_MD_CTX_new() {
    return pass<"EVP_MD_CTX_new", decltype(EVP_MD_CTX_new)>(static_cast<EVP_MD_CTX*>(nullptr));
}
const char* EVP_MD_get0_name(const EVP_MD* md) {
    return pass<"EVP_MD_get0_name", decltype(EVP_MD_get0_name)>(static_cast<const char*>(nullptr),
                                                                md);
}
int EVP_MD_get_type(const EVP_MD* md) {
    return pass<"EVP_MD_get_type", decltype(EVP_MD_get_type)>(0, md);
}
void EVP_PKEY_CTX_free(EVP_PKEY_CTX* ctx) {
    if (auto* function = resolved<"EVP_PKEY_CTX_free", decltype(EVP_PKEY_CTX_free)>())
        function(ctx);
}
EVP_PKEY_CTX* EVP_PKEY_CTX_new(EVP_PKEY* pkey, ENGINE* e) {
    return pass<"EVP_PKEY_CTX_new", decltype(EVP_PKEY_CTX_new)>(static_cast<EVP_PKEY_CTX*>(nullptr),
                                                                pkey, e);
}
int EVP_PKEY_CTX_set_signature_md(EVP_PKEY_CTX* ctx, const EVP_MD* md) {
    return pass<"EVP_PKEY_CTX_set_signature_md", decltype(EVP_PKEY_CTX_set_signature_md)>(0, ctx,
                                                                                          md);
}
int EVP_PKEY_verify(EVP_PKEY_CTX* ctx, const unsigned char* sig, size_t siglen,
                    const unsigned char* tbs, size_t tbslen) {
    return pass<"EVP_PKEY_verify", decltype(EVP_PKEY_verify)>(-1, ctx, sig, siglen, tbs, tbslen);
}
int EVP_PKEY_verify_init(EVP_PKEY_CTX* ctx) {
    return pass<"EVP_PKEY_verify_init", decltype(EVP_PKEY_verify_init)>(0, ctx);
}
const EVP_MD* EVP_get_digestbyname(const char* name) {
    return pass<"EVP_get_digestbyname", decltype(EVP_get_digestbyname)>(
        static_cast<const EVP_MD*>(nullptr), name);
}
const EVP_MD* EVP_sha1() {
    return pass<"EVP_sha1", decltype(EVP_sha1)>(static_cast<const EVP_MD*>(nullptr));
}
const EVP_MD* EVP_sha256() {
    return pass<"EVP_sha256", decltype(EVP_sha256)>(static_cast<const EVP_MD*>(nullptr));
}
const EVP_MD* EVP_sha384() {
    return pass<"EVP_sha384", decltype(EVP_sha384)>(static_cast<const EVP_MD*>(nullptr));
}
const EVP_MD* EVP_sha512() {
    return pass<"EVP_sha512", decltype(EVP_sha512)>(static_cast<const EVP_MD*>(nullptr));
}
const char* OBJ_nid2sn(int n) {
    return pass<"OBJ_nid2sn", decltype(OBJ_nid2sn)>(static_cast<const char*>(nullptr), n);
}
int OBJ_obj2nid(const ASN1_OBJECT* o) {
    return pass<"OBJ_obj2nid", decltype(OBJ_obj2nid)>(0, o);
}
int OBJ_obj2txt(char* buf, int buf_len, const ASN1_OBJECT* a, int no_name) {
    return pass<"OBJ_obj2txt", decltype(OBJ_obj2txt)>(-1, buf, buf_len, a, no_name);
}
ASN1_OBJECT* OBJ_txt2obj(const char* s, int no_name) {
    return pass<"OBJ_txt2obj", decltype(OBJ_txt2obj)>(static_cast<ASN1_OBJECT*>(nullptr), s,
                                                      no_name);
}
OPENSSL_STACK* OPENSSL_sk_new_null() {
    return pass<"OPENSSL_sk_new_null", decltype(OPENSSL_sk_new_null)>(
        static_cast<OPENSSL_STACK*>(nullptr));
}
int OPENSSL_sk_num(const OPENSSL_STACK* a0) {
    return pass<"OPENSSL_sk_num", decltype(OPENSSL_sk_num)>(-1, a0);
}
void OPENSSL_sk_pop_free(OPENSSL_STACK* st, void (*func)(void*)) {
    if (auto* function = resolved<"OPENSSL_sk_pop_free", decltype(OPENSSL_sk_pop_free)>())
        function(st, func);
}
int OPENSSL_sk_push(OPENSSL_STACK* st, const void* data) {
    return pass<"OPENSSL_sk_push", decltype(OPENSSL_sk_push)>(0, st, data);
}
void* OPENSSL_sk_value(const OPENSSL_STACK* a0, int a1) {
    return pass<"OPENSSL_sk_value", decltype(OPENSSL_sk_value)>(static_cast<void*>(nullptr), a0,
                                                                a1);
}
X509_ALGOR* TS_MSG_IMPRINT_get_algo(TS_MSG_IMPRINT* a) {
    return pass<"TS_MSG_IMPRINT_get_algo", decltype(TS_MSG_IMPRINT_get_algo)>(
        static_cast<X509_ALGOR*>(nullptr), a);
}
ASN1_OCTET_STRING* TS_MSG_IMPRINT_get_msg(TS_MSG_IMPRINT* a) {
    return pass<"TS_MSG_IMPRINT_get_msg", decltype(TS_MSG_IMPRINT_get_msg)>(
        static_cast<ASN1_OCTET_STRING*>(nullptr), a);
}
void TS_TST_INFO_free(TS_TST_INFO* a) {
    if (auto* function = resolved<"TS_TST_INFO_free", decltype(TS_TST_INFO_free)>()) function(a);
}
TS_MSG_IMPRINT* TS_TST_INFO_get_msg_imprint(TS_TST_INFO* a) {
    return pass<"TS_TST_INFO_get_msg_imprint", decltype(TS_TST_INFO_get_msg_imprint)>(
        static_cast<TS_MSG_IMPRINT*>(nullptr), a);
}
const ASN1_GENERALIZEDTIME* TS_TST_INFO_get_time(const TS_TST_INFO* a) {
    return pass<"TS_TST_INFO_get_time", decltype(TS_TST_INFO_get_time)>(
        static_cast<const ASN1_GENERALIZEDTIME*>(nullptr), a);
}
void X509_ALGOR_get0(const ASN1_OBJECT** paobj, int* pptype, const void** ppval,
                     const X509_ALGOR* algor) {
    if (auto* function = resolved<"X509_ALGOR_get0", decltype(X509_ALGOR_get0)>())
        function(paobj, pptype, ppval, algor);
}
int X509_ATTRIBUTE_count(const X509_ATTRIBUTE* attr) {
    return pass<"X509_ATTRIBUTE_count", decltype(X509_ATTRIBUTE_count)>(0, attr);
}
ASN1_TYPE* X509_ATTRIBUTE_get0_type(X509_ATTRIBUTE* attr, int idx) {
    return pass<"X509_ATTRIBUTE_get0_type", decltype(X509_ATTRIBUTE_get0_type)>(
        static_cast<ASN1_TYPE*>(nullptr), attr, idx);
}
int X509_EXTENSION_get_critical(const X509_EXTENSION* ex) {
    return pass<"X509_EXTENSION_get_critical", decltype(X509_EXTENSION_get_critical)>(0, ex);
}
ASN1_OBJECT* X509_EXTENSION_get_object(X509_EXTENSION* ex) {
    return pass<"X509_EXTENSION_get_object", decltype(X509_EXTENSION_get_object)>(
        static_cast<ASN1_OBJECT*>(nullptr), ex);
}
ASN1_STRING* X509_NAME_ENTRY_get_data(const X509_NAME_ENTRY* ne) {
    return pass<"X509_NAME_ENTRY_get_data", decltype(X509_NAME_ENTRY_get_data)>(
        static_cast<ASN1_STRING*>(nullptr), ne);
}
ASN1_OBJECT* X509_NAME_ENTRY_get_object(const X509_NAME_ENTRY* ne) {
    return pass<"X509_NAME_ENTRY_get_object", decltype(X509_NAME_ENTRY_get_object)>(
        static_cast<ASN1_OBJECT*>(nullptr), ne);
}
int X509_NAME_entry_count(const X509_NAME* name) {
    return pass<"X509_NAME_entry_count", decltype(X509_NAME_entry_count)>(0, name);
}
X509_NAME_ENTRY* X509_NAME_get_entry(const X509_NAME* name, int loc) {
    return pass<"X509_NAME_get_entry", decltype(X509_NAME_get_entry)>(
        static_cast<X509_NAME_ENTRY*>(nullptr), name, loc);
}
int X509_NAME_get_index_by_NID(const X509_NAME* name, int nid, int lastpos) {
    return pass<"X509_NAME_get_index_by_NID", decltype(X509_NAME_get_index_by_NID)>(-2, name, nid,
                                                                                    lastpos);
}
void X509_STORE_CTX_free(X509_STORE_CTX* ctx) {
    if (auto* function = resolved<"X509_STORE_CTX_free", decltype(X509_STORE_CTX_free)>())
        function(ctx);
}
STACK_OF(X509) * X509_STORE_CTX_get0_chain(const X509_STORE_CTX* ctx) {
    return pass<"X509_STORE_CTX_get0_chain", decltype(X509_STORE_CTX_get0_chain)>(
        static_cast<STACK_OF(X509)*>(nullptr), ctx);
}
X509_VERIFY_PARAM* X509_STORE_CTX_get0_param(const X509_STORE_CTX* ctx) {
    return pass<"X509_STORE_CTX_get0_param", decltype(X509_STORE_CTX_get0_param)>(
        static_cast<X509_VERIFY_PARAM*>(nullptr), ctx);
}
X509* X509_STORE_CTX_get_current_cert(const X509_STORE_CTX* ctx) {
    return pass<"X509_STORE_CTX_get_current_cert", decltype(X509_STORE_CTX_get_current_cert)>(
        static_cast<X509*>(nullptr), ctx);
}
int X509_STORE_CTX_get_error(const X509_STORE_CTX* ctx) {
    return pass<"X509_STORE_CTX_get_error", decltype(X509_STORE_CTX_get_error)>(
        X509_V_ERR_UNSPECIFIED, ctx);
}
int X509_STORE_CTX_init(X509_STORE_CTX* ctx, X509_STORE* trust_store, X509* target,
                        STACK_OF(X509) * untrusted) {
    return pass<"X509_STORE_CTX_init", decltype(X509_STORE_CTX_init)>(0, ctx, trust_store, target,
                                                                      untrusted);
}
X509_STORE_CTX* X509_STORE_CTX_new() {
    return pass<"X509_STORE_CTX_new", decltype(X509_STORE_CTX_new)>(
        static_cast<X509_STORE_CTX*>(nullptr));
}
void X509_STORE_CTX_set_error(X509_STORE_CTX* ctx, int s) {
    if (auto* function = resolved<"X509_STORE_CTX_set_error", decltype(X509_STORE_CTX_set_error)>())
        function(ctx, s);
}
void X509_STORE_CTX_set_verify_cb(X509_STORE_CTX* ctx, X509_STORE_CTX_verify_cb verify) {
    if (auto* function =
            resolved<"X509_STORE_CTX_set_verify_cb", decltype(X509_STORE_CTX_set_verify_cb)>())
        function(ctx, verify);
}
int X509_STORE_add_cert(X509_STORE* ctx, X509* x) {
    return pass<"X509_STORE_add_cert", decltype(X509_STORE_add_cert)>(0, ctx, x);
}
void X509_STORE_free(X509_STORE* v) {
    if (auto* function = resolved<"X509_STORE_free", decltype(X509_STORE_free)>()) function(v);
}
X509_STORE* X509_STORE_new() {
    return pass<"X509_STORE_new", decltype(X509_STORE_new)>(static_cast<X509_STORE*>(nullptr));
}
void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM* param, int depth) {
    if (auto* function =
            resolved<"X509_VERIFY_PARAM_set_depth", decltype(X509_VERIFY_PARAM_set_depth)>())
        function(param, depth);
}
void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM* param, time_t t) {
    if (auto* function =
            resolved<"X509_VERIFY_PARAM_set_time", decltype(X509_VERIFY_PARAM_set_time)>())
        function(param, t);
}
int X509_check_issued(X509* issuer, X509* subject) {
    return pass<"X509_check_issued", decltype(X509_check_issued)>(X509_V_ERR_UNSPECIFIED, issuer,
                                                                  subject);
}
int X509_check_purpose(X509* x, int id, int ca) {
    return pass<"X509_check_purpose", decltype(X509_check_purpose)>(0, x, id, ca);
}
int X509_digest(const X509* data, const EVP_MD* type, unsigned char* md, unsigned int* len) {
    return pass<"X509_digest", decltype(X509_digest)>(0, data, type, md, len);
}
void X509_free(X509* a) {
    if (auto* function = resolved<"X509_free", decltype(X509_free)>()) function(a);
}
const ASN1_TIME* X509_get0_notAfter(const X509* x) {
    return pass<"X509_get0_notAfter", decltype(X509_get0_notAfter)>(
        static_cast<const ASN1_TIME*>(nullptr), x);
}
const ASN1_TIME* X509_get0_notBefore(const X509* x) {
    return pass<"X509_get0_notBefore", decltype(X509_get0_notBefore)>(
        static_cast<const ASN1_TIME*>(nullptr), x);
}
EVP_PKEY* X509_get0_pubkey(const X509* x) {
    return pass<"X509_get0_pubkey", decltype(X509_get0_pubkey)>(static_cast<EVP_PKEY*>(nullptr), x);
}
X509_EXTENSION* X509_get_ext(const X509* x, int loc) {
    return pass<"X509_get_ext", decltype(X509_get_ext)>(static_cast<X509_EXTENSION*>(nullptr), x,
                                                        loc);
}
int X509_get_ext_count(const X509* x) {
    return pass<"X509_get_ext_count", decltype(X509_get_ext_count)>(0, x);
}
void* X509_get_ext_d2i(const X509* x, int nid, int* crit, int* idx) {
    return pass<"X509_get_ext_d2i", decltype(X509_get_ext_d2i)>(static_cast<void*>(nullptr), x, nid,
                                                                crit, idx);
}
X509_NAME* X509_get_subject_name(const X509* a) {
    return pass<"X509_get_subject_name", decltype(X509_get_subject_name)>(
        static_cast<X509_NAME*>(nullptr), a);
}
int X509_supported_extension(X509_EXTENSION* ex) {
    return pass<"X509_supported_extension", decltype(X509_supported_extension)>(0, ex);
}
int X509_up_ref(X509* x) {
    return pass<"X509_up_ref", decltype(X509_up_ref)>(0, x);
}
int X509_verify_cert(X509_STORE_CTX* ctx) {
    return pass<"X509_verify_cert", decltype(X509_verify_cert)>(-1, ctx);
}
ASN1_OBJECT* d2i_ASN1_OBJECT(ASN1_OBJECT** a, const unsigned char** in, long len) {
    return pass<"d2i_ASN1_OBJECT", decltype(d2i_ASN1_OBJECT)>(static_cast<ASN1_OBJECT*>(nullptr), a,
                                                              in, len);
}
ASN1_OCTET_STRING* d2i_ASN1_OCTET_STRING(ASN1_OCTET_STRING** a, const unsigned char** in,
                                         long len) {
    return pass<"d2i_ASN1_OCTET_STRING", decltype(d2i_ASN1_OCTET_STRING)>(
        static_cast<ASN1_OCTET_STRING*>(nullptr), a, in, len);
}
CMS_ContentInfo* d2i_CMS_ContentInfo(CMS_ContentInfo** a, const unsigned char** in, long len) {
    return pass<"d2i_CMS_ContentInfo", decltype(d2i_CMS_ContentInfo)>(
        static_cast<CMS_ContentInfo*>(nullptr), a, in, len);
}
TS_TST_INFO* d2i_TS_TST_INFO(TS_TST_INFO** a, const unsigned char** in, long len) {
    return pass<"d2i_TS_TST_INFO", decltype(d2i_TS_TST_INFO)>(static_cast<TS_TST_INFO*>(nullptr), a,
                                                              in, len);
}
X509* d2i_X509(X509** a, const unsigned char** in, long len) {
    return pass<"d2i_X509", decltype(d2i_X509)>(static_cast<X509*>(nullptr), a, in, len);
}
int i2d_X509(const X509* a, unsigned char** out) {
    return pass<"i2d_X509", decltype(i2d_X509)>(-1, a, out);
}

}  // extern "C"
