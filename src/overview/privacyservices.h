#pragma once

#include <span>
#include <string>
#include <vector>

#include "overview/components.h"
#include "overview/privacycatalog.h"
#include "privacy/tccgrants.h"

namespace varko::overview {

/// What the app and its components ask for and hold of one privacy service.
struct ServiceUse {
    /// The TCC service name (kTCCService…), or the usage key for a service without one,
    /// or for one the table doesn't know.
    std::string service;
    std::string title;  ///< the table's title; for an unknown one, the name itself
    bool known = true;
    /// Of the main executable: usage keys its Info.plist declares, public entitlements it
    /// holds, and private allowances (the entitlement that names the service).
    std::vector<std::string> usageKeys;
    std::vector<std::string> entitlements;
    std::vector<std::string> allowances;
    /// Paths of the other components that declare, hold or are allowed it.
    std::vector<std::string> components;
    /// What an opened privacy database holds for the app: one row, or one per receiver of
    /// Apple events.
    std::vector<privacy::Grant> grants;
};

/// The TCC names a component is privately allowed: every string in the arrays of its
/// private allowance entitlements, in order, without repeats.
[[nodiscard]] std::vector<std::string> privateAllowances(const ComponentIdentity& identity);

/// Every service that the main executable (components[0]) or any other component uses,
/// in the table's order, then the unknown ones in the order met. A usage key or TCC name
/// the table doesn't know is listed as unknown, never dropped.
[[nodiscard]] std::vector<ServiceUse> privacyServices(const PrivacyCatalog& catalog,
                                                      std::span<const Component> components);

/// Puts each grant on its service's row; a service granted but not used gets a row of its
/// own after the others, titled by the table. Grants already there are replaced.
void addGrants(std::vector<ServiceUse>& services, const std::vector<privacy::Grant>& grants,
               const PrivacyCatalog& catalog);

/// The TCC service names (or usage keys, as above) one component declares, holds or is
/// allowed, for its row in the components view.
[[nodiscard]] std::vector<std::string> componentServices(const PrivacyCatalog& catalog,
                                                         const ComponentIdentity& identity);

}  // namespace varko::overview
