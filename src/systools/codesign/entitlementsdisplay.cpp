#include "systools/codesign/entitlementsdisplay.h"

#include <fstream>

#include "format/codesig/csblobs.h"

namespace varko::codesign {

std::string writeEntitlements(const codesig::SuperBlob& signature, const std::string& destination,
                              std::ostream& out) {
    auto payload = signature.entitlements();
    if (!payload) return payload.error().message;
    if (!*payload) return {};
    const bool bare = !destination.empty() && destination.front() == ':';
    const std::string target = bare ? destination.substr(1) : destination;
    const auto bytes =
        bare ? **payload : signature.blob(*signature.find(codesig::CSSLOT_ENTITLEMENTS));
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    if (target == "-") {
        out.write(chars, static_cast<std::streamsize>(bytes.size()));
        out.flush();
        return out ? std::string() : std::string("cannot write the entitlements");
    }
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    file.write(chars, static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file ? std::string() : target + ": cannot write the entitlements";
}

}  // namespace varko::codesign
