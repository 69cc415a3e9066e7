#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/itemfile.h"
#include "overview/components.h"
#include "overview/privacycatalog.h"
#include "overview/privacyservices.h"

namespace varko::overview {

/// The most components one bundle lists, and how deep bundles nest inside it: a hostile
/// bundle must not make the walk endless or the window's lists unbounded.
inline constexpr std::size_t maxComponents = 5000;
inline constexpr int maxNesting = 8;

/// Everything about a bundle's code that reading its files tells, before verification.
struct Overview {
    bool isApp = false;
    /// The main executable first, then the rest in the order the walk found them; a
    /// component's parent always comes before it.
    std::vector<Component> components;
    bool componentsCut = false;  ///< the walk stopped at maxComponents or maxNesting
    /// Privacy manifests past a bound on all of them together were not read.
    bool manifestsCut = false;
    std::vector<ServiceUse> services;
    /// A privacy database was read for the app: every service says what it granted.
    bool grantsRead = false;
    /// What kept the walk from the bundle at all (not a bundle, unreadable); none if nothing.
    std::optional<Error> problem;
    /// What the walk could not look at inside the bundle ("a folder could not be read: …"):
    /// code may hide there, so no summary may claim every piece while any is listed.
    std::vector<std::string> problems;
};

/// Finds every piece of code in the bundle at `item` and reads each one's identity,
/// entitlements, usage descriptions and privacy manifest, then the flags and services.
/// Reads only inside the item; never fails: what goes wrong ends up as content.
[[nodiscard]] Overview readOverview(const std::filesystem::path& item,
                                    const PrivacyCatalog& catalog = PrivacyCatalog::builtIn());

/// Reads each component's identity: its Info.plist, its signature's own claims and
/// entitlements, and its privacy manifest, from inside `root` only.
void readIdentities(Overview& overview, const ItemRoot& root);

/// The flags of every component, from what is known of them so far: their identities,
/// and their checks where verification has answered.
void flagComponents(Overview& overview, const PrivacyCatalog& catalog);
/// The flags of the components at `only` alone: enough when none of them is the main
/// executable, whose answer decides the others' flags too.
void flagComponents(Overview& overview, const PrivacyCatalog& catalog,
                    std::span<const std::size_t> only);

/// Entitlements that weaken the hardened runtime or reach into the system: worth a look.
[[nodiscard]] bool isRiskyEntitlement(std::string_view key);

}  // namespace varko::overview
