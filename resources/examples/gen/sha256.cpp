#include "gen/sha256.h"

#include <openssl/evp.h>

namespace varko::examplegen {

Sha256Digest sha256(std::span<const std::byte> bytes) {
    Sha256Digest out{};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(out.data()), &length,
               EVP_sha256(), nullptr);
    return out;
}

}  // namespace varko::examplegen
