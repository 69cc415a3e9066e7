#include "report/inspectionreport.h"

#include <array>

#include "inspection/infoservice.h"
#include "overview/privacycatalog.h"
#include "tools/utf8.h"

namespace varko {

namespace {

void setSdkChecks(const QString& sdk, CheckStates& checks) {
    for (Check c : {Check::tensixteenCheck, Check::catalinaCheck, Check::mojaveCheck,
                    Check::hsCheck, Check::appleCheck})
        checks.set(c, false);
    // The first match ends the chain, so "10.14" wins over a later "11." in the same name.
    static const std::array<std::pair<const char*, Check>, 5> chain{{
        {"10.14", Check::mojaveCheck},
        {"10.13", Check::hsCheck},
        {"10.15", Check::catalinaCheck},
        {"10.16", Check::tensixteenCheck},
        {"11.", Check::tensixteenCheck},
    }};
    for (const auto& [needle, check] : chain) {
        if (sdk.contains(QLatin1String(needle))) {
            checks.set(check, true);
            break;
        }
    }
    if (sdk.contains(QLatin1String("nternal"))) checks.set(Check::appleCheck, true);
}

/// Whether the Info.plist declares the service under a key the platform takes today for the
/// same service as `named` (NSCalendarsFullAccessUsageDescription for calendars, say), by the
/// same rule as the named key: a text, empty or not, but not "[]".
bool declaredUnderAnotherKey(const Info& info, const char* named) {
    const overview::PrivacyService* service = overview::PrivacyCatalog::builtIn().byUsageKey(named);
    if (!service || !info.theDict) return false;
    for (const overview::UsageKey& usage : service->usageKeys) {
        if (usage.key == named) continue;
        if (const plist::Value* value = info.theDict->find(usage.key))
            if (const std::string* text = value->string(); text && *text != "[]") return true;
    }
    return false;
}

void setServiceChecks(const Info& info, CheckStates& checks) {
    for (const InfoService& s : infoServices) {
        checks.set(s.usageCheck, info.*s.usage != QLatin1String("[]") ||
                                     declaredUnderAnotherKey(info, s.usageKey));
        for (const ServiceGrant* grant : {&s.entitlement, &s.allowance})
            if (grant->check) checks.set(*grant->check, info.*grant->flag);
    }
}

}  // namespace

InspectionReport buildReport(const Info* info, bool isApp) {
    InspectionReport report;
    if (!info) return report;
    report.path = info->path();
    report.startsSignatureChecks = true;
    if (!isApp) return report;

    // Each of these is one line of the report; a value with line feeds must not be
    // able to write lines that look like the report's own.
    using host::visibleControls;
    report.saveString = "App path: " + visibleControls(report.path) + "\n";
    report.saveString += "app ID: " + visibleControls(info->bundleID) + "\n";
    report.appIDText = visibleControls(info->bundleID);
    report.saveString += "version: " + visibleControls(info->version) + "\n";
    report.versionText = visibleControls(info->version);
    report.saveString += "build: " + visibleControls(info->build) + "\n";
    report.saveString += "SDK version: " + visibleControls(info->sdk) + "\n";
    // Otherwise an unreadable Info.plist looks like one that declares nothing.
    if (!info->infoPlistProblem.isEmpty())
        report.saveString +=
            "⛔️ Info.plist not read: " + visibleControls(info->infoPlistProblem) + "\n";

    setSdkChecks(info->sdk, report.checks);

    report.saveString += "\nUsage Descriptions:\n" + info->usageStrings + "\n";
    setServiceChecks(*info, report.checks);
    report.saveString += "Entitlements:\n" + info->entitleList;
    return report;
}

}  // namespace varko
