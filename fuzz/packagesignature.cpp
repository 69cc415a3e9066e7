// An installer package's checksum, signature and chain from hostile bytes. The archive's
// KeyInfo certificates, but the first, are pinned as roots, so that a chain can be trusted
// and the checks after it run; the verdict must then be consistent in itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "format/macho/bytesource.h"
#include "format/xar/xar.h"
#include "package/packagesignature.h"
#include "scratch.h"
#include "signing/cms.h"

using namespace varko;
using Kind = spctl::PackageVerdict::Kind;

namespace {

constexpr std::int64_t jan2024 = 1704067200;

signing::TrustAnchors keyInfoRoots(std::span<const std::byte> bytes) {
    signing::TrustAnchors anchors;
    const macho::MemorySource source(bytes);
    const auto archive = xar::Archive::open(source);
    if (!archive) return anchors;
    for (const auto* signature : {&archive->signature, &archive->cmsSignature}) {
        if (!*signature) continue;
        const auto& certificates = (*signature)->certificates;
        for (std::size_t i = 1; i < certificates.size(); ++i)
            if (auto c = signing::describeCertificate(certificates[i]))
                anchors.roots.push_back(c->fingerprint);
    }
    return anchors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto anchors = keyInfoRoots(std::as_bytes(std::span(data, size)));
    const auto path = fuzzing::scratchFile("fuzz.pkg", std::span(data, size));
    const auto verified = spctl::verifyPackage(path, anchors, jan2024);
    if (!verified) {
        if (verified.error().message.empty()) std::abort();
        return 0;
    }
    const spctl::PackageVerdict& v = *verified;
    switch (v.kind) {
        case Kind::Trusted:
            // A pinned leaf is refused, so a trusted chain has an issuer above its leaf.
            if (!v.check || v.chain.size() < 2 || !anchors.contains(v.chain.back().fingerprint))
                std::abort();
            break;
        case Kind::Untrusted:
            if (v.check || v.check.error().message.rfind("CSSMERR_", 0) != 0) std::abort();
            break;
        case Kind::Invalid:
            if (v.check || v.check.error().message.empty() ||
                v.check.error().code == ErrorCode::untrusted)
                std::abort();
            [[fallthrough]];
        case Kind::Unsigned:
            if (v.timestamp || v.authority != signing::Authority::Unknown) std::abort();
            break;
    }
    if (v.timestamp && v.kind != Kind::Trusted) std::abort();
    return 0;
}
