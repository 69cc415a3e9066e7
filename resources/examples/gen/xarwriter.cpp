#include "gen/xarwriter.h"

#include <openssl/evp.h>
#include <zlib.h>

#include "gen/bytebuffer.h"

namespace varko::examplegen {

namespace {

std::string base64(const std::vector<unsigned char>& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string keyInfo(const std::vector<const TestIdentity*>& certs) {
    std::string out = "<KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><X509Data>";
    for (const TestIdentity* c : certs) out += "<X509Certificate>" + base64(c->certificate) + "</X509Certificate>";
    return out + "</X509Data></KeyInfo>";
}

}  // namespace

std::vector<std::byte> makeXar(const std::string& files, const std::optional<XarSigning>& signing,
                               const std::string& checksumStyle) {
    const EVP_MD* md = EVP_get_digestbyname(checksumStyle.c_str());
    const std::size_t checksumSize = static_cast<std::size_t>(EVP_MD_get_size(md));
    std::string toc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar><toc><checksum style=\"" + checksumStyle +
                      "\"><offset>0</offset><size>" + std::to_string(checksumSize) + "</size></checksum>";
    std::size_t signatureSize = 0;
    if (signing) {
        signatureSize = signing->cms ? signing->cmsReserve : static_cast<std::size_t>(EVP_PKEY_get_size(signing->signer->key.get()));
        toc += std::string(signing->cms ? "<x-signature style=\"CMS\">" : "<signature style=\"RSA\">") + "<offset>" +
               std::to_string(checksumSize) + "</offset><size>" + std::to_string(signatureSize) + "</size>" +
               keyInfo(signing->certificates) + (signing->cms ? "</x-signature>" : "</signature>");
    }
    toc += files + "</toc></xar>\n";
    std::vector<unsigned char> packed(compressBound(static_cast<uLong>(toc.size())));
    uLongf packedSize = static_cast<uLongf>(packed.size());
    compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(toc.data()), static_cast<uLong>(toc.size()));
    packed.resize(packedSize);
    std::vector<std::byte> checksum(checksumSize);
    unsigned int n = 0;
    EVP_Digest(packed.data(), packed.size(), reinterpret_cast<unsigned char*>(checksum.data()), &n, md, nullptr);

    ByteBuffer b;
    b.be32(0x78617221);
    b.u8(0);
    b.u8(28);
    b.u8(0);
    b.u8(1);
    b.be64(packed.size());
    b.be64(toc.size());
    b.be32(checksumStyle == "sha1" ? 1 : 3);
    b.append(std::as_bytes(std::span(packed)));
    b.append(checksum);
    if (signing) {
        std::vector<std::byte> signature;
        if (signing->cms) {
            signature = signCms(checksum, signing->cmsRequest);
            signature.resize(signatureSize);
        } else {
            signature = signDigest(*signing->signer, checksum, checksumStyle.c_str());
        }
        b.append(signature);
    }
    return std::move(b).take();
}

}  // namespace varko::examplegen
