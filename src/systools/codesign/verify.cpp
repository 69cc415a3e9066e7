#include "systools/codesign/verify.h"

#include <algorithm>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/codesig/requirement.h"
#include "format/itemfile.h"
#include "format/visibletext.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/designatedrequirement.h"
#include "signature/requirementeval.h"
#include "signing/cms.h"

namespace varko::codesign {

namespace {

constexpr const char* reqFailed = "code failed to satisfy specified code requirement(s)";

std::optional<std::uint32_t> magicOf(std::span<const std::byte> bytes) {
    return ByteReader(bytes).u32be(0);
}

/// The -R argument compiled: text after '=', else a file holding a compiled requirement or
/// its text. One requirement, not a set.
Expected<std::vector<std::byte>> testRequirement(const std::string& argument) {
    auto compiled = [&]() -> Expected<std::vector<std::byte>> {
        if (argument.starts_with("=")) return codesig::compileRequirement(argument.substr(1));
        auto bytes = readSmallFile(argument, codesig::maxRequirementTextBytes);
        if (!bytes) return bytes.error();
        const auto magic = magicOf(*bytes);
        if (magic == codesig::CSMAGIC_REQUIREMENT || magic == codesig::CSMAGIC_REQUIREMENTS)
            return std::move(*bytes);
        return codesig::compileRequirement(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }();
    if (compiled && magicOf(*compiled) != codesig::CSMAGIC_REQUIREMENT)
        return Error{0, "it is a requirement set, not one requirement", ErrorCode::malformed};
    return compiled;
}

/// One slice checked, and what its requirements are judged against.
struct CheckedSlice {
    RequirementContext context;
    std::vector<std::byte> designated;  ///< empty: nothing to check it against
};

Expected<CheckedSlice> checkSlice(const CodeObject& code, const CodeLocation& location,
                                  const signing::TrustAnchors& anchors, std::int64_t now) {
    if (!code.signature) return Error{0, "code object is not signed at all", ErrorCode::missing};
    if (auto slice = verifySlice(code, location); !slice) return slice.error();
    auto chain = verifiedChain(code, anchors, now);
    if (!chain) return chain.error();
    CheckedSlice out;
    auto context = requirementContext(code, location, std::move(*chain), anchors);
    if (!context) return context.error();
    out.context = std::move(*context);
    // The signature's own designated requirement, else the one the platform makes up.
    if (const auto* e = code.signature->find(codesig::CSSLOT_REQUIREMENTS)) {
        const auto blob = code.signature->blob(*e);
        if (auto entry =
                codesig::requirementSetEntry(blob, codesig::kSecDesignatedRequirementType)) {
            out.designated.assign(entry->begin(), entry->end());
            return out;
        }
    }
    auto implicit = implicitDesignatedRequirement(code, location, anchors);
    if (!implicit) return implicit.error();
    if (!implicit->empty()) {
        auto compiled = codesig::compileRequirement(*implicit);
        if (!compiled) return compiled.error();
        out.designated = std::move(*compiled);
    }
    return out;
}

}  // namespace

int verifyItem(const Options& options, const signing::TrustAnchors& anchors, std::int64_t now,
               std::ostream& err) {
    const std::string shownPath = visibleControls(options.path);
    const auto say = [&](const std::string& what) {
        err << shownPath << ": " << visibleControls(what) << '\n';
    };
    std::optional<std::vector<std::byte>> test;
    if (options.testRequirement) {
        auto compiled = testRequirement(*options.testRequirement);
        if (compiled && (compiled->size() < 4 || std::to_integer<unsigned>((*compiled)[3]) != 0))
            compiled =
                Error{0, "it is a requirement set, not one requirement", ErrorCode::malformed};
        if (!compiled) {
            err << "varko-codesign: test requirement: " << visibleControls(compiled.error().message)
                << '\n';
            return verifiedUsage;
        }
        test = std::move(*compiled);
    }
    const auto located = locateCode(options.path);
    if (!located) return say(located.error().message), verifiedInvalid;
    auto slices = loadEverySlice(*located);
    if (!slices) {
        const Error& e = slices.error();
        if (e.code == ErrorCode::unsupported) return say(unrecognizedBundle), verifiedInvalid;
        return say(e.message), verifiedInvalid;
    }
    // -a picks the one slice to verify, as it picks the one to show.
    if (options.architecture) {
        const auto wanted = macho::parseArchitecture(*options.architecture);
        if (!wanted) return say("unknown architecture " + *options.architecture), verifiedInvalid;
        std::erase_if(*slices, [&](const CodeObject& c) {
            return !wanted->matches(c.slice.cpuType, c.slice.cpuSubtype);
        });
        if (slices->empty())
            return say("the executable has no code for architecture " + *options.architecture),
                   verifiedInvalid;
    }
    if (slices->empty()) return say("code object is not signed at all"), verifiedInvalid;
    std::vector<CheckedSlice> checked;
    for (const CodeObject& code : *slices) {
        auto slice = checkSlice(code, *located, anchors, now);
        if (!slice) {
            say(slice.error().message);
            if (slices->size() > 1) err << "In architecture: " << code.slice.archName() << '\n';
            return verifiedInvalid;
        }
        checked.push_back(std::move(*slice));
    }
    if (auto bundle = verifyBundle(*located); !bundle)
        return say(bundle.error().message), verifiedInvalid;
    if (options.verbose > 0) say("valid on disk");

    // Every slice must meet it; what cannot be known here does not.
    const auto meets = [&](const std::vector<std::byte>& requirement,
                           const CheckedSlice& slice) -> Expected<RequirementOutcome> {
        return evaluateRequirement(requirement, slice.context);
    };
    const auto noteUnknowns = [&](const RequirementOutcome& outcome) {
        if (options.verbose > 0)
            for (const std::string& why : outcome.unknowns) say("note: not established: " + why);
    };
    for (const CheckedSlice& slice : checked) {
        if (slice.designated.empty()) continue;
        auto outcome = meets(slice.designated, slice);
        if (!outcome) return say(outcome.error().message), verifiedInvalid;
        if (!outcome->satisfied()) {
            noteUnknowns(*outcome);
            say("does not satisfy its designated Requirement");
            return verifiedUnsatisfied;
        }
    }
    if (options.verbose > 0) say("satisfies its Designated Requirement");
    if (!test) return verifiedValid;
    for (const CheckedSlice& slice : checked) {
        auto outcome = meets(*test, slice);
        if (!outcome) {
            err << "test-requirement: " << visibleControls(outcome.error().message) << '\n';
            return verifiedUnsatisfied;
        }
        if (!outcome->satisfied()) {
            noteUnknowns(*outcome);
            err << "test-requirement: " << reqFailed << '\n';
            return verifiedUnsatisfied;
        }
    }
    if (options.verbose > 0) say("explicit requirement satisfied");
    return verifiedValid;
}

}  // namespace varko::codesign
