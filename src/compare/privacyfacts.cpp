#include "compare/privacyfacts.h"

#include <QJsonArray>

#include "overview/overview.h"
#include "overview/privacycatalog.h"

namespace varko::compare {

namespace {

constexpr auto riskyFlag = QLatin1String("risky-entitlement:");

/// Whether comparing cares about an entitlement: it grants a privacy service or weakens
/// the hardened runtime.
bool worthComparing(const QString& entitlement) {
    const std::string key = entitlement.toStdString();
    return overview::PrivacyCatalog::builtIn().byEntitlement(key) != nullptr ||
           overview::isRiskyEntitlement(key);
}

void addRiskyFlags(PrivacyFacts& facts, const QJsonObject& component) {
    for (const QString& flag : strings(component.value("flags")))
        if (flag.startsWith(riskyFlag)) facts.entitlements.insert(flag.mid(riskyFlag.size()));
}

/// The report's "KEY : text" lines. A key holding " : " itself splits wrongly, which
/// only misnames it; the object's own usageDescriptions are read first where there.
std::map<QString, QString> parseUsageLines(const QString& text) {
    std::map<QString, QString> usage;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1String(" : "));
        if (colon <= 0) continue;
        usage.emplace(line.left(colon), line.mid(colon + 3));
    }
    return usage;
}

QJsonObject mainComponent(const QJsonObject& item) {
    for (const QJsonValue& v : item.value("components").toArray()) {
        const QJsonObject c = v.toObject();
        if (c.value("kind").toString() == QLatin1String("main-executable")) return c;
    }
    return {};
}

}  // namespace

QStringList strings(const QJsonValue& array) {
    QStringList list;
    for (const QJsonValue& v : array.toArray())
        if (v.isString()) list << v.toString();
    return list;
}

QString triState(const QJsonValue& value) {
    return value.isBool() ? yesNo(value.toBool()) : QStringLiteral("unknown");
}

QString yesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

PrivacyFacts componentPrivacy(const QJsonObject& component) {
    PrivacyFacts facts;
    const QJsonValue usage = component.value("usageDescriptions");
    if (usage.isObject()) {
        const QJsonObject texts = usage.toObject();
        for (auto it = texts.begin(); it != texts.end(); ++it)
            facts.usage.emplace(it.key(), it.value().toString());
    } else {
        for (const QString& key : strings(component.value("usageKeys")))
            facts.usage.emplace(key, QStringLiteral("declared"));
    }
    for (const QString& key : strings(component.value("entitlements")))
        if (worthComparing(key)) facts.entitlements.insert(key);
    addRiskyFlags(facts, component);
    for (const QString& name : strings(component.value("allowances")))
        facts.allowances.insert(name);
    facts.manifest = component.value("privacyManifest");
    return facts;
}

PrivacyFacts appPrivacy(const QJsonObject& item) {
    const QJsonObject main = mainComponent(item);
    PrivacyFacts facts = componentPrivacy(main);
    if (!main.value("usageDescriptions").isObject())
        facts.usage = parseUsageLines(item.value("usageStrings").toString());
    const QJsonArray services = item.value("privacyServices").toArray();
    if (!main.value("entitlements").isArray())
        for (const QJsonValue& v : services)
            for (const QString& key : strings(v.toObject().value("entitlements")))
                facts.entitlements.insert(key);
    if (!main.value("allowances").isArray())
        for (const QJsonValue& v : services)
            if (!strings(v.toObject().value("allowances")).isEmpty())
                facts.allowances.insert(v.toObject().value("service").toString());
    return facts;
}

ComponentMap componentsByPath(const QJsonObject& item) {
    ComponentMap map;
    for (const QJsonValue& v : item.value("components").toArray()) {
        const QJsonObject c = v.toObject();
        if (c.value("kind").toString() == QLatin1String("main-executable")) continue;
        map.emplace(c.value("path").toString(), c);
    }
    return map;
}

}  // namespace varko::compare
