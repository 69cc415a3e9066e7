#include "systools/codesign/requirementsdisplay.h"

#include <fstream>

#include "format/codesig/csblobs.h"
#include "format/codesig/requirement.h"
#include "signature/designatedrequirement.h"
#include "signing/trust.h"

namespace varko::codesign {

Expected<void> writeRequirements(const CodeObject& code, const CodeLocation& location,
                                 const std::string& destination, std::ostream& out) {
    const codesig::SuperBlob& sb = *code.signature;
    std::string text;
    bool designated = false;
    if (const codesig::BlobEntry* e = sb.find(codesig::CSSLOT_REQUIREMENTS)) {
        auto set = codesig::requirementSetText(sb.blob(*e));
        if (!set) return set.error();
        text = std::move(*set);
        designated =
            codesig::requirementSetHas(sb.blob(*e), codesig::kSecDesignatedRequirementType);
    }
    if (!designated) {
        auto implicit =
            implicitDesignatedRequirement(code, location, signing::TrustAnchors::apple());
        if (!implicit) return implicit.error();
        if (!implicit->empty()) text += "# designated => " + *implicit + "\n";
    }
    if (destination == "-") {
        out << text;
        out.flush();
        if (!out) return Error{0, "cannot write the requirements", ErrorCode::unwritable};
        return {};
    }
    std::ofstream file(destination, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        return Error{0, destination + ": cannot write the requirements", ErrorCode::unwritable};
    return {};
}

}  // namespace varko::codesign
