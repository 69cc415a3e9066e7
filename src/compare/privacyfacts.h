#pragma once

// What comparing reads from one item's JSON object: the privacy facts of the app and of
// each component, whichever keys the object has. The object is hostile: any key may be
// missing or of another type, and then counts as empty.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <map>
#include <set>

namespace varko::compare {

/// What one piece of code declares, holds and is allowed about privacy.
struct PrivacyFacts {
    /// Usage keys with their texts ("declared" where only the key is known).
    std::map<QString, QString> usage;
    /// Entitlements that grant a privacy service, and the risky ones.
    std::set<QString> entitlements;
    /// TCC services it is privately allowed.
    std::set<QString> allowances;
    QJsonValue manifest;  ///< its privacy manifest's object, or null
};

/// The app's own facts: its main executable's, from its component's object where that
/// has them, else from the item's `usageStrings` and `privacyServices`.
[[nodiscard]] PrivacyFacts appPrivacy(const QJsonObject& item);
/// One component's facts, from its object.
[[nodiscard]] PrivacyFacts componentPrivacy(const QJsonObject& component);

using ComponentMap = std::map<QString, QJsonObject>;
/// The item's components other than the main executable, by path; the first of a path.
[[nodiscard]] ComponentMap componentsByPath(const QJsonObject& item);

/// The texts of an array, skipping what is not text.
[[nodiscard]] QStringList strings(const QJsonValue& array);
/// "yes", "no", or "unknown" for anything but a boolean.
[[nodiscard]] QString triState(const QJsonValue& value);
[[nodiscard]] QString yesNo(bool value);

}  // namespace varko::compare
