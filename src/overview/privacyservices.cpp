#include "overview/privacyservices.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace varko::overview {

namespace {

constexpr std::string_view usageSuffix = "UsageDescription";

/// How a component comes to a service.
enum class Way { declares, holds, isAllowed };

/// One service a component uses: a table row, or a name the table doesn't know.
struct Use {
    const PrivacyService* row = nullptr;
    std::string unknownName;  ///< when row is null
    Way way = Way::declares;
    std::string name;  ///< the usage key, entitlement, or the allowance entitlement
};

void appendOnce(std::vector<std::string>& list, std::string_view value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
        list.emplace_back(value);
    }
}

// Whether an entitlement's value grants what it names: only an explicit false does not.
bool counts(const plist::Value& value) {
    const bool* flag = value.boolean();
    return flag == nullptr || *flag;
}

/// Each (allowance entitlement, TCC name) pair, in order, a name once however often named.
std::vector<std::pair<std::string_view, std::string_view>> allowancePairs(
    const ComponentIdentity& identity) {
    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    std::set<std::string_view> seen;
    for (const auto& [key, value] : identity.entitlements) {
        const plist::Array* names = value.array();
        if (!isPrivateTccAllowance(key) || names == nullptr) {
            continue;
        }
        for (const plist::Value& item : *names) {
            const std::string* name = item.string();
            if (name != nullptr && !name->empty() && seen.insert(*name).second) {
                pairs.emplace_back(key, *name);
            }
        }
    }
    return pairs;
}

/// What one component declares, holds and is allowed, in that order.
std::vector<Use> usesOf(const PrivacyCatalog& catalog, const ComponentIdentity& identity) {
    std::vector<Use> uses;
    for (const auto& [key, text] : identity.usageDescriptions) {
        if (!key.ends_with(usageSuffix)) {
            continue;
        }
        const PrivacyService* row = catalog.byUsageKey(key);
        uses.push_back({row, row ? std::string() : key, Way::declares, key});
    }
    // Entitlements the table doesn't list are not privacy services: only its rows count.
    for (const auto& [key, value] : identity.entitlements) {
        if (const PrivacyService* row = catalog.byEntitlement(key); row && counts(value)) {
            uses.push_back({row, {}, Way::holds, key});
        }
    }
    for (const auto& [entitlement, name] : allowancePairs(identity)) {
        const PrivacyService* row = catalog.byTccService(name);
        uses.push_back({row, row ? std::string() : std::string(name), Way::isAllowed,
                        std::string(entitlement)});
    }
    return uses;
}

/// The name a row goes by: its first TCC name, else its first usage key, else its first
/// entitlement (a service kept outside TCC).
std::string serviceName(const PrivacyService& row) {
    if (!row.tccServices.empty()) {
        return row.tccServices.front();
    }
    if (!row.usageKeys.empty()) {
        return row.usageKeys.front().key;
    }
    return row.entitlements.empty() ? row.id : row.entitlements.front();
}

/// Rows in the table's order, then unknown names in the order met.
class ServiceList {
public:
    explicit ServiceList(const PrivacyCatalog& catalog) : catalog(catalog) {}

    ServiceUse& slot(const Use& use) {
        if (use.row != nullptr) {
            const auto row = static_cast<std::size_t>(use.row - catalog.services().data());
            auto [it, added] = known.try_emplace(row);
            if (added) {
                it->second.service = serviceName(*use.row);
                it->second.title = use.row->title;
            }
            return it->second;
        }
        auto [it, added] = unknownIndex.try_emplace(use.unknownName, unknown.size());
        if (added) {
            ServiceUse& entry = unknown.emplace_back();
            entry.service = use.unknownName;
            entry.title = use.unknownName;
            entry.known = false;
        }
        return unknown[it->second];
    }

    std::vector<ServiceUse> take() && {
        std::vector<ServiceUse> all;
        all.reserve(known.size() + unknown.size());
        for (auto& [row, use] : known) {
            all.push_back(std::move(use));
        }
        std::move(unknown.begin(), unknown.end(), std::back_inserter(all));
        return all;
    }

private:
    const PrivacyCatalog& catalog;
    std::map<std::size_t, ServiceUse> known;  // keyed by row, so in the table's order
    std::vector<ServiceUse> unknown;
    std::map<std::string, std::size_t, std::less<>> unknownIndex;
};

}  // namespace

std::vector<std::string> privateAllowances(const ComponentIdentity& identity) {
    std::vector<std::string> names;
    for (const auto& [entitlement, name] : allowancePairs(identity)) {
        names.emplace_back(name);
    }
    return names;
}

std::vector<ServiceUse> privacyServices(const PrivacyCatalog& catalog,
                                        std::span<const Component> components) {
    ServiceList list(catalog);
    for (std::size_t i = 0; i < components.size(); ++i) {
        for (const Use& use : usesOf(catalog, components[i].identity)) {
            ServiceUse& entry = list.slot(use);
            if (i > 0) {
                appendOnce(entry.components, components[i].path);
                continue;
            }
            switch (use.way) {
                case Way::declares:
                    appendOnce(entry.usageKeys, use.name);
                    break;
                case Way::holds:
                    appendOnce(entry.entitlements, use.name);
                    break;
                case Way::isAllowed:
                    appendOnce(entry.allowances, use.name);
                    break;
            }
        }
    }
    return std::move(list).take();
}

std::vector<std::string> componentServices(const PrivacyCatalog& catalog,
                                           const ComponentIdentity& identity) {
    ServiceList list(catalog);
    for (const Use& use : usesOf(catalog, identity)) {
        list.slot(use);
    }
    std::vector<std::string> names;
    for (ServiceUse& use : std::move(list).take()) {
        names.push_back(std::move(use.service));
    }
    return names;
}

void addGrants(std::vector<ServiceUse>& services, const std::vector<privacy::Grant>& grants,
               const PrivacyCatalog& catalog) {
    for (ServiceUse& use : services) use.grants.clear();
    // Only services that nothing uses and nothing grants any more go again.
    std::erase_if(services, [](const ServiceUse& use) {
        return use.usageKeys.empty() && use.entitlements.empty() && use.allowances.empty() &&
               use.components.empty();
    });
    for (const privacy::Grant& grant : grants) {
        const PrivacyService* row = catalog.byTccService(grant.row.service);
        const std::string name = row != nullptr ? serviceName(*row) : grant.row.service;
        auto use = std::find_if(services.begin(), services.end(),
                                [&](const ServiceUse& u) { return u.service == name; });
        if (use == services.end()) {
            ServiceUse& added = services.emplace_back();
            added.service = name;
            added.title = row != nullptr ? row->title : name;
            added.known = row != nullptr;
            use = services.end() - 1;
        }
        use->grants.push_back(grant);
    }
}

}  // namespace varko::overview
