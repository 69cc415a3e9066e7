#include "compare/compare.h"

#include <QJsonArray>
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "compare/privacyfacts.h"
#include "tools/utf8.h"

namespace varko::compare {

namespace {

/// The order of kinds of change within one severity.
constexpr const char* whatOrder[] = {
    "teamIdentifier",  "signer",    "designatedRequirement",
    "hardenedRuntime", "verdict",   "sealed",
    "valid",           "usageKey",  "entitlement",
    "allowance",       "component", "privacyManifest",
    "identifier",      "version",
};

/// The values that say only that something is there.
const QStringList presenceWords{QStringLiteral("granted"), QStringLiteral("allowed"),
                                QStringLiteral("present"), QStringLiteral("declared")};

int whatRank(const QString& what) {
    const auto found = std::find(std::begin(whatOrder), std::end(whatOrder), what);
    return int(found - std::begin(whatOrder));
}

class Changes {
public:
    void add(const char* what, const QString& key, const QString& oldValue, const QString& newValue,
             const QString& component, Severity severity) {
        list.push_back({QLatin1String(what), key, oldValue, newValue, component, severity});
    }
    /// A change only where the values differ.
    void ifChanged(const char* what, const QString& key, const QString& oldValue,
                   const QString& newValue, const QString& component, Severity severity) {
        if (oldValue != newValue) add(what, key, oldValue, newValue, component, severity);
    }
    /// What one set has and the other lacks, each as added or removed with `present` as
    /// its value.
    void sets(const char* what, const std::set<QString>& before, const std::set<QString>& after,
              const QString& present, const QString& component, Severity severity) {
        for (const QString& key : before)
            if (!after.count(key)) add(what, key, present, {}, component, severity);
        for (const QString& key : after)
            if (!before.count(key)) add(what, key, {}, present, component, severity);
    }
    /// Keyed texts: added, removed, or changed. An empty text is named, so that the
    /// side that has it does not read as absent.
    void maps(const char* what, const std::map<QString, QString>& before,
              const std::map<QString, QString>& after, const QString& component,
              Severity severity) {
        const auto named = [](const QString& value) {
            return value.isEmpty() ? QStringLiteral("(empty)") : value;
        };
        for (const auto& [key, value] : before) {
            const auto other = after.find(key);
            if (other == after.end())
                add(what, key, named(value), {}, component, severity);
            else
                ifChanged(what, key, named(value), named(other->second), component, severity);
        }
        for (const auto& [key, value] : after)
            if (!before.count(key)) add(what, key, {}, named(value), component, severity);
    }

    std::vector<Change> list;
};

QString orNone(const QString& text, const QString& none) {
    return text.isEmpty() ? none : text;
}

/// A seal's state with its reason, so that a new way of being broken is a change too.
QString sealed(const QString& state, const QString& reason) {
    return reason.isEmpty() ? state : state + " (" + reason + ")";
}

/// A component's validity as verification found it; empty until it was checked.
QString validity(const QJsonObject& component) {
    const QJsonValue valid = component.value("valid");
    if (!valid.isBool()) return {};
    const QString reason = component.value("reason").toString();
    if (valid.toBool()) return QStringLiteral("valid");
    QString text = reason.isEmpty() ? QStringLiteral("invalid") : "invalid (" + reason + ")";
    // A chain no root vouches for says nothing of whether the code is as signed.
    if (component.value("intact") == QJsonValue(false) && !reason.contains("does not match"))
        text += QStringLiteral("; not as signed");
    return text;
}

/// Whether a piece of code lost what held before: its validity, or, where no trusted chain
/// makes it valid, its code, seal and nested code being as signed.
bool lostIntegrity(const QJsonObject& before, const QJsonObject& after) {
    const auto lost = [&](const char* key) {
        return before.value(key).toBool(false) && !after.value(key).toBool(false);
    };
    return lost("valid") || lost("intact");
}

void compareVerdicts(Changes& changes, const QJsonObject& before, const QJsonObject& after) {
    const auto field = [](const QJsonObject& o, const char* key) {
        return o.value(QLatin1String(key)).toString();
    };
    changes.ifChanged("teamIdentifier", {}, field(before, "teamIdentifier"),
                      field(after, "teamIdentifier"), {}, Severity::high);
    changes.ifChanged("signer", {}, field(before, "signer"), field(after, "signer"), {},
                      Severity::high);
    const QString runtimeBefore = field(before, "hardenedRuntime");
    const QString runtimeAfter = field(after, "hardenedRuntime");
    changes.ifChanged(
        "hardenedRuntime", {}, runtimeBefore, runtimeAfter, {},
        runtimeBefore == "yes" && runtimeAfter == "no" ? Severity::high : Severity::low);
    const QString stateBefore = field(before, "state");
    changes.ifChanged("verdict", {}, stateBefore, field(after, "state"), {},
                      stateBefore == "accepted" ? Severity::high : Severity::medium);
    // A seal that held and no longer does is tampering, whatever else stayed the same.
    const QString sealBefore = field(before, "sealed");
    const QString sealAfter = field(after, "sealed");
    changes.ifChanged(
        "sealed", {}, sealed(sealBefore, field(before, "sealReason")),
        sealed(sealAfter, field(after, "sealReason")), {},
        sealBefore == "yes" && sealAfter != "yes" ? Severity::high : Severity::medium);
}

/// What a manifest says, one keyed text per fact, so that two compare key by key.
std::map<QString, QString> manifestFacts(const QJsonValue& manifest) {
    std::map<QString, QString> facts;
    if (!manifest.isObject()) return facts;
    const QJsonObject o = manifest.toObject();
    facts["manifest"] = QStringLiteral("present");
    facts["tracking"] = triState(o.value("tracking"));
    for (const QString& domain : strings(o.value("trackingDomains")))
        facts["trackingDomain " + domain] = domain;
    for (const QJsonValue& v : o.value("collectedDataTypes").toArray()) {
        const QJsonObject d = v.toObject();
        const QString type = d.value("type").toString();
        facts["collectedDataType " + type] =
            QStringLiteral("linked %1, tracking %2, purposes: %3")
                .arg(triState(d.value("linked")), triState(d.value("tracking")),
                     strings(d.value("purposes")).join(", "));
    }
    for (const QJsonValue& v : o.value("accessedApiTypes").toArray()) {
        const QJsonObject a = v.toObject();
        facts["accessedApiType " + a.value("category").toString()] =
            "reasons: " + strings(a.value("reasons")).join(", ");
    }
    return facts;
}

void comparePrivacy(Changes& changes, const PrivacyFacts& before, const PrivacyFacts& after,
                    const QString& component) {
    changes.maps("usageKey", before.usage, after.usage, component, Severity::medium);
    changes.sets("entitlement", before.entitlements, after.entitlements, QStringLiteral("granted"),
                 component, Severity::medium);
    changes.sets("allowance", before.allowances, after.allowances, QStringLiteral("allowed"),
                 component, Severity::medium);
    changes.maps("privacyManifest", manifestFacts(before.manifest), manifestFacts(after.manifest),
                 component, Severity::low);
}

QString signing(const QJsonObject& component) {
    const QString signer = component.value("signer").toString();
    const QString team = component.value("teamIdentifier").toString();
    return team.isEmpty() ? signer : signer + " (" + team + ")";
}

/// macOS knows an update as the same code by its designated requirement: keychain items and
/// privacy grants stay with it only while it holds. A side read by an older Varko lacks it.
void compareDesignated(Changes& changes, const QJsonObject& before, const QJsonObject& after,
                       const QString& component) {
    const QJsonValue was = before.value("designatedRequirement");
    const QJsonValue is = after.value("designatedRequirement");
    if (!was.isUndefined() && !is.isUndefined())
        changes.ifChanged("designatedRequirement", {}, was.toString(), is.toString(), component,
                          Severity::high);
}

/// The main executable's object; empty when the item has none.
QJsonObject mainExecutable(const QJsonObject& item) {
    for (const QJsonValue& v : item.value("components").toArray())
        if (v["kind"].toString() == QLatin1String("main-executable")) return v.toObject();
    return {};
}

void compareComponents(Changes& changes, const QJsonObject& oldItem, const QJsonObject& newItem) {
    const ComponentMap before = componentsByPath(oldItem);
    const ComponentMap after = componentsByPath(newItem);
    for (const auto& [path, component] : before)
        if (!after.count(path))
            changes.add("component", path, component.value("kind").toString(), {}, path,
                        Severity::low);
    for (const auto& [path, component] : after) {
        const auto old = before.find(path);
        if (old == before.end()) {
            changes.add("component", path, {}, component.value("kind").toString(), path,
                        Severity::low);
            comparePrivacy(changes, {}, componentPrivacy(component), path);
            continue;
        }
        const QJsonObject& was = old->second;
        changes.ifChanged("component", path, signing(was), signing(component), path,
                          Severity::medium);
        compareDesignated(changes, was, component, path);
        const QString validBefore = validity(was);
        const QString validAfter = validity(component);
        changes.ifChanged("valid", {}, validBefore, validAfter, path,
                          lostIntegrity(was, component) ? Severity::high : Severity::medium);
        const bool runtimeBefore = was.value("hardenedRuntime").toBool();
        const bool runtimeAfter = component.value("hardenedRuntime").toBool();
        if (runtimeBefore != runtimeAfter)
            changes.add("hardenedRuntime", {}, yesNo(runtimeBefore), yesNo(runtimeAfter), path,
                        runtimeBefore ? Severity::medium : Severity::low);
        comparePrivacy(changes, componentPrivacy(was), componentPrivacy(component), path);
        changes.ifChanged("identifier", {}, was.value("identifier").toString(),
                          component.value("identifier").toString(), path, Severity::low);
        changes.ifChanged("version", {}, was.value("version").toString(),
                          component.value("version").toString(), path, Severity::low);
    }
}

}  // namespace

std::vector<Change> compareItems(const QJsonObject& oldItem, const QJsonObject& newItem) {
    Changes changes;
    compareVerdicts(changes, oldItem.value("verdict").toObject(),
                    newItem.value("verdict").toObject());
    compareDesignated(changes, mainExecutable(oldItem), mainExecutable(newItem), {});
    comparePrivacy(changes, appPrivacy(oldItem), appPrivacy(newItem), {});
    compareComponents(changes, oldItem, newItem);
    changes.ifChanged("identifier", {}, oldItem.value("bundleID").toString(),
                      newItem.value("bundleID").toString(), {}, Severity::low);
    changes.ifChanged("version", {}, oldItem.value("version").toString(),
                      newItem.value("version").toString(), {}, Severity::low);
    changes.ifChanged("version", QStringLiteral("build"), oldItem.value("build").toString(),
                      newItem.value("build").toString(), {}, Severity::low);

    std::vector<Change> list = std::move(changes.list);
    std::stable_sort(list.begin(), list.end(), [](const Change& a, const Change& b) {
        return std::tuple(int(a.severity), whatRank(a.what), a.component, a.key) <
               std::tuple(int(b.severity), whatRank(b.what), b.component, b.key);
    });
    return list;
}

QString severityName(Severity severity) {
    switch (severity) {
        case Severity::high:
            return QStringLiteral("high");
        case Severity::medium:
            return QStringLiteral("medium");
        case Severity::low:
            break;
    }
    return QStringLiteral("low");
}

QJsonObject comparisonJson(const QJsonObject& oldItem, const QJsonObject& newItem,
                           const std::vector<Change>& changes) {
    QJsonArray list;
    for (const Change& c : changes)
        list.append(QJsonObject{{"what", c.what},
                                {"key", c.key},
                                {"old", c.oldValue},
                                {"new", c.newValue},
                                {"component", c.component},
                                {"severity", severityName(c.severity)}});
    return QJsonObject{{"old", oldItem}, {"new", newItem}, {"changes", list}};
}

namespace {

QString whatTitle(const QString& what) {
    static const std::map<QString, QString> titles{
        {"teamIdentifier", "Team ID"},
        {"signer", "Signer"},
        {"designatedRequirement", "Designated requirement"},
        {"hardenedRuntime", "Hardened runtime"},
        {"verdict", "Verdict"},
        {"sealed", "Sealed"},
        {"valid", "Validity"},
        {"usageKey", "Usage description"},
        {"entitlement", "Entitlement"},
        {"allowance", "Private allowance"},
        {"component", "Component"},
        {"privacyManifest", "Privacy manifest"},
        {"identifier", "Identifier"},
        {"version", "Version"},
    };
    const auto found = titles.find(what);
    return found == titles.end() ? what : found->second;
}

/// Whether a kind of change is about something being there or not, rather than a value.
bool isPresence(const QString& what) {
    const int rank = whatRank(what);
    return rank >= whatRank(QStringLiteral("usageKey")) &&
           rank <= whatRank(QStringLiteral("privacyManifest"));
}

}  // namespace

QString changeTitle(const Change& change) {
    const QString title = whatTitle(change.what);
    const QString key = host::visibleControls(change.key);
    if (change.what == QLatin1String("component")) return title + " " + key;
    QString line = key.isEmpty() ? title : title + " " + key;
    if (!change.component.isEmpty()) line += " (" + host::visibleControls(change.component) + ")";
    return line;
}

namespace {

QString changeValues(const Change& change) {
    const QString before = host::visibleControls(change.oldValue);
    const QString after = host::visibleControls(change.newValue);
    const auto shown = [](const QString& value) {
        return presenceWords.contains(value) ? QString() : ": " + value;
    };
    if (isPresence(change.what) && change.oldValue.isEmpty()) return "added" + shown(after);
    if (isPresence(change.what) && change.newValue.isEmpty()) return "removed" + shown(before);
    return orNone(before, QStringLiteral("none")) + " → " + orNone(after, QStringLiteral("none"));
}

}  // namespace

QString changeLine(const Change& change) {
    return "[" + severityName(change.severity) + "] " + changeTitle(change) + ": " +
           changeValues(change);
}

QString comparisonText(const std::vector<Change>& changes) {
    if (changes.empty()) return QStringLiteral("No changes.\n");
    QString text;
    for (const Change& c : changes) text += changeLine(c) + "\n";
    return text;
}

}  // namespace varko::compare
