// varko-report: the inspection window's text for bundles and packages, for scripts
// and continuous integration.

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cstdio>
#include <thread>

#include "inspection/document.h"
#include "inspection/itemtype.h"
#include "overview/componentcheck.h"
#include "overview/overviewjson.h"
#include "overview/verdict.h"
#include "report/inspectionreport.h"
#include "report/signaturechecks.h"
#include "systools/standardoptions.h"
#include "tools/pathbytes.h"

using namespace varko;

namespace {

void write(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

struct Inspection {
    QString path;
    QString typeName;
    Document document;
    InspectionReport report;
    SignatureTexts signature;
    CheckStates findings;
    QString fullText;
    std::optional<overview::Overview> overview;
    overview::Verdict verdict;
};

void inspect(Inspection& item, const host::ToolSet& tools) {
    item.document.readFromURL(QUrl::fromLocalFile(item.path), item.typeName, tools);
    item.report = buildReport(item.document.theInfo.get(), item.document.isApp);
    item.signature = runSignatureTools(tools, item.document.isApp, item.report.path);
    item.findings = item.signature.findings;
    const SignatureSections sections = signatureSections(item.document.isApp, item.signature);
    item.fullText = item.report.saveString + sections.assessment + sections.signature;
}

/// The whole-app view: only for JSON, so that the text stays the window's report.
void inspectOverview(Inspection& item, const host::ToolSet& tools) {
    const std::filesystem::path path = host::pathToSystem(item.path).toStdString();
    if (item.document.isApp) {
        item.overview = overview::readOverview(path);
        overview::checkComponents(*item.overview, path, tools,
                                  std::max(1U, std::thread::hardware_concurrency()));
    }
    const bool online = tools.profile().assessesOnline;
    item.verdict = overview::judge(item.document.isApp, item.overview ? &*item.overview : nullptr,
                                   item.signature.gatekeeper, {online, online});
}

QJsonObject toJson(const Inspection& item) {
    const Info& info = *item.document.theInfo;
    QJsonObject o;
    o["path"] = item.path;
    o["type"] = item.typeName;
    o["isApp"] = item.document.isApp;
    o["isPackage"] = item.document.isPackage;
    const std::pair<const char*, const QString*> texts[] = {
        {"bundleID", &info.bundleID},
        {"version", &info.version},
        {"build", &info.build},
        {"sdk", &info.sdk},
        {"calendars", &info.calendars},
        {"contacts", &info.contacts},
        {"photos", &info.photos},
        {"reminders", &info.reminders},
        {"sysadmin", &info.sysadmin},
        {"location", &info.location},
        {"camera", &info.camera},
        {"mike", &info.mike},
        {"aevent", &info.aevent},
        {"usageStrings", &info.usageStrings},
        {"entitleList", &info.entitleList},
    };
    for (const auto& [name, value] : texts) o[name] = *value;
    if (!info.infoPlistProblem.isEmpty()) o["infoPlistProblem"] = info.infoPlistProblem;
    const std::pair<const char*, bool> flags[] = {
        {"pubCalendars", info.pubCalendars},
        {"pubContacts", info.pubContacts},
        {"pubReminders", info.pubReminders},
        {"pubPhotos", info.pubPhotos},
        {"pubLocation", info.pubLocation},
        {"pubCamera", info.pubCamera},
        {"pubMike", info.pubMike},
        {"pubAEvent", info.pubAEvent},
        {"privCalendars", info.privCalendars},
        {"privContacts", info.privContacts},
        {"privReminders", info.privReminders},
        {"privPhotos", info.privPhotos},
        {"privLiverpool", info.privLiverpool},
        {"privCamera", info.privCamera},
        {"privMike", info.privMike},
    };
    for (const auto& [name, value] : flags) o[name] = value;

    // A package leaves the record's checkboxes as the window first shows them: off.
    QJsonObject checks;
    for (int i = 0; i < checkCount; ++i) {
        const Check c = Check(i);
        const std::optional<bool> state = item.findings.get(c);
        checks[checkName(c)] = state ? *state : item.report.checks.isOn(c);
    }
    o["checks"] = checks;
    o["assessmentText"] = item.signature.assessmentText;
    o["signatureText"] = item.signature.signatureText;
    o["report"] = item.fullText;
    o["verdict"] = overview::verdictJson(item.verdict);
    o["components"] = item.overview ? overview::componentsJson(*item.overview) : QJsonArray();
    o["privacyServices"] = item.overview ? overview::servicesJson(*item.overview) : QJsonArray();
    return o;
}

}  // namespace

constexpr auto usage =
    "usage: varko-report [--json] [--] ITEM...\n"
    "Prints what each app bundle or installer package declares about privacy "
    "and how it is signed.\n";

int main(int argc, char** argv) {
    if (const auto answered = answerHelpOrVersion(argc, argv, "varko-report", VARKO_VERSION, usage))
        return *answered;
    QCoreApplication app(argc, argv);
    // From argv itself: Qt's decoding would lose the bytes of a name that is not UTF-8.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << host::pathFromSystem(argv[i]);
    bool json = false;
    if (!args.isEmpty() && args.first() == QLatin1String("--json")) {
        json = true;
        args.removeFirst();
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
    if (args.isEmpty()) {
        write(stderr, usage);
        return 2;
    }

    const host::ToolSet tools = host::ToolSet::system();
    int status = 0;
    QJsonArray items;
    for (const QString& path : args) {
        const ItemType type = itemTypeForPath(path);
        if (!type.accepted()) {
            write(stderr, "varko-report: " + type.error + "\n");
            status = 2;
            continue;
        }
        Inspection item;
        item.path = QFileInfo(path).absoluteFilePath();
        item.typeName = type.typeName;
        inspect(item, tools);
        if (json) inspectOverview(item, tools);
        if (item.signature.toolFailed ||
            (item.document.theInfo && item.document.theInfo->entitlementRunFailed)) {
            write(stderr, "varko-report: " + item.path +
                              ": a signature tool gave no answer; see the report\n");
            status = 2;
        }
        if (json)
            items.append(toJson(item));
        else
            write(stdout, item.fullText);
        std::fflush(stdout);
    }
    if (json)
        write(stdout, QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Indented)));
    return status;
}
