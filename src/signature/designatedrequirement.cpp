#include "signature/designatedrequirement.h"

#include <algorithm>

#include "format/codesig/csblobs.h"
#include "format/codesig/requirement.h"
#include "signature/codehash.h"
#include "signature/codeverifier.h"
#include "signing/cms.h"

namespace varko::codesign {

namespace {

using codesig::RequirementMaker;

// Apple's extension markers: of an iOS-style intermediate, of a Developer ID intermediate
// and of a Developer ID leaf, in DER.
constexpr unsigned char appleArc[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x63, 0x64, 0x06};
constexpr const char* adcMarker = "1.2.840.113635.100.6.2.1";
constexpr const char* developerIdCaMarker = "1.2.840.113635.100.6.2.6";

std::vector<std::byte> marker(std::uint8_t kind, std::uint8_t number) {
    std::vector<std::byte> oid;
    for (const unsigned char b : appleArc) oid.push_back(std::byte{b});
    oid.push_back(std::byte{kind});
    oid.push_back(std::byte{number});
    return oid;
}

/// Every code directory's cdhash, in the order of its hash type.
Expected<std::vector<std::vector<unsigned char>>> cdhashes(const CodeObject& code) {
    auto found = codeDirectories(*code.signature);
    if (!found) return found.error();
    std::vector<std::pair<std::uint8_t, std::vector<unsigned char>>> typed;
    for (std::size_t i = 0; i < found->all.size(); ++i) {
        auto full = directoryDigest(code, found->slotNumbers[i], found->all[i]);
        if (full.empty())
            return Error{0, "a code directory could not be hashed", ErrorCode::unsupported};
        full.resize(std::min<std::size_t>(full.size(), 20));
        typed.emplace_back(found->all[i].hashType, std::move(full));
    }
    std::stable_sort(typed.begin(), typed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::vector<unsigned char>> out;
    for (auto& t : typed) out.push_back(std::move(t.second));
    return out;
}

/// Ad hoc code is named by its cdhashes, this slice's first, then the other slices' in the
/// order of their CPU type and subtype.
Expected<std::vector<std::byte>> adhocRequirement(const CodeObject& code,
                                                  const CodeLocation& location) {
    auto hashes = cdhashes(code);
    if (!hashes) return hashes.error();
    if (code.universal) {
        auto slices = loadEverySlice(location, SignatureRead::WithoutPageHashes);
        if (!slices) return slices.error();
        const auto key = [](const CodeObject& c) {
            return std::pair(static_cast<std::int32_t>(c.slice.cpuType),
                             static_cast<std::int32_t>(c.slice.cpuSubtype));
        };
        std::sort(slices->begin(), slices->end(),
                  [&](const CodeObject& a, const CodeObject& b) { return key(a) < key(b); });
        for (const CodeObject& other : *slices) {
            if (other.slice.fileOffset == code.slice.fileOffset || !other.signature) continue;
            auto more = cdhashes(other);
            if (!more) return more.error();
            hashes->insert(hashes->end(), more->begin(), more->end());
        }
    }
    RequirementMaker maker;
    for (std::size_t i = 0; i < hashes->size(); ++i) {
        if (i + 1 < hashes->size()) maker.word(codesig::opOr);
        maker.word(codesig::opCDHash).data(std::as_bytes(std::span((*hashes)[i])));
    }
    return maker.make();
}

/// The signer as its certificates name it: under an Apple root by Apple's markers, else by
/// the hash of the highest certificate that still carries the leaf's organization.
std::vector<std::byte> signerRequirement(const std::string& identifier,
                                         std::span<const signing::Certificate> chain,
                                         const signing::TrustAnchors& appleRoots) {
    RequirementMaker maker;
    maker.word(codesig::opAnd).word(codesig::opIdent).text(identifier);
    const auto& leaf = chain.front();
    const bool appleRoot = appleRoots.contains(chain.back().fingerprint);
    if (appleRoot && chain.size() == 3 && chain[1].hasMarker(adcMarker)) {
        maker.word(codesig::opAnd).word(codesig::opAppleGenericAnchor).word(codesig::opAnd);
        maker.word(codesig::opCertField).word(codesig::leafCertificate).text("subject.CN");
        maker.word(codesig::matchEqual).text(leaf.commonName);
        maker.word(codesig::opCertGeneric).word(1).data(marker(2, 1));
        maker.word(codesig::matchExists);
    } else if (appleRoot && chain.size() == 3 && chain[1].hasMarker(developerIdCaMarker)) {
        maker.word(codesig::opAnd).word(codesig::opAppleGenericAnchor).word(codesig::opAnd);
        maker.word(codesig::opCertGeneric).word(1).data(marker(2, 6));
        maker.word(codesig::matchExists).word(codesig::opAnd);
        maker.word(codesig::opCertGeneric).word(codesig::leafCertificate).data(marker(1, 13));
        maker.word(codesig::matchExists);
        maker.word(codesig::opCertField).word(codesig::leafCertificate).text("subject.OU");
        maker.word(codesig::matchEqual).text(leaf.organizationalUnit);
    } else if (appleRoot) {
        maker.word(codesig::opAppleAnchor);
    } else {
        std::size_t slot = 0;
        if (!leaf.organization.empty())
            while (slot + 1 < chain.size() && chain[slot + 1].organization == leaf.organization)
                ++slot;
        const bool atRoot = !leaf.organization.empty() && slot == chain.size() - 1;
        const auto& der = chain[slot].der;
        const auto sha1 = digest(*hashKind(codesig::CS_HASHTYPE_SHA1),
                                 std::as_bytes(std::span(der.data(), der.size())));
        maker.word(codesig::opAnchorHash)
            .word(atRoot ? codesig::anchorCertificate : static_cast<std::uint32_t>(slot))
            .data(std::as_bytes(std::span(sha1)));
    }
    return maker.make();
}

}  // namespace

Expected<std::string> implicitDesignatedRequirement(const CodeObject& code,
                                                    const CodeLocation& location,
                                                    const signing::TrustAnchors& appleRoots) {
    auto found = codeDirectories(*code.signature);
    if (!found) return found.error();
    const codesig::CodeDirectory& cd = found->chosen();
    std::vector<std::byte> blob;
    if (cd.flags & codesig::CS_ADHOC) {
        auto made = adhocRequirement(code, location);
        if (!made) return made.error();
        blob = std::move(*made);
    } else {
        auto cmsBlob = code.signature->cmsSignature();
        if (!cmsBlob) return cmsBlob.error();
        if (!*cmsBlob || (*cmsBlob)->empty()) return std::string();
        const auto cmsShared = signing::parseCmsShared(**cmsBlob);
        const Expected<signing::CmsSignature>& cms = *cmsShared;
        if (!cms) return cms.error();
        if (cms->chain().empty()) return std::string();
        blob = signerRequirement(cd.identifier, cms->chain(), appleRoots);
    }
    return codesig::requirementText(blob);
}

Expected<DesignatedRequirement> designatedRequirement(const CodeObject& code,
                                                      const CodeLocation& location,
                                                      const signing::TrustAnchors& appleRoots) {
    if (const auto* e = code.signature->find(codesig::CSSLOT_REQUIREMENTS))
        if (auto entry = codesig::requirementSetEntry(code.signature->blob(*e),
                                                      codesig::kSecDesignatedRequirementType)) {
            auto text = codesig::requirementText(*entry);
            if (!text) return text.error();
            return DesignatedRequirement{std::move(*text), false};
        }
    auto implicit = implicitDesignatedRequirement(code, location, appleRoots);
    if (!implicit) return implicit.error();
    return DesignatedRequirement{std::move(*implicit), true};
}

}  // namespace varko::codesign
