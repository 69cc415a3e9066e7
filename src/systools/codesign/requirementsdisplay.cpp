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
    if (const codesig::BlobEntry* e = sb.find(codesig::CSSLOT_REQUIREMENTS)) {
        auto set = codesig::requirementSetText(sb.blob(*e));
        if (!set) return set.error();
        text = std::move(*set);
    }
    auto designated = designatedRequirement(code, location, signing::TrustAnchors::apple());
    if (!designated) return designated.error();
    if (designated->implicit && !designated->text.empty())
        text += "# designated => " + designated->text + "\n";
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
