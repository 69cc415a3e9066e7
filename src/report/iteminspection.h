#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "inspection/document.h"
#include "overview/overview.h"
#include "overview/verdict.h"
#include "package/payload.h"
#include "report/inspectionreport.h"
#include "report/signaturechecks.h"
#include "tools/toolset.h"

namespace varko {

struct PayloadApp;

/// Everything Varko finds out about one item, as varko-report prints it: the window's
/// record, report and signature checks, and the whole-app view.
struct Inspection {
    QString path;  ///< absolute
    QString typeName;
    Document document;
    InspectionReport report;
    SignatureTexts signature;
    CheckStates findings;
    /// The report text exactly as the window shows it once the checks have answered.
    QString fullText;
    std::optional<overview::Overview> overview;  ///< apps only
    /// What a flat package would install; for a package that isn't one, why not.
    std::optional<Expected<package::PackageContents>> payload;
    /// Each app the package would install, inspected from a copy: `path` where it would go,
    /// `bundleID`, `verdict`, `signer`, `teamIdentifier`, `designatedRequirement` and
    /// `privacyServices`.
    QJsonArray payloadApps;
    /// The same pieces with their whole inspections, for a scan that lists them as items.
    std::vector<PayloadApp> payloadInspections;
    overview::Verdict verdict;
    /// For an app found in a disk image or zip archive, or one a package would install:
    /// where the container is, the app's path inside it (where a package would install
    /// it), and the folder its copy is read from, which the report text and the JSON name
    /// as `shownFolder` instead.
    struct Container {
        QString path;
        QString pathInside;
        QString copyFolder;
        QString shownFolder;  ///< the container's path; for a package "PKG!/install/location"
    };
    std::optional<Container> container;
    /// An app with no main executable to find (an empty bundle, say): the signature tools'
    /// answers were told without starting them, as they are certain.
    bool noCode = false;

    /// A signature tool gave no answer of its own: the report says so.
    [[nodiscard]] bool toolFailed() const;
    /// Verification of a piece stopped at its bound (too much to hash): not checked, so
    /// nothing may call the item fully inspected.
    [[nodiscard]] bool checksCut() const;
};

/// Reads the item and runs its signature tools; the whole-app view too when `wholeApp`, its
/// components checked on the threads that `work` grants. Blocks until everything answered;
/// once `work` is called off its tools end and the rest is skipped, and the item must not be
/// reported.
void inspect(Inspection& item, const host::ToolSet& tools, bool wholeApp = true,
             const Work& work = {});

/// A piece of code a package would install, inspected from its copy.
struct PayloadApp {
    std::string installedPath;
    std::filesystem::path onDisk;
    package::CodeKind kind = package::CodeKind::app;
    /// An app's whole inspection; for other code its overview alone, every component
    /// verified: Gatekeeper judges apps, not what they load.
    Inspection inspection;
};

/// Inspects each piece of code written out of a package (package::extractPackageApps): an
/// app as an app on disk is, other code by its signature; stops early once `work` is
/// called off. With the package's path, each app's report names it inside the package
/// (Inspection::Container), not by its copy.
[[nodiscard]] std::vector<PayloadApp> inspectPayloadApps(const package::PackageContents& contents,
                                                         const host::ToolSet& tools,
                                                         const Work& work = {},
                                                         const QString& packagePath = {});

/// The item's object in varko-report's JSON: the record under its own names, the
/// checkboxes, the texts, and the whole-app keys.
[[nodiscard]] QJsonObject inspectionJson(const Inspection& item);

}  // namespace varko
