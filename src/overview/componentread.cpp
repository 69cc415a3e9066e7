#include <algorithm>
#include <atomic>
#include <numeric>
#include <set>
#include <vector>

#include "concurrency/work.h"
#include "format/codesig/csblobs.h"
#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"
#include "overview/overview.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"

namespace varko::overview {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t maxInfoPlistBytes = 8u << 20;
constexpr std::string_view usageSuffix = "UsageDescription";

void readInfoPlist(const fs::path& file, const ItemRoot& root, ComponentIdentity& identity) {
    const auto bytes = readSmallFile(file, maxInfoPlistBytes, &root);
    if (!bytes) {
        identity.problems.push_back(bytes.error().message);
        return;
    }
    const auto shared = plist::parseShared(std::span<const std::byte>(*bytes));
    const Expected<plist::Value>& value = *shared;
    if (!value || !value->dictionary()) {
        identity.problems.push_back(
            "its Info.plist can't be read: " +
            (value ? std::string("not a dictionary") : value.error().message));
        return;
    }
    const plist::Dictionary& dict = *value->dictionary();
    const auto text = [&](const char* key) -> std::string {
        const plist::Value* v = dict.find(key);
        return v && v->string() ? *v->string() : std::string();
    };
    identity.infoIdentifier = text("CFBundleIdentifier");
    identity.identifier = identity.infoIdentifier;
    identity.version = text("CFBundleShortVersionString");
    if (identity.version.empty()) identity.version = text("CFBundleVersion");
    for (const auto& [key, v] : dict) {
        if (key.size() < usageSuffix.size() || !key.ends_with(usageSuffix)) continue;
        identity.usageDescriptions.emplace_back(key, v.string() ? *v.string() : plist::describe(v));
    }
}

/// The keys whose values the two forms of entitlements disagree on, in words.
std::string differingKeys(const plist::Dictionary& der, const plist::Dictionary& xml) {
    std::set<std::string> keys;
    for (const auto& [key, value] : der)
        if (const plist::Value* other = xml.find(key); !other || !(*other == value))
            keys.insert(key);
    for (const auto& [key, value] : xml)
        if (!der.find(key)) keys.insert(key);
    constexpr std::size_t shown = 5;
    std::string out;
    std::size_t n = 0;
    for (const std::string& key : keys) {
        if (n++ == shown) break;
        out += (out.empty() ? "" : ", ") + key;
    }
    if (keys.size() > shown) out += " and " + std::to_string(keys.size() - shown) + " more";
    return out;
}

/// Both forms of the entitlements. The DER form is the one the platform enforces, so it
/// decides; the XML form stands in only where there is no readable DER form.
void readEntitlements(const codesig::SuperBlob& signature, ComponentIdentity& identity) {
    std::optional<plist::Dictionary> xml;
    if (const auto blob = signature.entitlements(); !blob) {
        identity.problems.push_back(blob.error().message);
    } else if (*blob) {
        auto value = plist::parse(**blob);
        if (value && value->dictionary())
            xml = std::move(*value->dictionary());
        else
            identity.problems.push_back("its XML entitlements can't be read");
    }
    std::optional<plist::Dictionary> der;
    if (const auto blob = signature.derEntitlements(); !blob) {
        identity.problems.push_back(blob.error().message);
    } else if (*blob) {
        auto value = codesig::parseDerEntitlements(**blob);
        if (value)
            der = std::move(*value);
        else
            identity.problems.push_back(
                "its DER entitlements, the form the platform enforces, "
                "can't be read: " +
                value.error().message);
    }
    if (der && xml && !(*der == *xml)) {
        identity.entitlementsDisagree = true;
        identity.problems.push_back(
            "its DER entitlements, which the platform enforces, differ from its XML "
            "entitlements in " +
            differingKeys(*der, *xml));
    }
    if (der)
        identity.entitlements = std::move(*der);
    else if (xml)
        identity.entitlements = std::move(*xml);
}

void readSignature(const codesign::CodeLocation& location, ComponentIdentity& identity) {
    auto code = codesign::loadCodeObject(location, std::nullopt,
                                         codesign::SignatureRead::WithoutPageHashes);
    if (!code) {
        identity.signature = SignatureForm::unreadable;
        identity.problems.push_back(code.error().message);
        return;
    }
    if (!code->signature) return;
    const codesig::SuperBlob& signature = *code->signature;
    const auto directory = signature.codeDirectory();
    if (!directory || !*directory) {
        identity.signature = SignatureForm::unreadable;
        identity.problems.push_back(directory ? "its signature has no code directory"
                                              : directory.error().message);
        return;
    }
    const codesig::CodeDirectory& cd = **directory;
    identity.teamIdentifier = cd.teamId;
    identity.hardenedRuntime = (cd.flags & codesig::CS_RUNTIME) != 0;
    identity.signedIdentifier = cd.identifier;
    if (identity.identifier.empty()) identity.identifier = cd.identifier;
    const auto cms = signature.cmsSignature();
    const bool signedByCms = cms && *cms && !(*cms)->empty();
    identity.signature = (cd.flags & codesig::CS_ADHOC) != 0 || !signedByCms ? SignatureForm::adhoc
                                                                             : SignatureForm::cms;
    readEntitlements(signature, identity);
}

/// Privacy manifests kept for one item in all: each is bounded, but thousands of pieces
/// could each bring one of the largest.
constexpr std::uint64_t maxManifestsKeptBytes = 16u << 20;

/// About how much memory a manifest holds: its texts.
std::uint64_t keptBytes(const PrivacyManifest& m) {
    std::uint64_t bytes = 0;
    const auto add = [&](const std::vector<std::string>& texts) {
        for (const std::string& t : texts) bytes += t.size() + 16;
    };
    add(m.trackingDomains);
    add(m.problems);
    for (const CollectedData& d : m.collectedData) {
        bytes += d.type.size();
        add(d.purposes);
    }
    for (const AccessedApi& a : m.accessedApis) {
        bytes += a.category.size();
        add(a.reasons);
    }
    return bytes;
}

void readIdentity(Component& component, const ItemRoot& root,
                  std::atomic<std::uint64_t>& manifestsKept) {
    ComponentIdentity& identity = component.identity;
    // A launch item whose program lies outside has no code of its own to read.
    if (component.location.extension() == ".plist") return;
    const auto location = component.code ? Expected<codesign::CodeLocation>(*component.code)
                                         : codesign::locateCode(component.location, &root);
    if (!location) {
        identity.problems.push_back(location.error().message);
        return;
    }
    identity.codeFound = true;
    if (location->infoPlist) readInfoPlist(*location->infoPlist, root, identity);
    readSignature(*location, identity);
    if (!location->root) return;
    if (manifestsKept.load() >= maxManifestsKeptBytes) {
        identity.problems.push_back("its privacy manifest was not read: the app's manifests pass " +
                                    std::to_string(maxManifestsKeptBytes >> 20) + " MiB in all");
        return;
    }
    auto manifest = readPrivacyManifest(*location->root, &root);
    if (!manifest) {
        identity.problems.push_back(manifest.error().message);
    } else if (*manifest) {
        manifestsKept += keptBytes(**manifest);
        identity.privacyManifest = std::move(**manifest);
    }
}

/// A key holds unless its value is the Boolean false.
bool holds(const plist::Value& value) {
    const bool* b = value.boolean();
    return b == nullptr || *b;
}

/// The privacy entitlements and allowances a component holds, by the table's names.
std::set<std::string> privacyHeld(const PrivacyCatalog& catalog,
                                  const ComponentIdentity& identity) {
    std::set<std::string> held;
    for (const auto& [key, value] : identity.entitlements)
        if (holds(value) && catalog.byEntitlement(key)) held.insert(key);
    for (std::string& name : privateAllowances(identity)) held.insert("tcc:" + name);
    return held;
}

Signer claimedSigner(const Component& c) {
    if (c.check) return c.check->signer;
    switch (c.identity.signature) {
        case SignatureForm::none:
            return Signer::unsigned_;
        case SignatureForm::adhoc:
            return Signer::adhoc;
        case SignatureForm::cms:
        case SignatureForm::unreadable:
            break;
    }
    return Signer::untrusted;
}

}  // namespace

void readIdentities(Overview& overview, const ItemRoot& root) {
    // Each piece is read on its own; most of the cost is the system's, resolving paths.
    std::atomic<std::uint64_t> manifestsKept{0};
    const unsigned threads = overview.components.size() < 16 ? 1 : 4;
    forEachShared(Work::current(), overview.components.size(), threads, [&](std::size_t i) {
        readIdentity(overview.components[i], root, manifestsKept);
    });
    overview.manifestsCut = manifestsKept.load() >= maxManifestsKeptBytes;
}

bool isRiskyEntitlement(std::string_view key) {
    static constexpr std::string_view risky[] = {
        "com.apple.security.get-task-allow",
        "com.apple.security.cs.disable-library-validation",
        "com.apple.security.cs.allow-dyld-environment-variables",
        "com.apple.security.cs.allow-unsigned-executable-memory",
        "com.apple.security.cs.disable-executable-page-protection",
    };
    return key.starts_with("com.apple.private.") ||
           std::find(std::begin(risky), std::end(risky), key) != std::end(risky);
}

void flagComponents(Overview& overview, const PrivacyCatalog& catalog,
                    std::span<const std::size_t> only) {
    if (overview.components.empty()) return;
    const Component& main = overview.components.front();
    const Signer mainSigner = claimedSigner(main);
    const bool mainSigned = mainSigner != Signer::unsigned_ && mainSigner != Signer::adhoc;
    const std::set<std::string> mainHeld = privacyHeld(catalog, main.identity);
    for (const std::size_t i : only) {
        if (i >= overview.components.size()) continue;
        Component& c = overview.components[i];
        c.flags.clear();
        if (i > 0 && mainSigned && c.identity.codeFound) {
            const Signer signer = claimedSigner(c);
            if (signer == Signer::unsigned_) c.flags.emplace_back("unsigned");
            if (signer == Signer::adhoc) c.flags.emplace_back("adhoc");
        }
        if (i > 0 && main.identity.teamIdentifier && c.identity.teamIdentifier &&
            *main.identity.teamIdentifier != *c.identity.teamIdentifier)
            c.flags.emplace_back("team-mismatch");
        if (i > 0) {
            const std::set<std::string> held = privacyHeld(catalog, c.identity);
            if (std::any_of(held.begin(), held.end(),
                            [&](const std::string& h) { return mainHeld.count(h) == 0; }))
                c.flags.emplace_back("privacy-beyond-main");
        }
        if (c.identity.entitlementsDisagree) c.flags.emplace_back("entitlements-mismatch");
        // A bare helper has no Info.plist to compare; a bundle's signature names it as its
        // Info.plist does unless someone chose otherwise.
        if (!c.identity.infoIdentifier.empty() && !c.identity.signedIdentifier.empty() &&
            c.identity.infoIdentifier != c.identity.signedIdentifier)
            c.flags.emplace_back("identifier-mismatch");
        for (const auto& [key, value] : c.identity.entitlements)
            if (holds(value) && isRiskyEntitlement(key))
                c.flags.push_back("risky-entitlement:" + key);
    }
}

void flagComponents(Overview& overview, const PrivacyCatalog& catalog) {
    std::vector<std::size_t> every(overview.components.size());
    std::iota(every.begin(), every.end(), std::size_t(0));
    flagComponents(overview, catalog, every);
}

}  // namespace varko::overview
