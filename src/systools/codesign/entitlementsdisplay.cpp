#include "systools/codesign/entitlementsdisplay.h"

#include <fstream>

#include "format/codesig/csblobs.h"

namespace varko::codesign {

Expected<void> writeEntitlements(const codesig::SuperBlob& signature,
                                 const std::string& destination, std::ostream& out) {
    auto payload = signature.entitlements();
    if (!payload) return payload.error();
    if (!*payload) return {};
    const bool bare = !destination.empty() && destination.front() == ':';
    const std::string target = bare ? destination.substr(1) : destination;
    const auto bytes =
        bare ? **payload : signature.blob(*signature.find(codesig::CSSLOT_ENTITLEMENTS));
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
