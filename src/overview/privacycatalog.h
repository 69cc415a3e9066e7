#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"

namespace varko::overview {

/// One usage-description key of a service.
struct UsageKey {
    std::string key;
    bool legacy = false;  ///< replaced by another key in current macOS, still honoured or not
};

/// One privacy service that macOS asks the user about, as the data file lists it.
struct PrivacyService {
    std::string id;     ///< the file's own name for the row, e.g. "calendars"
    std::string title;  ///< as System Settings names it, e.g. "Calendars"
    /// The TCC service names, the first being the one the service is known by.
    std::vector<std::string> tccServices;
    std::vector<UsageKey> usageKeys;
    std::vector<std::string> entitlements;  ///< public entitlements that grant or ask for it
    std::vector<std::string> sources;       ///< the public documents the row comes from
};

/// Today's privacy services: every row of the data file, and lookups by each name.
class PrivacyCatalog {
public:
    /// The table compiled into the program.
    [[nodiscard]] static const PrivacyCatalog& builtIn();
    /// A table in the data file's JSON form; errors say which row and field is wrong.
    [[nodiscard]] static Expected<PrivacyCatalog> fromJson(std::string_view json);

    [[nodiscard]] const std::vector<PrivacyService>& services() const { return rows; }
    /// The service a key, TCC name or entitlement belongs to; null when none does.
    [[nodiscard]] const PrivacyService* byUsageKey(std::string_view key) const;
    [[nodiscard]] const PrivacyService* byTccService(std::string_view name) const;
    [[nodiscard]] const PrivacyService* byEntitlement(std::string_view entitlement) const;

private:
    std::vector<PrivacyService> rows;
    std::map<std::string, std::size_t, std::less<>> usageIndex, tccIndex, entitlementIndex;
};

/// Entitlements that hand out TCC services privately: arrays of kTCCService… names.
[[nodiscard]] bool isPrivateTccAllowance(std::string_view entitlement);

}  // namespace varko::overview
