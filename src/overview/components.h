#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/expected.h"
#include "format/plist/value.h"
#include "overview/privacymanifest.h"
#include "signature/bundlelocator.h"

namespace varko::overview {

/// What a piece of code inside a bundle is, by where it sits and what it is named.
enum class ComponentKind {
    mainExecutable,
    framework,
    dynamicLibrary,
    helper,  ///< an executable beside the main one, or in Helpers or Library
    xpcService,
    plugIn,
    appExtension,
    loginItem,
    launchAgent,
    launchDaemon,
    systemExtension,
    nestedApp,
};

/// The kind as the JSON output names it: "main-executable", "framework", …
[[nodiscard]] std::string_view kindName(ComponentKind kind);
/// The kind in words for the window: "Main executable", "Framework", …
[[nodiscard]] std::string_view kindTitle(ComponentKind kind);

/// How the code's own signature presents itself before anything is verified: what its
/// code directory and CMS wrapper claim, which a stranger can write.
enum class SignatureForm { none, adhoc, cms, unreadable };

/// What is read from a component's own files without verifying anything: pure and quick.
struct ComponentIdentity {
    std::string identifier;        ///< CFBundleIdentifier, else the code directory's identifier
    std::string infoIdentifier;    ///< CFBundleIdentifier of its Info.plist; empty without one
    std::string signedIdentifier;  ///< the code directory's identifier; empty without one
    std::string version;           ///< CFBundleShortVersionString, else CFBundleVersion
    /// Whether there is code at all: a launch item may start a program outside the bundle.
    bool codeFound = false;
    SignatureForm signature = SignatureForm::none;
    std::optional<std::string> teamIdentifier;  ///< from the code directory
    bool hardenedRuntime = false;
    /// The entitlements the platform enforces: the signature's DER form when it has one (and
    /// it can be read), else its XML form; empty when it has neither.
    plist::Dictionary entitlements;
    /// The signature carries both forms and they differ in a key or a value.
    bool entitlementsDisagree = false;
    /// Info.plist keys ending in "UsageDescription", with their texts, in file order.
    std::vector<std::pair<std::string, std::string>> usageDescriptions;
    std::optional<PrivacyManifest> privacyManifest;
    /// What could not be read, in words; the rest is still filled in.
    std::vector<std::string> problems;
};

/// The verified answer for one component: how the platform (or, elsewhere, our own
/// readers) judges its signature.
enum class Signer { unsigned_, adhoc, developerId, apple, appStore, untrusted };

/// "unsigned", "adhoc", "developer-id", "apple", "app-store", "untrusted".
[[nodiscard]] std::string_view signerName(Signer signer);
[[nodiscard]] std::string_view signerTitle(Signer signer);

struct ComponentCheck {
    Signer signer = Signer::unsigned_;
    bool valid = false;
    std::string reason;                   ///< why it is not valid; empty when it is
    std::optional<std::string> leafName;  ///< the signing certificate's name, once trusted
    /// Whether its code, seal and nested code are as signed, trusted or not; and why not.
    bool intact = false;
    std::string integrityReason;
    /// Whether its own code pages are those its code directories hash: false means the code
    /// itself was changed, not merely the bundle around it.
    bool codeMatches = true;
    /// Verification stopped at a bound before it could tell (too much code to hash for one
    /// item): neither valid nor invalid, and `reason` says which bound.
    bool unchecked = false;
    std::optional<ErrorCode> failure;  ///< the kind of `reason`, for scripts
    /// The requirement by which the platform knows this code across updates: its keychain
    /// items and privacy grants follow it. Empty when it has none or it can't be read.
    std::string designatedRequirement;
    bool designatedImplicit = false;  ///< made up by the platform, not carried by the signature
};

/// One piece of code in the bundle.
struct Component {
    ComponentKind kind = ComponentKind::mainExecutable;
    /// Inside the bundle, '/'-separated, from the bundle's own folder ("Contents/…");
    /// for the main executable the bundle's executable path.
    std::string path;
    /// The bundle or file the component is, on disk; what verification is given.
    std::filesystem::path location;
    /// The component this one sits in: an index into the overview's list; none at the top.
    std::optional<std::size_t> parent;
    /// Where the walk found its code, so that reading it need not look again.
    std::optional<codesign::CodeLocation> code;
    ComponentIdentity identity;
    /// Filled in when verification answers.
    std::optional<ComponentCheck> check;
    /// What deserves a look: "unsigned", "adhoc", "team-mismatch", "privacy-beyond-main",
    /// "entitlements-mismatch", "identifier-mismatch", "risky-entitlement:KEY".
    std::vector<std::string> flags;
};

}  // namespace varko::overview
