#pragma once

#include <QJsonObject>
#include <QString>
#include <vector>

namespace varko::compare {

enum class Severity { high, medium, low };

/// One difference between two versions of an item.
struct Change {
    /// What changed: "teamIdentifier", "signer", "designatedRequirement" (a component's),
    /// "hardenedRuntime", "verdict", "sealed", "valid" (a component's), "usageKey",
    /// "entitlement", "allowance", "component", "privacyManifest", "identifier", "version", …
    QString what;
    QString key;        ///< which usage key, entitlement, component path, …; empty where none
    QString oldValue;   ///< empty when added
    QString newValue;   ///< empty when removed
    QString component;  ///< the component's path where the change is inside one; else empty
    Severity severity = Severity::low;
};

/// The changes from `oldItem` to `newItem`, each the object `varko-report --json` prints
/// for one item: most serious first (a different signer or team, the hardened runtime
/// lost, the verdict changed, a seal or a piece's validity lost), then privacy (usage keys added,
/// removed or reworded; entitlements and allowances; per component too), components added, removed
/// or signed by another, privacy manifests, identity and version; in a stable order within each.
[[nodiscard]] std::vector<Change> compareItems(const QJsonObject& oldItem,
                                               const QJsonObject& newItem);

/// "high", "medium", "low".
[[nodiscard]] QString severityName(Severity severity);

/// `{"old": …, "new": …, "changes": [{what, key, old, new, component, severity}, …]}`, with
/// `old` and `new` the items' objects.
[[nodiscard]] QJsonObject comparisonJson(const QJsonObject& oldItem, const QJsonObject& newItem,
                                         const std::vector<Change>& changes);

/// The changes for people: a line each, most serious first; "No changes." when none.
[[nodiscard]] QString comparisonText(const std::vector<Change>& changes);

/// What changed, in words, the item's texts made visible: "Team ID", "Usage description
/// NSCameraUsageDescription (Contents/XPCServices/Worker.xpc)".
[[nodiscard]] QString changeTitle(const Change& change);
/// The change's line of `comparisonText`, without its line feed:
/// "[high] Team ID: TEAM1 → TEAM2".
[[nodiscard]] QString changeLine(const Change& change);

}  // namespace varko::compare
