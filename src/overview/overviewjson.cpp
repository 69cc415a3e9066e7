#include "overview/overviewjson.h"

namespace varko::overview {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QJsonArray texts(const std::vector<std::string>& list) {
    QJsonArray out;
    for (const std::string& s : list) out.append(text(s));
    return out;
}

QJsonValue optionalBool(const std::optional<bool>& b) {
    return b ? QJsonValue(*b) : QJsonValue();
}

QJsonValue manifestJson(const std::optional<PrivacyManifest>& manifest) {
    if (!manifest) return QJsonValue();
    QJsonObject o;
    o.insert(QLatin1String("tracking"), optionalBool(manifest->tracking));
    o.insert(QLatin1String("trackingDomains"), texts(manifest->trackingDomains));
    QJsonArray collected;
    for (const CollectedData& d : manifest->collectedData)
        collected.append(QJsonObject{{"type", text(d.type)},
                                     {"linked", optionalBool(d.linked)},
                                     {"tracking", optionalBool(d.tracking)},
                                     {"purposes", texts(d.purposes)}});
    o.insert(QLatin1String("collectedDataTypes"), collected);
    QJsonArray apis;
    for (const AccessedApi& a : manifest->accessedApis)
        apis.append(QJsonObject{{"category", text(a.category)}, {"reasons", texts(a.reasons)}});
    o.insert(QLatin1String("accessedApiTypes"), apis);
    o.insert(QLatin1String("problems"), texts(manifest->problems));
    return o;
}

}  // namespace

QJsonObject verdictJson(const Verdict& verdict) {
    QJsonObject o;
    o.insert(QLatin1String("state"), text(stateName(verdict.state)));
    o.insert(QLatin1String("reason"), text(verdict.reason));
    o.insert(QLatin1String("signer"), text(verdict.signer));
    o.insert(QLatin1String("teamIdentifier"),
             verdict.teamIdentifier ? QJsonValue(text(*verdict.teamIdentifier)) : QJsonValue());
    o.insert(QLatin1String("notarization"), text(triName(verdict.notarization)));
    o.insert(QLatin1String("revocation"), text(triName(verdict.revocation)));
    o.insert(QLatin1String("hardenedRuntime"), text(triName(verdict.hardenedRuntime)));
    o.insert(QLatin1String("sealed"), text(triName(verdict.sealed)));
    o.insert(QLatin1String("sealReason"), text(verdict.sealReason));
    o.insert(QLatin1String("flaggedComponents"), qint64(verdict.flagged));
    o.insert(QLatin1String("notChecked"), texts(verdict.notChecked));
    return o;
}

QJsonArray componentsJson(const Overview& overview) {
    const PrivacyCatalog& catalog = PrivacyCatalog::builtIn();
    QJsonArray out;
    for (const Component& c : overview.components) {
        const ComponentIdentity& id = c.identity;
        QJsonObject o;
        o.insert(QLatin1String("path"), text(c.path));
        o.insert(QLatin1String("kind"), text(kindName(c.kind)));
        o.insert(QLatin1String("identifier"), text(id.identifier));
        o.insert(QLatin1String("version"), text(id.version));
        o.insert(QLatin1String("signer"),
                 c.check ? QJsonValue(text(signerName(c.check->signer))) : QJsonValue());
        o.insert(QLatin1String("teamIdentifier"),
                 id.teamIdentifier ? QJsonValue(text(*id.teamIdentifier)) : QJsonValue());
        o.insert(QLatin1String("hardenedRuntime"), id.hardenedRuntime);
        o.insert(QLatin1String("valid"), c.check ? QJsonValue(c.check->valid) : QJsonValue());
        o.insert(QLatin1String("reason"), text(c.check ? c.check->reason : std::string()));
        o.insert(QLatin1String("errorCode"),
                 c.check && c.check->failure
                     ? QJsonValue(text(std::string(errorCodeName(*c.check->failure))))
                     : QJsonValue());
        o.insert(QLatin1String("intact"),
                 c.check && !c.check->unchecked ? QJsonValue(c.check->intact) : QJsonValue());
        const bool designated = c.check && !c.check->designatedRequirement.empty();
        o.insert(QLatin1String("designatedRequirement"),
                 designated ? QJsonValue(text(c.check->designatedRequirement)) : QJsonValue());
        o.insert(QLatin1String("designatedRequirementImplicit"),
                 designated ? QJsonValue(c.check->designatedImplicit) : QJsonValue());
        o.insert(QLatin1String("flags"), texts(c.flags));
        o.insert(QLatin1String("privacyServices"), texts(componentServices(catalog, id)));
        QJsonArray keys;
        for (const auto& usage : id.usageDescriptions) keys.append(text(usage.first));
        o.insert(QLatin1String("usageKeys"), keys);
        o.insert(QLatin1String("privacyManifest"), manifestJson(id.privacyManifest));
        o.insert(QLatin1String("problems"), texts(id.problems));
        out.append(o);
    }
    return out;
}

QJsonObject grantJson(const privacy::Grant& grant) {
    const privacy::TccRow& row = grant.row;
    const auto number = [](const std::optional<std::int64_t>& n) {
        return n ? QJsonValue(qint64(*n)) : QJsonValue();
    };
    QJsonValue clientType = qint64(row.clientType);
    if (row.clientType == privacy::clientBundleIdentifier) clientType = "bundleID";
    if (row.clientType == privacy::clientPath) clientType = "path";
    return QJsonObject{
        {"authorization", text(privacy::authorizationName(row.authValue))},
        {"authValue", qint64(row.authValue)},
        {"reason",
         row.authReason ? QJsonValue(text(privacy::reasonText(*row.authReason))) : QJsonValue()},
        {"authReason", number(row.authReason)},
        {"lastModified", number(row.lastModified)},
        {"client", text(row.client)},
        {"clientType", clientType},
        {"appleEventsTarget",
         row.indirectObject.empty() ? QJsonValue() : QJsonValue(text(row.indirectObject))},
        {"codeRequirement",
         grant.requirementText.empty() ? QJsonValue() : QJsonValue(text(grant.requirementText))},
        {"build", text(privacy::matchName(grant.match))},
        {"buildText", text(privacy::matchText(grant))},
    };
}

QJsonArray servicesJson(const Overview& overview) {
    QJsonArray out;
    for (const ServiceUse& s : overview.services) {
        QJsonObject o{{"service", text(s.service)},
                      {"title", text(s.title)},
                      {"known", s.known},
                      {"usageKeys", texts(s.usageKeys)},
                      {"entitlements", texts(s.entitlements)},
                      {"allowances", texts(s.allowances)},
                      {"components", texts(s.components)}};
        if (overview.grantsRead) {
            QJsonArray granted;
            for (const privacy::Grant& g : s.grants) granted.append(grantJson(g));
            o.insert(QLatin1String("granted"), granted);
        }
        out.append(o);
    }
    return out;
}

}  // namespace varko::overview
