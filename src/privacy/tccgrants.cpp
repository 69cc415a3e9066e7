#include "privacy/tccgrants.h"

#include <algorithm>
#include <ctime>

#include "format/codesig/requirement.h"
#include "format/itemfile.h"
#include "format/plist/plist.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/requirementeval.h"

namespace varko::privacy {

namespace {

namespace fs = std::filesystem;

// No Info.plist is near this; a hostile one is not read past it.
constexpr std::uint64_t maxInfoBytes = 8 * 1024 * 1024;

/// What a slice's requirements are judged against. A signer whose chain leads to no known
/// root has its certificates left out, so clauses on them can't hold; `untrusted` says so.
struct Slice {
    codesign::RequirementContext context;
    bool untrusted = false;
};

Expected<std::vector<Slice>> slicesOf(const codesign::CodeLocation& location,
                                      const signing::TrustAnchors& appleRoots, std::int64_t now) {
    auto codes = codesign::loadEverySlice(location);
    if (!codes) return codes.error();
    std::vector<Slice> out;
    for (const codesign::CodeObject& code : *codes) {
        if (!code.signature) continue;
        Slice slice;
        auto chain = codesign::verifiedChain(code, appleRoots, now);
        if (!chain && chain.error().code != ErrorCode::untrusted) return chain.error();
        slice.untrusted = !chain;
        auto context = codesign::requirementContext(
            code, location, chain ? std::move(*chain) : std::vector<signing::Certificate>{},
            appleRoots);
        if (!context) return context.error();
        slice.context = std::move(*context);
        out.push_back(std::move(slice));
    }
    return out;
}

std::string bundleIdentifier(const codesign::CodeLocation& location) {
    if (!location.infoPlist) return {};
    const auto bytes = readSmallFile(*location.infoPlist, maxInfoBytes);
    if (!bytes) return {};
    const auto info = plist::parse(*bytes);
    const plist::Dictionary* dict = info ? info->dictionary() : nullptr;
    const plist::Value* id = dict ? dict->find("CFBundleIdentifier") : nullptr;
    return id && id->string() ? *id->string() : std::string();
}

/// `path` made absolute, without a trailing separator, as a database names clients.
std::string absoluteClient(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec).lexically_normal();
    if (!p.has_filename() && p.has_parent_path()) p = p.parent_path();
    return p.string();
}

void judge(Grant& grant, const Expected<std::vector<Slice>>& slices) {
    if (!grant.row.csreq) {
        grant.match = BuildMatch::noRequirement;
        return;
    }
    const std::vector<std::byte>& csreq = *grant.row.csreq;
    auto text = codesig::requirementText(csreq);
    if (!text) {
        grant.match = BuildMatch::undecodable;
        grant.note = text.error().message;
        return;
    }
    grant.requirementText = std::move(*text);
    if (!slices) {
        grant.match = BuildMatch::undecided;
        grant.note = "this build's signature could not be read: " + slices.error().message;
        return;
    }
    if (slices->empty()) {
        grant.match = BuildMatch::signedDifferently;
        grant.note = "this build is not signed";
        return;
    }
    // Every slice must meet it: the Mac runs one of them, and any may be the one.
    grant.match = BuildMatch::thisBuild;
    for (const Slice& slice : *slices) {
        auto outcome = codesign::evaluateRequirement(csreq, slice.context);
        if (!outcome) {
            grant.match = BuildMatch::undecodable;
            grant.note = outcome.error().message;
            return;
        }
        // Without a trusted chain the certificates were left out: a requirement that asks
        // about them fails for want of them, not because they differ.
        const bool asksSigner = grant.requirementText.find("anchor") != std::string::npos ||
                                grant.requirementText.find("certificate") != std::string::npos;
        if (outcome->truth == codesign::Truth::no && slice.untrusted && asksSigner) {
            grant.match = BuildMatch::undecided;
            grant.note =
                "this build's signing certificates lead to no root Varko trusts, so what the "
                "requirement asks of them can't be checked";
        } else if (outcome->truth == codesign::Truth::no) {
            grant.match = BuildMatch::signedDifferently;
            grant.note.clear();
            return;
        } else if (outcome->truth == codesign::Truth::unknown) {
            grant.match = BuildMatch::undecided;
            std::string why;
            for (const std::string& u : outcome->unknowns) why += (why.empty() ? "" : "; ") + u;
            grant.note = "it turns on what can't be known here: " + why;
        }
    }
}

}  // namespace

Expected<GrantedItem> grantsFor(const TccDatabase& db, const fs::path& path,
                                const signing::TrustAnchors& appleRoots, std::int64_t now) {
    auto location = codesign::locateCode(path);
    if (!location) return location.error();
    GrantedItem item;
    item.executable = location->executable;
    item.bundleIdentifier = bundleIdentifier(*location);
    const std::string paths[] = {absoluteClient(path), absoluteClient(location->executable)};
    for (const TccRow& row : db.rows) {
        const bool byIdentifier = row.clientType == clientBundleIdentifier &&
                                  !item.bundleIdentifier.empty() &&
                                  row.client == item.bundleIdentifier;
        const bool byPath =
            row.clientType == clientPath &&
            std::find(std::begin(paths), std::end(paths), row.client) != std::end(paths);
        if (byIdentifier || byPath) item.grants.push_back(Grant{row, {}, {}, {}});
    }
    if (item.grants.empty()) return item;
    const auto slices = slicesOf(*location, appleRoots, now);
    for (Grant& grant : item.grants) judge(grant, slices);
    return item;
}

std::string authorizationName(std::int64_t authValue) {
    switch (authValue) {
        case authDenied:
            return "denied";
        case authUnknown:
            return "unknown";
        case authAllowed:
            return "allowed";
        case authLimited:
            return "limited";
        default:
            return std::to_string(authValue);
    }
}

std::string reasonText(std::int64_t authReason) {
    // es_tcc_authorization_reason_t's order, which the database's auth_reason follows.
    static constexpr const char* reasons[] = {
        "no reason recorded",
        "an error",
        "the user answered a prompt",
        "the user changed it in System Settings",
        "set by the system",
        "a service policy",
        "a device management (MDM) profile",
        "an override policy",
        "the app lacks a usage description",
        "the prompt timed out",
        "not yet asked",
        "the app's entitlement",
        "the kind of app it is",
        "the user cancelled the prompt",
    };
    if (authReason >= 0 && std::size_t(authReason) < std::size(reasons)) return reasons[authReason];
    return "reason " + std::to_string(authReason);
}

std::string matchText(const Grant& grant) {
    const std::int64_t v = grant.row.authValue;
    const bool granted = v == authAllowed || v == authLimited;
    const std::string done = granted ? "granted" : v == authDenied ? "denied" : "recorded";
    const std::string verb = done + (granted || v == authDenied ? " to" : " for");
    switch (grant.match) {
        case BuildMatch::thisBuild:
            return verb + " this build";
        case BuildMatch::signedDifferently:
            return verb + " code signed differently" +
                   (grant.note.empty() ? std::string() : " (" + grant.note + ")");
        case BuildMatch::undecided:
            return "can't tell whether this build is the code it was " + verb + ": " + grant.note;
        case BuildMatch::undecodable:
            return "its code requirement can't be read (" + grant.note +
                   "), so it is not taken to hold for this build";
        case BuildMatch::noRequirement:
            return verb + " any code with this name: no code requirement is stored";
    }
    return {};
}

std::string grantText(const Grant& grant) {
    const TccRow& row = grant.row;
    std::string how;
    const auto add = [&how](const std::string& part) { how += (how.empty() ? "" : ", ") + part; };
    if (row.authReason) add(reasonText(*row.authReason));
    if (row.lastModified) add(utcText(*row.lastModified));
    if (row.clientType == clientPath) add("for the path " + row.client);
    std::string line = authorizationName(row.authValue);
    if (!row.indirectObject.empty()) line += " to send Apple events to " + row.indirectObject;
    if (!how.empty()) line += " (" + how + ")";
    return line + ": " + matchText(grant);
}

std::string matchName(BuildMatch match) {
    switch (match) {
        case BuildMatch::thisBuild:
            return "thisBuild";
        case BuildMatch::signedDifferently:
            return "signedDifferently";
        case BuildMatch::undecided:
            return "undecided";
        case BuildMatch::undecodable:
            return "undecodable";
        case BuildMatch::noRequirement:
            return "noRequirement";
    }
    return {};
}

std::string utcText(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char out[64];
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
        return std::to_string(seconds) + " seconds after 1970";
    return out;
}

}  // namespace varko::privacy
