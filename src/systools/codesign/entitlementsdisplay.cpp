#include "systools/codesign/entitlementsdisplay.h"

#include <fstream>
#include <vector>

#include "format/codesig/csblobs.h"
#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"

namespace varko::codesign {

namespace {

/// The XML blob the Security framework makes from the DER form: its usual header, then the XML.
Expected<std::vector<std::byte>> fromDer(std::span<const std::byte> der) {
    auto dict = codesig::parseDerEntitlements(der);
    if (!dict) return dict.error();
    const std::string xml = plist::writeXml(plist::Value(std::move(*dict)));
    const auto length = static_cast<std::uint32_t>(xml.size() + sizeof(codesig::CS_GenericBlob));
    std::vector<std::byte> blob;
    blob.reserve(length);
    for (const std::uint32_t word : {codesig::CSMAGIC_EMBEDDED_ENTITLEMENTS, length})
        for (int shift = 24; shift >= 0; shift -= 8) blob.push_back(std::byte(word >> shift));
    const auto text = std::as_bytes(std::span(xml.data(), xml.size()));
    blob.insert(blob.end(), text.begin(), text.end());
    return blob;
}

}  // namespace

Expected<void> writeEntitlements(const codesig::SuperBlob& signature,
                                 const std::string& destination, std::ostream& out) {
    auto der = signature.derEntitlements();
    if (!der) return der.error();
    std::vector<std::byte> made;
    std::span<const std::byte> blob;
    if (*der) {
        auto converted = fromDer(**der);
        if (!converted) return converted.error();
        made = std::move(*converted);
        blob = made;
    } else {
        auto xml = signature.entitlements();
        if (!xml) return xml.error();
        if (!*xml) return {};
        blob = signature.blob(*signature.find(codesig::CSSLOT_ENTITLEMENTS));
    }
    const bool bare = !destination.empty() && destination.front() == ':';
    const std::string target = bare ? destination.substr(1) : destination;
    const auto bytes = bare ? blob.subspan(sizeof(codesig::CS_GenericBlob)) : blob;
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    if (target == "-") {
        out.write(chars, static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) return Error{0, "cannot write the entitlements", ErrorCode::unreadable};
        return {};
    }
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    file.write(chars, static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) return Error{0, target + ": cannot write the entitlements", ErrorCode::unreadable};
    return {};
}

}  // namespace varko::codesign
