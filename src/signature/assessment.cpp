#include "signature/assessment.h"

#include <algorithm>
#include <string_view>

#include "format/codesig/csblobs.h"
#include "signature/codehash.h"
#include "signature/codeverifier.h"
#include "signature/resourceseal.h"

namespace varko::codesign {

namespace {

using codesig::CodeDirectory;

// Tickets are a few kilobytes; anything far larger is not one.
constexpr std::uint64_t maxTicketBytes = 1u << 20;
constexpr std::string_view ticketMagic = "s8ch";

Assessment rejected(std::string reason = {}) {
    Assessment a;
    a.reason = std::move(reason);
    return a;
}

}  // namespace

bool hasStapledTicket(const std::filesystem::path& contents, std::span<const unsigned char> cdhash,
                      const ItemRoot* within) {
    const auto ticket = contents / "CodeResources";
    std::error_code ec;
    if (cdhash.empty() ||
        !std::filesystem::is_regular_file(std::filesystem::symlink_status(ticket, ec)))
        return false;
    const auto bytes = readSmallFile(ticket, maxTicketBytes, within, FinalLink::Refuse);
    if (!bytes || bytes->size() < ticketMagic.size() ||
        !std::equal(ticketMagic.begin(), ticketMagic.end(), bytes->begin(),
                    [](char a, std::byte b) {
                        return static_cast<unsigned char>(a) == std::to_integer<unsigned char>(b);
                    }))
        return false;
    return std::search(bytes->begin() + 4, bytes->end(), cdhash.begin(), cdhash.end(),
                       [](std::byte a, unsigned char b) {
                           return std::to_integer<unsigned char>(a) == b;
                       }) != bytes->end();
}

namespace {

/// One slice against its signature and the anchors, before the bundle is looked at.
Assessment assessSlice(const CodeObject& code, const CodeLocation& location,
                       const signing::TrustAnchors& anchors, std::int64_t now) {
    if (!code.signature) return rejected();
    if (auto slice = verifySlice(code, location); !slice) return rejected(slice.error().message);
    auto cmsBlob = code.signature->cmsSignature();
    if (!cmsBlob) return rejected("invalid signature: " + cmsBlob.error().message);
    if (!*cmsBlob || (*cmsBlob)->empty()) return rejected();  // ad hoc: nothing vouches for it
    const auto cmsShared = signing::parseCmsShared(**cmsBlob);
    const Expected<signing::CmsSignature>& cms = *cmsShared;
    if (!cms) return rejected("invalid signature: " + cms.error().message);
    auto directories = codeDirectories(*code.signature);
    if (!directories) return rejected("invalid signature: " + directories.error().message);
    const CodeDirectory& chosen = directories->chosen();

    const auto verdict =
        signing::verifyCmsSignature(*cms, directoryBytes(directories->all.front()), anchors, now);
    if (!verdict) return rejected(verdict.error().message);

    Assessment a;
    a.origin = verdict->chain.front().commonName;
    a.notes.push_back(
        "note: revocation of the certificates was not checked (needs Apple's servers)");
    switch (verdict->authority) {
        case signing::Authority::AppleSystem:
            a.source = "Apple System";
            break;
        case signing::Authority::MacAppStore:
            a.source = "Mac App Store";
            break;
        case signing::Authority::DeveloperId: {
            // A ticket is only worth what Apple's signature on it is worth, and that
            // signature's format is not public: anyone holding a Developer ID could write
            // a file that names their cdhash. So a ticket is reported, never trusted.
            const auto cdDigest = digest(*hashKind(chosen.hashType), directoryBytes(chosen));
            const auto cdhash =
                std::span(cdDigest).first(std::min<std::size_t>(20, cdDigest.size()));
            const bool stapled = location.root && location.root->filename() == "Contents" &&
                                 hasStapledTicket(*location.root, cdhash,
                                                  location.within ? &*location.within : nullptr);
            a.source = "Developer ID";
            a.notes.push_back(
                stapled ? "note: a stapled notarization ticket names this code, but Apple's "
                          "signature on it cannot be checked here, so notarization is not claimed"
                        : "note: notarization was not looked up (no stapled ticket; offline)");
            break;
        }
        case signing::Authority::Unknown:
            a.reason = {};
            a.source = "no usable signature";
            return a;
    }
    a.accepted = true;
    return a;
}

/// Worse first: a broken signature, then code nothing vouches for, then trusted code, the
/// weaker authority before the stronger.
int rank(const Assessment& a) {
    if (!a.accepted) return a.reason.empty() ? 1 : 0;
    if (a.source == "Developer ID") return 2;
    if (a.source == "Mac App Store") return 3;
    return 4;
}

}  // namespace

Assessment assessCode(const std::vector<CodeObject>& slices, const CodeLocation& location,
                      const signing::TrustAnchors& anchors, std::int64_t now) {
    if (slices.empty()) return rejected();
    std::optional<Assessment> worst;
    std::string worstSlice;
    int best = 0;
    for (const CodeObject& code : slices) {
        Assessment a = assessSlice(code, location, anchors, now);
        best = std::max(best, rank(a));
        if (!worst || rank(a) < rank(*worst)) {
            worst = std::move(a);
            worstSlice = code.slice.archName();
        }
    }
    const auto named = [&](Assessment a) {
        // Name the slice that decided, unless every slice is alike without a signature.
        if (slices.size() > 1 && (!a.reason.empty() || best > rank(a)))
            a.reason = (a.reason.empty() ? "no usable signature" : a.reason) + " (" + worstSlice +
                       " slice)";
        return a;
    };
    if (!worst->reason.empty()) return named(*worst);
    // Signed code, ad hoc too, must sit in a sound bundle; unsigned code has nothing to check.
    const bool anySigned = std::any_of(slices.begin(), slices.end(),
                                       [](const CodeObject& c) { return c.signature.has_value(); });
    if (anySigned)
        if (auto bundle = verifyBundle(location); !bundle) return rejected(bundle.error().message);
    if (!worst->accepted) return named(*worst);
    // Gatekeeper judges apps; a bare executable that passes everything is still turned away.
    if (!location.isApp) {
        worst->accepted = false;
        worst->reason = "the code is valid but does not seem to be an app";
    }
    return *worst;
}

}  // namespace varko::codesign
