// The CMS reader on arbitrary bytes, BER and DER alike: it must refuse or read, never crash,
// and what it reads must survive being read again for the signer check.
#include <cstddef>
#include <cstdint>
#include <span>

#include "signing/cms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = std::as_bytes(std::span(data, size));
    const auto cms = varko::signing::parseCms(bytes);
    if (cms && !cms->certificates.empty())
        (void)varko::signing::verifySigner(*cms, bytes.first(size / 2));
    return 0;
}
