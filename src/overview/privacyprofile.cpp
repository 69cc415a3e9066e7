#include "overview/privacyprofile.h"

#include <QByteArray>
#include <QUuid>
#include <algorithm>
#include <map>
#include <set>

#include "format/codesig/requirement.h"
#include "format/plist/plist.h"
#include "format/visibletext.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/designatedrequirement.h"

namespace varko::overview {

namespace {

constexpr std::string_view tccPrefix = "kTCCService";

/// The Services keys of the payload's schema; each is its TCC service's name without the
/// prefix. Camera and Microphone "can only be denied"; AllowStandardUserToSetSystemService
/// is "only valid for the ListenEvent and ScreenCapture services", which a profile can't
/// grant either.
constexpr ProfileService payloadServices[] = {
    {"Accessibility", ProfileGrant::allow},
    {"AddressBook", ProfileGrant::allow},
    {"AppleEvents", ProfileGrant::allow},
    {"BluetoothAlways", ProfileGrant::allow},
    {"Calendar", ProfileGrant::allow},
    {"Camera", ProfileGrant::denyOnly},
    {"FileProviderPresence", ProfileGrant::allow},
    {"ListenEvent", ProfileGrant::standardUserSets},
    {"MediaLibrary", ProfileGrant::allow},
    {"Microphone", ProfileGrant::denyOnly},
    {"Photos", ProfileGrant::allow},
    {"PostEvent", ProfileGrant::allow},
    {"Reminders", ProfileGrant::allow},
    {"ScreenCapture", ProfileGrant::standardUserSets},
    {"SpeechRecognition", ProfileGrant::allow},
    {"SystemPolicyAllFiles", ProfileGrant::allow},
    {"SystemPolicyAppBundles", ProfileGrant::allow},
    {"SystemPolicyAppData", ProfileGrant::allow},
    {"SystemPolicyDesktopFolder", ProfileGrant::allow},
    {"SystemPolicyDocumentsFolder", ProfileGrant::allow},
    {"SystemPolicyDownloadsFolder", ProfileGrant::allow},
    {"SystemPolicyNetworkVolumes", ProfileGrant::allow},
    {"SystemPolicyRemovableVolumes", ProfileGrant::allow},
    {"SystemPolicySysAdminFiles", ProfileGrant::allow},
};

/// The entitlements that name the apps a sandboxed app sends Apple events to: the temporary
/// exception's string or array of bundle identifiers, and the scripting targets' dictionary
/// keyed by them.
constexpr std::string_view appleEventsException =
    "com.apple.security.temporary-exception.apple-events";
constexpr std::string_view scriptingTargets = "com.apple.security.scripting-targets";

const char* authorization(ProfileGrant grant) {
    switch (grant) {
        case ProfileGrant::allow:
            return "Allow";
        case ProfileGrant::denyOnly:
            return "Deny";
        case ProfileGrant::standardUserSets:
            return "AllowStandardUserToSetSystemService";
    }
    return "Deny";
}

/// Text an XML 1.0 document can hold: valid UTF-8 without control characters other than
/// tab and line ends, and without the two non-characters U+FFFE and U+FFFF.
bool xmlSafe(std::string_view text) {
    if (!isValidUtf8(text)) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        const std::string_view three = text.substr(i, 3);
        if (three == "\xef\xbf\xbe" || three == "\xef\xbf\xbf") return false;
    }
    return true;
}

Error refusal(std::string message, ErrorCode code = ErrorCode::unsupported) {
    return Error{0, std::move(message), code};
}

/// Every receiver the components' entitlements name, in the order met, each once.
std::vector<std::string> appleEventReceivers(const Overview& overview, bool& cut) {
    std::vector<std::string> receivers;
    std::set<std::string, std::less<>> seen;
    const auto add = [&](const std::string& id) {
        if (id.empty() || seen.contains(id)) return;
        if (receivers.size() == maxProfileReceivers) {
            cut = true;
            return;
        }
        seen.insert(id);
        receivers.push_back(id);
    };
    for (const Component& c : overview.components) {
        const plist::Dictionary& e = c.identity.entitlements;
        if (const plist::Value* v = e.find(appleEventsException)) {
            if (const std::string* one = v->string()) add(*one);
            if (const plist::Array* many = v->array())
                for (const plist::Value& item : *many)
                    if (const std::string* id = item.string()) add(*id);
        }
        if (const plist::Value* v = e.find(scriptingTargets); v && v->dictionary())
            for (const auto& [id, groups] : *v->dictionary()) add(id);
    }
    return receivers;
}

/// `identifier "ID"` as the requirement printer writes it, quoting and escaping included.
Expected<std::string> identifierRequirement(const std::string& id) {
    return codesig::requirementText(
        codesig::RequirementMaker().word(codesig::opIdent).text(id).make());
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += names[i];
    }
    return out;
}

/// A name-based UUID, so that the same app and services make the same profile and a
/// changed one a new profile; the namespace is Varko's own.
std::string uuidFor(std::string_view name) {
    static const QUuid space(QStringLiteral("6b1f6a52-2f4e-4d4e-9d1c-5e0c7a3b9f21"));
    return QUuid::createUuidV5(space, QByteArray(name.data(), qsizetype(name.size())))
        .toString(QUuid::WithoutBraces)
        .toUpper()
        .toStdString();
}

}  // namespace

std::optional<ProfileService> profileService(std::string_view tccName) {
    if (!tccName.starts_with(tccPrefix)) return std::nullopt;
    const std::string_view key = tccName.substr(tccPrefix.size());
    for (const ProfileService& s : payloadServices)
        if (s.key == key) return s;
    return std::nullopt;
}

Expected<ProfileIdentity> profileIdentity(const Overview& overview,
                                          const signing::TrustAnchors& appleRoots) {
    if (overview.problem) return *overview.problem;
    if (!overview.isApp || overview.components.empty() || !overview.components.front().code)
        return refusal("a privacy profile is made for an app bundle with a main executable");
    const Component& app = overview.components.front();
    const std::string& bundleId = app.identity.infoIdentifier;
    // The payload names an app bundle by its bundle identifier and nothing else.
    if (bundleId.empty())
        return refusal(
            "the app's Info.plist has no CFBundleIdentifier, which a privacy "
            "profile names an app by");
    if (!xmlSafe(bundleId))
        return refusal("the app's bundle identifier holds characters a profile can't hold");
    if (app.identity.signature == SignatureForm::none)
        return refusal(
            "the app is not signed: a privacy profile names an app by its code requirement, "
            "and unsigned code has none that macOS could check, so no profile can name it",
            ErrorCode::missing);

    auto code = codesign::loadCodeObject(*app.code, std::nullopt,
                                         codesign::SignatureRead::WithoutPageHashes);
    if (!code) return code.error();
    if (!code->signature)
        return refusal("the app's main executable is not signed", ErrorCode::missing);
    const auto directories = codesign::codeDirectories(*code->signature);
    if (!directories) return directories.error();
    // Ad hoc code is known by its cdhashes: this build and no other.
    const bool adhoc = (directories->chosen().flags & codesig::CS_ADHOC) != 0;
    auto requirement = codesign::designatedRequirement(*code, *app.code, appleRoots);
    if (!requirement) return requirement.error();
    if (requirement->text.empty())
        return refusal(
            "the app's signature has no certificates and no designated requirement, so no "
            "profile can name it",
            ErrorCode::missing);
    if (!xmlSafe(requirement->text))
        return refusal("the app's designated requirement holds characters a profile can't hold");
    return ProfileIdentity{bundleId, std::move(requirement->text), adhoc};
}

Expected<PrivacyProfile> privacyProfile(const Overview& overview,
                                        std::span<const ProfileIdentity> knownReceivers,
                                        const PrivacyCatalog& catalog,
                                        const signing::TrustAnchors& appleRoots) {
    const auto named = profileIdentity(overview, appleRoots);
    if (!named) return named.error();
    const std::string& bundleId = named->bundleId;
    PrivacyProfile profile;
    if (named->adhoc)
        profile.warnings.push_back(
            "The app is signed ad hoc: its requirement names this build's code hash, so the "
            "profile stops applying when the app is rebuilt or updated.");

    const auto identity = [&](ProfileGrant grant) {
        plist::Dictionary d;
        d.set("Identifier", bundleId);
        d.set("IdentifierType", "bundleID");
        d.set("CodeRequirement", named->requirement);
        d.set("StaticCode", false);
        d.set("Authorization", authorization(grant));
        return d;
    };

    std::map<std::string, plist::Array, std::less<>> services;
    std::vector<std::string> denied, standardUser, notSettable;
    bool appleEvents = false;
    for (const ServiceUse& use : overview.services) {
        const PrivacyService* row = use.known ? catalog.byTccService(use.service) : nullptr;
        if (row == nullptr) {
            if (use.known) notSettable.push_back(use.title);
            continue;
        }
        bool settable = false;
        for (const std::string& tcc : row->tccServices) {
            const auto s = profileService(tcc);
            if (!s) continue;
            settable = true;
            if (s->key == "AppleEvents") {
                appleEvents = true;
                continue;
            }
            plist::Array& entries = services[std::string(s->key)];
            if (!entries.empty()) continue;
            entries.push_back(identity(s->grant));
            if (s->grant == ProfileGrant::denyOnly) denied.emplace_back(s->key);
            if (s->grant == ProfileGrant::standardUserSets) standardUser.emplace_back(s->key);
        }
        if (!settable) notSettable.push_back(use.title);
    }

    // Naming a receiver asks for its entry, whatever the app declares.
    if (appleEvents || !knownReceivers.empty()) {
        bool cut = false;
        std::vector<std::string> receivers;
        for (const ProfileIdentity& known : knownReceivers) receivers.push_back(known.bundleId);
        for (std::string& id : appleEventReceivers(overview, cut))
            if (std::find(receivers.begin(), receivers.end(), id) == receivers.end())
                receivers.push_back(std::move(id));
        std::vector<std::string> weak, adhoc;
        for (const std::string& receiver : receivers) {
            const auto known =
                std::find_if(knownReceivers.begin(), knownReceivers.end(),
                             [&](const ProfileIdentity& r) { return r.bundleId == receiver; });
            if (known != knownReceivers.end() && known->adhoc) adhoc.push_back(receiver);
            auto text = known != knownReceivers.end() ? Expected<std::string>(known->requirement)
                                                      : identifierRequirement(receiver);
            if (!xmlSafe(receiver) || !text || !xmlSafe(*text)) {
                profile.warnings.push_back(
                    "An Apple-event receiver whose identifier a profile "
                    "can't hold was left out: " +
                    visibleControls(receiver) + ".");
                continue;
            }
            plist::Dictionary d = identity(ProfileGrant::allow);
            d.set("AEReceiverIdentifier", receiver);
            d.set("AEReceiverIdentifierType", "bundleID");
            d.set("AEReceiverCodeRequirement", *text);
            services["AppleEvents"].push_back(std::move(d));
            if (known == knownReceivers.end()) weak.push_back(receiver);
        }
        if (receivers.empty())
            profile.warnings.push_back(
                "The app sends Apple events but its entitlements name no receiver, and the "
                "payload allows them one receiver at a time: add AppleEvents entries by hand.");
        if (cut)
            profile.warnings.push_back("Only the first " + std::to_string(maxProfileReceivers) +
                                       " Apple-event receivers are in the profile.");
        if (!weak.empty())
            profile.warnings.push_back(
                "The requirement of each Apple-event receiver (" + joined(weak) +
                ") names only its identifier: replace it with the receiver's designated "
                "requirement, which `codesign -d -r-` prints on it, or name the receiver app "
                "itself.");
        if (!adhoc.empty())
            profile.warnings.push_back("The receiver " + joined(adhoc) +
                                       " is signed ad hoc: its entry holds for that build alone.");
    }
    if (!denied.empty())
        profile.warnings.push_back(joined(denied) + (denied.size() == 1 ? " is" : " are") +
                                   " denied: a profile can only deny these, never grant them. "
                                   "Remove the entries unless the app is meant to be kept from "
                                   "them.");
    if (!standardUser.empty())
        profile.warnings.push_back(
            joined(standardUser) +
            ": a profile can't grant these; it lets a standard user switch them on.");
    if (!notSettable.empty())
        profile.warnings.push_back("No profile can set " + joined(notSettable) + ".");
    if (services.empty())
        return refusal(notSettable.empty()
                           ? "the app declares, and is entitled to, no privacy service"
                           : "the app uses only privacy services that no profile can set: " +
                                 joined(notSettable));

    plist::Dictionary servicesDict;
    for (auto& [key, entries] : services) servicesDict.set(key, std::move(entries));

    const std::string name = overview.components.front().location.stem().string();
    const std::string profileId = bundleId + ".privacy-preferences";
    // Named after everything they set, so that a profile made again for the same build is the
    // same profile, and one for a changed build replaces it.
    const std::string contentUuid = uuidFor(plist::writeXml(servicesDict));

    plist::Dictionary payload;
    payload.set("PayloadType", std::string(pppcPayloadType));
    payload.set("PayloadIdentifier", profileId + ".tcc");
    payload.set("PayloadUUID", uuidFor("payload " + contentUuid));
    payload.set("PayloadVersion", plist::Integer{1, false});
    payload.set("PayloadDisplayName", "Privacy Preferences Policy Control");
    payload.set("Services", std::move(servicesDict));

    plist::Dictionary top;
    top.set("PayloadContent", plist::Array{plist::Value(std::move(payload))});
    top.set("PayloadDisplayName", "Privacy preferences for " + (xmlSafe(name) ? name : bundleId));
    top.set("PayloadDescription", "The privacy services that " + bundleId +
                                      " declares or is entitled to, for the code its "
                                      "designated requirement names.");
    top.set("PayloadIdentifier", profileId);
    top.set("PayloadType", "Configuration");
    top.set("PayloadUUID", uuidFor("profile " + contentUuid));
    top.set("PayloadVersion", plist::Integer{1, false});
    // The payload is for the device channel only.
    top.set("PayloadScope", "System");
    profile.xml = plist::writeXml(top);
    return profile;
}

}  // namespace varko::overview
