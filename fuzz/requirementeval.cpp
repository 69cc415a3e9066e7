// The requirement evaluator over hostile programs, against code with a chain, an Info.plist
// and entitlements: it must end with an outcome or a reason, and never claim notarization.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "signature/requirementeval.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const varko::codesign::RequirementContext context = [] {
        varko::codesign::RequirementContext c;
        c.hasDirectory = true;
        c.identifier = "com.example.app";
        c.cdhash.assign(20, 0xab);
        varko::plist::Dictionary info;
        info.set("CFBundleVersion", "1.2.3");
        info.set("List", varko::plist::Array{"a", varko::plist::Array{"b", true}});
        c.info = info;
        c.entitlements = info;
        varko::signing::Certificate leaf;
        leaf.commonName = "Leaf";
        leaf.organizationalUnit = "TEAM";
        leaf.appleMarkers = {"1.2.840.113635.100.6.1.13"};
        leaf.extensionOids = {"1.2.840.113635.100.6.1.13", "2.5.29.37"};
        leaf.policyOids = {"1.2.840.113635.100.5.1"};
        leaf.subjectAttributes = {{"2.5.4.3", "Leaf"}, {"2.5.4.11", "TEAM"}};
        c.chain = {leaf, varko::signing::Certificate{}};
        c.appleRoots.roots.push_back(c.chain.back().fingerprint);
        return c;
    }();
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    const auto outcome = varko::codesign::evaluateRequirement(bytes, context);
    // A lone `notarized` can never be established here.
    if (outcome && size >= 16 && outcome->satisfied() && data[12] == 0 && data[13] == 0 &&
        data[14] == 0 && data[15] == 21 && size == 16)
        std::abort();
    return 0;
}
