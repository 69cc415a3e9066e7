#include "overview/componentcheck.h"

#include <QString>
#include <chrono>
#include <ctime>
#include <vector>

#include "tools/pathbytes.h"

#include "signature/assessment.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/designatedrequirement.h"
#include "signature/hashbudget.h"
#include "signing/cms.h"

namespace varko::overview {

namespace {

// Gatekeeper judges apps alone; for a component inside one this says nothing.
// Checks of one item at once; more only take turns at the disk.
constexpr unsigned maxCheckThreads = 4;
constexpr std::string_view notAnApp = "the code is valid but does not seem to be an app";
constexpr const char* notSigned = "code object is not signed at all";
// The trust errors' common prefix, in the platform's words.
constexpr std::string_view untrustedPrefix = "CSSMERR_TP_";

/// Who signed a slice, by its CMS signature over its first code directory and the chain
/// to `anchors`; whether the code still matches that directory is the validity's business.
std::optional<signing::SignatureVerdict> signerOf(const codesign::CodeObject& slice,
                                                  const signing::TrustAnchors& anchors,
                                                  std::int64_t now) {
    if (!slice.signature) return std::nullopt;
    const auto blob = slice.signature->cmsSignature();
    if (!blob || !*blob || (*blob)->empty()) return std::nullopt;
    const auto cmsShared = signing::parseCmsShared(**blob);
    const Expected<signing::CmsSignature>& cms = *cmsShared;
    const auto directories = codesign::codeDirectories(*slice.signature);
    if (!cms || !directories) return std::nullopt;
    auto verdict = signing::verifyCmsSignature(
        *cms, codesign::directoryBytes(directories->all.front()), anchors, now);
    if (!verdict) return std::nullopt;
    return std::move(*verdict);
}

Signer signerFor(signing::Authority authority) {
    switch (authority) {
        case signing::Authority::DeveloperId:
            return Signer::developerId;
        case signing::Authority::AppleSystem:
            return Signer::apple;
        case signing::Authority::MacAppStore:
            return Signer::appStore;
        case signing::Authority::Unknown:
            break;
    }
    return Signer::untrusted;
}

bool hasCms(const codesign::CodeObject& slice) {
    if (!slice.signature) return false;
    const auto blob = slice.signature->cmsSignature();
    return blob && *blob && !(*blob)->empty();
}

ComponentCheck checkUnder(const std::filesystem::path& item, const Component& component,
                          const signing::TrustAnchors& anchors, std::int64_t now);

}  // namespace

ComponentCheck checkComponent(const std::filesystem::path& item, const Component& component,
                              const signing::TrustAnchors& anchors, std::int64_t now,
                              codesign::HashBudget* budget) {
    codesign::HashBudget own;
    codesign::HashBudget::Scope scope(budget ? budget : &own);
    ComponentCheck check = checkUnder(item, component, anchors, now);
    if (scope.refused()) {
        // Cut short, it proves nothing either way: not invalid, and no signer it vouches for.
        check.unchecked = true;
        check.valid = check.intact = false;
        check.reason = check.integrityReason = (budget ? budget : &own)->spentMessage();
        check.failure = ErrorCode::tooLarge;
        check.leafName.reset();
    }
    return check;
}

namespace {

ComponentCheck checkUnder(const std::filesystem::path& item, const Component& component,
                          const signing::TrustAnchors& anchors, std::int64_t now) {
    ComponentCheck check;
    const auto root = ItemRoot::of(item);
    if (!root) {
        check.reason = root.error().message;
        check.failure = root.error().code;
        return check;
    }
    const auto location = codesign::locateCode(component.location, &*root);
    if (!location) {
        check.reason = location.error().message;
        check.failure = location.error().code;
        return check;
    }
    const auto slices = codesign::loadEverySlice(*location);
    if (!slices) {
        check.reason = slices.error().message;
        check.failure = slices.error().code;
        return check;
    }
    const bool anySigned = std::any_of(slices->begin(), slices->end(),
                                       [](const auto& s) { return s.signature.has_value(); });
    if (!anySigned) {
        check.reason = notSigned;
        check.failure = ErrorCode::missing;
        return check;
    }
    // What the signature names itself by, read whether or not it verifies: a changed one
    // between versions matters even when both are broken. Slices may name themselves
    // differently; the one a Mac runs speaks, as codesign -d shows it.
    const auto shown = std::find_if(slices->begin(), slices->end(),
                                    [](const auto& s) { return s.running && s.signature; });
    const codesign::CodeObject& speaker =
        shown != slices->end() ? *shown
                               : *std::find_if(slices->begin(), slices->end(), [](const auto& s) {
                                     return s.signature.has_value();
                                 });
    if (auto designated = codesign::designatedRequirement(speaker, *location, anchors)) {
        check.designatedRequirement = std::move(designated->text);
        check.designatedImplicit = designated->implicit;
    }
    codesign::Assessment a = codesign::assessCode(*slices, *location, anchors, now);
    if (a.reason == notAnApp) a.reason.clear();
    check.valid = a.reason.empty();
    check.reason = a.reason;
    if (!check.valid)
        check.failure = a.reason.starts_with(untrustedPrefix) ? ErrorCode::untrusted
                                                              : ErrorCode::invalidSignature;
    check.intact = check.valid;
    check.integrityReason = a.reason;
    // A chain that isn't trusted stops the assessment before the files are looked at;
    // whether they are as signed is still worth knowing.
    if (a.reason.starts_with(untrustedPrefix)) {
        check.intact = true;
        check.integrityReason.clear();
        for (const codesign::CodeObject& slice : *slices) {
            if (!slice.signature) continue;
            if (auto code = codesign::verifyCode(slice, *location); !code) {
                check.intact = false;
                check.integrityReason = code.error().message;
                break;
            }
        }
    }
    // Whether the code itself changed, or only the bundle around it; the pages were hashed
    // above, so this costs no second reading.
    if (!check.intact)
        for (const codesign::CodeObject& slice : *slices)
            if (slice.signature) {
                const auto pages = codesign::verifyCodePages(slice);
                if (!pages && pages.error().code == ErrorCode::invalidSignature &&
                    codesign::directoryVouchedFor(slice))
                    check.codeMatches = false;
            }
    // Not vouched for: ad hoc when no slice carries a CMS signature; else the signer its
    // chain names, or a certificate that leads to no trusted root.
    const auto signedSlice = std::find_if(slices->begin(), slices->end(), hasCms);
    if (signedSlice == slices->end()) {
        check.signer = Signer::adhoc;
        return check;
    }
    const auto signer = signerOf(*signedSlice, anchors, now);
    check.signer = signer ? signerFor(signer->authority) : Signer::untrusted;
    if (signer && check.signer != Signer::untrusted && !signer->chain.empty())
        check.leafName = signer->chain.front().commonName;
    return check;
}

/// codesign --verify answers on standard error, each line starting with the path we gave;
/// the first line after it is its verdict. The path is skipped by its length, never
/// searched for, as it is the item's to choose.
std::string systemReason(const QString& path, const host::ToolResult& run) {
    if (!run.started) return "codesign could not be started: " + run.startError.toStdString();
    if (const QString why = run.interruption(); !why.isEmpty()) return why.toStdString();
    const QString text = host::pathFromSystem(run.standardError);
    const QString prefix = path + QLatin1String(": ");
    if (!text.startsWith(prefix)) return "codesign gave no answer of its own";
    const qsizetype end = text.indexOf(u'\n', prefix.size());
    return text.mid(prefix.size(), end < 0 ? -1 : end - prefix.size()).toStdString();
}

}  // namespace

ComponentCheck verifyComponent(const host::ToolSet& tools, const std::filesystem::path& item,
                               const Component& component, const host::CancelFlag& cancel,
                               codesign::HashBudget* budget) {
    ComponentCheck own = checkComponent(item, component, signing::TrustAnchors::apple(),
                                        std::int64_t(std::time(nullptr)), budget);
    if (!tools.profile().assessesOnline) return own;
    const std::string& native = component.location.native();
    const QString path =
        host::pathFromSystem(QByteArrayView(native.data(), qsizetype(native.size())));
    host::ToolLimits limits;
    limits.maxBytesPerStream = 1 << 20;
    limits.timeout = std::chrono::minutes(5);
    limits.cancel = cancel;
    const host::ToolResult run = tools.run(host::codesignPath, {"--verify", "--strict", "-v", path},
                                           host::Capture::Both, limits);
    own.valid = run.succeeded() && !run.truncated;
    own.reason = own.valid ? std::string() : systemReason(path, run);
    // A refusal of its own is the system's verdict; anything else is no answer.
    const bool answered =
        run.started && !run.crashed && !run.timedOut && !run.cancelled && !run.truncated;
    own.failure = own.valid  ? std::nullopt
                  : answered ? std::optional(ErrorCode::invalidSignature)
                             : std::optional(ErrorCode::toolFailed);
    if (!own.valid) own.leafName.reset();
    return own;
}

void checkComponents(Overview& overview, const std::filesystem::path& item,
                     const host::ToolSet& tools, const Work& work) {
    codesign::HashBudget budget;
    forEachShared(work, overview.components.size(), maxCheckThreads, [&](std::size_t i) {
        Component& c = overview.components[i];
        if (c.identity.codeFound) c.check = verifyComponent(tools, item, c, work.cancel, &budget);
    });
    flagComponents(overview, PrivacyCatalog::builtIn());
}

}  // namespace varko::overview
