#pragma once

// A configuration profile that sets an app's privacy services in advance across a fleet: a
// .mobileconfig with one Privacy Preferences Policy Control payload. Keys, types and rules
// are those of Apple's device-management schema (github.com/apple/device-management:
// mdm/profiles/TopLevel.yaml, CommonPayloadKeys.yaml and
// com.apple.TCC.configuration-profile-policy.yaml).

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"
#include "overview/overview.h"
#include "signing/trust.h"

namespace varko::overview {

inline constexpr std::string_view pppcPayloadType = "com.apple.TCC.configuration-profile-policy";

/// What a profile may say of a service, by the payload's own rules.
enum class ProfileGrant {
    allow,  ///< `Allow`
    /// `Deny`: the payload can't grant it, only deny it (Camera, Microphone).
    denyOnly,
    /// `AllowStandardUserToSetSystemService`: the payload can't grant it, but may let a
    /// standard user switch it on, which otherwise takes an administrator (ScreenCapture,
    /// ListenEvent).
    standardUserSets,
};

/// The payload's key for a TCC service name (kTCCServiceCamera → Camera) and what it may
/// say of it; none when the payload has no key for the service.
struct ProfileService {
    std::string_view key;
    ProfileGrant grant = ProfileGrant::allow;
};
[[nodiscard]] std::optional<ProfileService> profileService(std::string_view tccName);

/// The most Apple-event receivers one profile names; past it the rest are left out.
inline constexpr std::size_t maxProfileReceivers = 256;

/// How a profile names an app: its bundle identifier and its designated requirement.
struct ProfileIdentity {
    std::string bundleId;
    std::string requirement;
    bool adhoc = false;  ///< the requirement names this build's cdhashes
};

/// The app `overview` describes as a profile names it. Fails in words for what is no app,
/// has no bundle identifier, is not signed, or has a requirement that can't be read or that
/// a profile can't hold.
[[nodiscard]] Expected<ProfileIdentity> profileIdentity(
    const Overview& overview,
    const signing::TrustAnchors& appleRoots = signing::TrustAnchors::apple());

struct PrivacyProfile {
    std::string xml;  ///< the .mobileconfig: an XML property list
    /// What the profile denies, leaves out or can't vouch for, a sentence each.
    std::vector<std::string> warnings;
};

/// The profile for the app `overview` describes, named by its profileIdentity, with an entry
/// for every service that it or its code inside declares, holds an entitlement for or is
/// allowed, where the payload has a key for it. Apple events get an entry per receiver: each
/// of `receivers`, by its own requirement, then each that the app's entitlements name, by
/// its identifier alone (with a warning). Helpers inside an app take its permissions, so
/// they need no entries of their own. Ad hoc code is named by its cdhash, which holds for
/// this build alone: written, with a warning. Fails as profileIdentity does, and for an app
/// that uses no service a profile can set.
[[nodiscard]] Expected<PrivacyProfile> privacyProfile(
    const Overview& overview, std::span<const ProfileIdentity> receivers = {},
    const PrivacyCatalog& catalog = PrivacyCatalog::builtIn(),
    const signing::TrustAnchors& appleRoots = signing::TrustAnchors::apple());

}  // namespace varko::overview
