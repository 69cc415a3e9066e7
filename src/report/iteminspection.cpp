#include "report/iteminspection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "inspection/infoservice.h"
#include "inspection/itemtype.h"
#include "overview/componentcheck.h"
#include "overview/overviewjson.h"
#include "overview/privacyservices.h"
#include "report/payloadjson.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/hashbudget.h"
#include "tools/pathbytes.h"

namespace varko {

namespace {

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

/// What comparing two versions needs of each component beyond its object's own keys: the
/// texts of its usage descriptions, the entitlements its signature holds, and the TCC
/// services it is privately allowed.
QJsonArray componentsWithPrivacy(const overview::Overview& overview) {
    QJsonArray out = overview::componentsJson(overview);
    for (qsizetype i = 0; i < out.size() && i < qsizetype(overview.components.size()); ++i) {
        const overview::ComponentIdentity& id = overview.components[size_t(i)].identity;
        QJsonObject o = out[i].toObject();
        QJsonObject usage;
        for (const auto& [key, description] : id.usageDescriptions)
            usage[text(key)] = text(description);
        o.insert(QLatin1String("usageDescriptions"), usage);
        QJsonArray entitlements;
        for (const auto& [key, value] : id.entitlements) entitlements.append(text(key));
        o.insert(QLatin1String("entitlements"), entitlements);
        QJsonArray allowances;
        for (const std::string& name : overview::privateAllowances(id))
            allowances.append(text(name));
        o.insert(QLatin1String("allowances"), allowances);
        out[i] = o;
    }
    return out;
}

/// What codesign and spctl answer on an app that holds no code, an empty bundle or one
/// whose main executable isn't there: "PATH: bundle format unrecognized, invalid, or
/// unsuitable" on standard error, status 1. Told here from the same files the tools would
/// read, so that a folder of ten thousand empty bundles starts no process at all.
host::ToolSet answeringForNoCode(const host::ToolSet& tools) {
    return tools.withKnownAnswers([](const QString& launchPath, const QStringList& arguments,
                                     host::Capture capture) -> std::optional<host::ToolResult> {
        if ((launchPath != QLatin1String(host::codesignPath) &&
             launchPath != QLatin1String(host::spctlPath)) ||
            arguments.isEmpty() || arguments.contains(QLatin1String("--verify")))
            return std::nullopt;
        // Told again for each run, from the path the tool would be given.
        const QByteArray path = host::pathToSystem(arguments.last());
        const auto located = codesign::locateCode(path.toStdString());
        if (located || located.error().code != ErrorCode::unsupported) return std::nullopt;
        host::ToolResult answer;
        answer.started = true;
        answer.exitStatus = 1;
        if (capture == host::Capture::Both)
            answer.standardError =
                path + ": " + QByteArray::fromStdString(located.error().message) + "\n";
        return answer;
    });
}

/// Whether the app at `path` holds no code for the signature tools to look at.
bool holdsNoCode(const QString& path) {
    const auto located = codesign::locateCode(host::pathToSystem(path).toStdString());
    return !located && located.error().code == ErrorCode::unsupported;
}

}  // namespace

bool Inspection::toolFailed() const {
    return signature.toolFailed || (document.theInfo && document.theInfo->entitlementRunFailed);
}

bool Inspection::checksCut() const {
    return overview &&
           std::any_of(overview->components.begin(), overview->components.end(),
                       [](const overview::Component& c) { return c.check && c.check->unchecked; });
}

namespace {

/// What a package would install, and each app in it inspected from a copy in a private
/// folder that is gone when this returns.
void inspectPayload(Inspection& item, const std::filesystem::path& path, const host::ToolSet& tools,
                    const Work& work) {
    const package::PrivateFolder folder;
    if (folder.path().empty()) {
        item.payload = package::readPackageContents(path);
        return;
    }
    package::PayloadBudget budget;
    budget.cancel = work.cancel.get();
    item.payload =
        package::extractPackageApps(path, {folder.path(), package::maxExtractedBytes}, budget);
    if (!*item.payload) return;
    item.payloadInspections = inspectPayloadApps(**item.payload, tools, work, item.path);
    for (const PayloadApp& app : item.payloadInspections) {
        const Inspection& inner = app.inspection;
        const bool isApp = app.kind == package::CodeKind::app;
        QJsonObject o{{"path", text(app.installedPath)},
                      {"kind", QLatin1String(package::codeKindName(app.kind))},
                      {"privacyServices",
                       inner.overview ? overview::servicesJson(*inner.overview) : QJsonArray()}};
        if (isApp) {
            o.insert(QLatin1String("bundleID"),
                     inner.document.theInfo ? inner.document.theInfo->bundleID : QString());
            o.insert(QLatin1String("verdict"), overview::verdictJson(inner.verdict));
        }
        if (inner.overview && !inner.overview->components.empty()) {
            const QJsonObject main = overview::componentsJson(*inner.overview).first().toObject();
            for (const char* key : {"signer", "teamIdentifier", "designatedRequirement", "valid"})
                o[QLatin1String(key)] = main.value(QLatin1String(key));
            if (!isApp) o["bundleID"] = main.value(QLatin1String("identifier"));
        }
        item.payloadApps.append(o);
    }
}

}  // namespace

std::vector<PayloadApp> inspectPayloadApps(const package::PackageContents& contents,
                                           const host::ToolSet& tools, const Work& work,
                                           const QString& packagePath) {
    std::vector<PayloadApp> out;
    for (const package::ExtractedApp& app : contents.apps) {
        if (work.cancelled()) break;
        PayloadApp inspected{app.installedPath, app.onDisk, app.kind, {}};
        Inspection& inner = inspected.inspection;
        inner.path = host::pathFromSystem(QByteArray::fromStdString(app.onDisk.string()));
        if (app.kind == package::CodeKind::app) {
            inner.typeName = QString::fromLatin1(applicationBundleType);
            if (!packagePath.isEmpty()) {
                // The copy's folder stands for where the package installs: the two paths
                // end alike, in the app's path inside its payload.
                const std::string inPayload = app.onDisk.lexically_relative(app.copyBase).string();
                std::string location =
                    app.installedPath.ends_with(inPayload)
                        ? app.installedPath.substr(0, app.installedPath.size() - inPayload.size())
                        : std::string();
                while (location.ends_with('/')) location.pop_back();
                inner.container = Inspection::Container{
                    packagePath, QString::fromStdString(app.installedPath),
                    host::pathFromSystem(QByteArray::fromStdString(app.copyBase.native())),
                    packagePath + u'!' + QString::fromStdString(location)};
            }
            inspect(inner, tools, true, work);
        } else {
            const Work::Scope scope(work);
            inner.overview = overview::readOverview(app.onDisk);
            overview::checkComponents(*inner.overview, app.onDisk, tools, work);
            // Who signed it, in the verdict's words; its state stays unknown.
            inner.verdict.signer = overview::judge(true, &*inner.overview, std::nullopt, {}).signer;
        }
        out.push_back(std::move(inspected));
    }
    return out;
}

void inspect(Inspection& item, const host::ToolSet& givenTools, bool wholeApp, const Work& work) {
    const Work::Scope scope(work);
    // Every pass below looks for the same code, opens it and reads the same folders and small
    // files again, and the checks and the tools run in this process verify it again: each
    // piece is found, listed, read, hashed and verified once.
    codesign::LocatedCode located;
    const codesign::LocatedCode::Scope locatedHere(&located);
    const codesign::HashBudget::SharedResults verified;
    ReadFiles files;
    const ReadFiles::Scope filesHere(&files);
    codesign::OpenedCode opened;
    const codesign::OpenedCode::Scope openedHere(&opened);
    item.noCode = item.typeName == QLatin1String(applicationBundleType) && holdsNoCode(item.path);
    const host::ToolSet tools = item.noCode ? answeringForNoCode(givenTools) : givenTools;
    item.document.readFromURL(QUrl::fromLocalFile(item.path), item.typeName, tools, work.cancel);
    if (work.cancelled()) return;
    item.report = buildReport(item.document.theInfo.get(), item.document.isApp);
    item.signature = runSignatureTools(tools, item.document.isApp, item.report.path, work.cancel);
    item.findings = item.signature.findings;
    const SignatureSections sections = signatureSections(item.document.isApp, item.signature);
    item.fullText = item.report.saveString + sections.assessment + sections.signature;
    if (item.container)
        item.fullText.replace(item.container->copyFolder, item.container->shownFolder);
    if (!wholeApp || work.cancelled()) return;
    const std::filesystem::path path = host::pathToSystem(item.path).toStdString();
    if (item.document.isApp) {
        item.overview = overview::readOverview(path);
        overview::checkComponents(*item.overview, path, tools, work);
    }
    if (item.document.isPackage) inspectPayload(item, path, tools, work);
    const bool online = tools.profile().assessesOnline;
    item.verdict =
        overview::judge(item.document.isApp, item.overview ? &*item.overview : nullptr,
                        item.signature.gatekeeper, {online, online}, item.signature.notAPackage);
}

QJsonObject inspectionJson(const Inspection& item) {
    const Info& info = *item.document.theInfo;
    QJsonObject o;
    o.insert(QLatin1String("path"), item.path);
    o.insert(QLatin1String("type"), item.typeName);
    o.insert(QLatin1String("isApp"), item.document.isApp);
    o.insert(QLatin1String("isPackage"), item.document.isPackage);
    const std::pair<const char*, const QString*> texts[] = {
        {"bundleID", &info.bundleID},
        {"version", &info.version},
        {"build", &info.build},
        {"sdk", &info.sdk},
        {"usageStrings", &info.usageStrings},
        {"entitleList", &info.entitleList},
    };
    for (const auto& [name, value] : texts) o.insert(QLatin1String(name), *value);
    if (!info.infoPlistProblem.isEmpty()) o["infoPlistProblem"] = info.infoPlistProblem;
    for (const InfoService& s : infoServices) {
        o.insert(QLatin1String(s.usageField), info.*s.usage);
        for (const ServiceGrant* grant : {&s.entitlement, &s.allowance})
            if (grant->field) o.insert(QLatin1String(grant->field), info.*grant->flag);
    }

    // A package leaves the record's checkboxes as the window first shows them: off.
    QJsonObject checks;
    for (int i = 0; i < checkCount; ++i) {
        const Check c = Check(i);
        const std::optional<bool> state = item.findings.get(c);
        checks[checkName(c)] = state ? *state : item.report.checks.isOn(c);
    }
    o.insert(QLatin1String("checks"), checks);
    o.insert(QLatin1String("assessmentText"), item.signature.assessmentText);
    o.insert(QLatin1String("signatureText"), item.signature.signatureText);
    o.insert(QLatin1String("report"), item.fullText);
    o.insert(QLatin1String("verdict"), overview::verdictJson(item.verdict));
    o.insert(QLatin1String("components"),
             item.overview ? componentsWithPrivacy(*item.overview) : QJsonArray());
    if (item.overview) {
        o.insert(QLatin1String("componentsCut"), item.overview->componentsCut);
        o.insert(QLatin1String("manifestsCut"), item.overview->manifestsCut);
        QJsonArray problems;
        for (const std::string& p : item.overview->problems) problems.append(text(p));
        o.insert(QLatin1String("walkProblems"), problems);
    }
    o.insert(QLatin1String("privacyServices"),
             item.overview ? overview::servicesJson(*item.overview) : QJsonArray());
    if (item.payload && *item.payload) {
        QJsonObject payload = payloadJson(**item.payload);
        if (!item.payloadApps.isEmpty()) payload["apps"] = item.payloadApps;
        o.insert(QLatin1String("payload"), payload);
    }
    if (item.payload && !*item.payload)
        o.insert(QLatin1String("payload"),
                 QJsonObject{{"problem", text(item.payload->error().message)},
                             {"errorCode",
                              QString::fromLatin1(errorCodeName(item.payload->error().code))}});
    if (!item.container) return o;
    o.insert(QLatin1String("container"), QJsonObject{{"path", item.container->path},
                                                     {"pathInside", item.container->pathInside}});
    // The copy goes when the run ends: every path the tools gave names the container instead.
    // Replaced in the JSON text, each as JSON spells it, so that no string is missed.
    const auto spelled = [](const QString& s) {
        const QByteArray array = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
        return array.mid(2, array.size() - 4);
    };
    QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    json.replace(spelled(item.container->copyFolder), spelled(item.container->shownFolder));
    const QJsonDocument rebased = QJsonDocument::fromJson(json);
    if (!rebased.isObject()) return o;
    o = rebased.object();
    o.insert(QLatin1String("container"), QJsonObject{{"path", item.container->path},
                                                     {"pathInside", item.container->pathInside}});
    return o;
}

}  // namespace varko
