#pragma once

#include <QString>
#include <optional>

#include "inspection/checks.h"
#include "inspection/info.h"
#include "report/reporttext.h"

namespace varko {

/// What the inspection window shows of a record before the signature checks
/// answer: a pure function of the record and the document's app flag.
struct InspectionReport {
    /// The report text; empty for an installer package or a missing record.
    QString saveString;
    /// The two text fields; nothing where the window leaves them as they are.
    std::optional<QString> appIDText;
    std::optional<QString> versionText;
    /// The 29 record checkboxes for an app; none for a package.
    CheckStates checks;
    /// Whether the signature checks start, and on which path.
    bool startsSignatureChecks = false;
    QString path;
};

/// `info` may be null (a document without record): then nothing at all happens.
[[nodiscard]] InspectionReport buildReport(const Info* info, bool isApp);

}  // namespace varko
