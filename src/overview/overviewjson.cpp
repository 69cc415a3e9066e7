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
    o["tracking"] = optionalBool(manifest->tracking);
    o["trackingDomains"] = texts(manifest->trackingDomains);
    QJsonArray collected;
    for (const CollectedData& d : manifest->collectedData)
        collected.append(QJsonObject{{"type", text(d.type)},
                                     {"linked", optionalBool(d.linked)},
                                     {"tracking", optionalBool(d.tracking)},
                                     {"purposes", texts(d.purposes)}});
    o["collectedDataTypes"] = collected;
    QJsonArray apis;
    for (const AccessedApi& a : manifest->accessedApis)
        apis.append(QJsonObject{{"category", text(a.category)}, {"reasons", texts(a.reasons)}});
    o["accessedApiTypes"] = apis;
    o["problems"] = texts(manifest->problems);
    return o;
}

}  // namespace

QJsonObject verdictJson(const Verdict& verdict) {
    QJsonObject o;
    o["state"] = text(stateName(verdict.state));
    o["reason"] = text(verdict.reason);
    o["signer"] = text(verdict.signer);
    o["teamIdentifier"] =
        verdict.teamIdentifier ? QJsonValue(text(*verdict.teamIdentifier)) : QJsonValue();
    o["notarization"] = text(triName(verdict.notarization));
    o["revocation"] = text(triName(verdict.revocation));
    o["hardenedRuntime"] = text(triName(verdict.hardenedRuntime));
    o["sealed"] = text(triName(verdict.sealed));
    o["sealReason"] = text(verdict.sealReason);
    o["flaggedComponents"] = qint64(verdict.flagged);
    o["notChecked"] = texts(verdict.notChecked);
    return o;
}

QJsonArray componentsJson(const Overview& overview) {
    const PrivacyCatalog& catalog = PrivacyCatalog::builtIn();
    QJsonArray out;
    for (const Component& c : overview.components) {
        const ComponentIdentity& id = c.identity;
        QJsonObject o;
        o["path"] = text(c.path);
        o["kind"] = text(kindName(c.kind));
        o["identifier"] = text(id.identifier);
        o["version"] = text(id.version);
        o["signer"] = c.check ? QJsonValue(text(signerName(c.check->signer))) : QJsonValue();
        o["teamIdentifier"] =
            id.teamIdentifier ? QJsonValue(text(*id.teamIdentifier)) : QJsonValue();
        o["hardenedRuntime"] = id.hardenedRuntime;
        o["valid"] = c.check ? QJsonValue(c.check->valid) : QJsonValue();
        o["reason"] = text(c.check ? c.check->reason : std::string());
        o["errorCode"] = c.check && c.check->failure
                             ? QJsonValue(text(std::string(errorCodeName(*c.check->failure))))
                             : QJsonValue();
        o["intact"] = c.check && !c.check->unchecked ? QJsonValue(c.check->intact) : QJsonValue();
        const bool designated = c.check && !c.check->designatedRequirement.empty();
        o["designatedRequirement"] =
            designated ? QJsonValue(text(c.check->designatedRequirement)) : QJsonValue();
        o["designatedRequirementImplicit"] =
            designated ? QJsonValue(c.check->designatedImplicit) : QJsonValue();
        o["flags"] = texts(c.flags);
        o["privacyServices"] = texts(componentServices(catalog, id));
        QJsonArray keys;
        for (const auto& usage : id.usageDescriptions) keys.append(text(usage.first));
        o["usageKeys"] = keys;
        o["privacyManifest"] = manifestJson(id.privacyManifest);
        o["problems"] = texts(id.problems);
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
            o["granted"] = granted;
        }
        out.append(o);
    }
    return out;
}

}  // namespace varko::overview
