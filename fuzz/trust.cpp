// The certificate chain, timestamp and authority checks over what the CMS reader accepts.
// Input: one byte of content length, the signed content, then the CMS signature. Every
// certificate the signature carries but its signer's is pinned as a root, so that a chain
// can be trusted and the checks after it run; what they trust must then hold up.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "signing/cms.h"
#include "signing/trust.h"

using namespace varko::signing;

namespace {

constexpr std::int64_t jan2024 = 1704067200;

void checkTrusted(const std::vector<Certificate>& chain, const Certificate& leaf,
                  const TrustAnchors& anchors) {
    // A pinned leaf is refused, so a trusted chain always has an issuer above its leaf.
    if (chain.size() < 2 || chain.size() > maxCertificates + 1) std::abort();
    if (chain.front().fingerprint != leaf.fingerprint) std::abort();
    if (!anchors.contains(chain.back().fingerprint)) std::abort();
    (void)classify(chain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto bytes = std::as_bytes(std::span(data, size)).subspan(1);
    const auto content = bytes.first(std::min<std::size_t>(data[0], bytes.size()));
    const auto cms = parseCms(bytes.subspan(content.size()));
    if (!cms) return 0;

    TrustAnchors anchors;
    for (std::size_t i = 1; i < cms->certificates.size(); ++i)
        anchors.roots.push_back(cms->certificates[i].fingerprint);
    const Certificate& leaf = cms->certificates.front();
    (void)classify(cms->chain());

    const auto verdict = verifyCmsSignature(*cms, content, anchors, jan2024);
    if (verdict) checkTrusted(verdict->chain, leaf, anchors);
    // The chain on its own too, so that inputs whose signature no longer verifies reach it.
    const auto others = std::span(cms->certificates).subspan(1);
    for (const std::int64_t at :
         {jan2024, cms->signingTime.value_or(0), cms->timestamp.value_or(-1)})
        if (auto chain = verifyChain(leaf, others, anchors, at))
            checkTrusted(*chain, leaf, anchors);
    if (cms->timestamp) (void)verifyTimestamp(*cms, anchors);
    return 0;
}
