#pragma once

#include <QString>
#include <QStringList>

#include "inspection/checks.h"
#include "overview/verdict.h"
#include "tools/toolset.h"

namespace varko {

/// One signature tool run: which tool, with which arguments, and the prefix its
/// transcript starts with when it fails.
struct ToolCommand {
    QString program;
    QStringList arguments;
    QString errorPrefix;
};

/// The Gatekeeper assessment: `spctl -a -vv [-t install] PATH`.
[[nodiscard]] ToolCommand assessmentCommand(bool isApp, const QString& path);
/// `codesign -dvvv PATH` for an app, `pkgutil --check-signature PATH` for a package.
[[nodiscard]] ToolCommand signatureCommand(bool isApp, const QString& path);

/// Turns a finished run into text: on success standard output then standard error;
/// otherwise the prefix and the status, then each non-empty stream on a line of its
/// own. A tool that could not be started, and output that is not UTF-8, say so.
[[nodiscard]] QString transcript(const QString& errorPrefix, const host::ToolResult& result);

/// The two transcripts of one run of the signature checks, and the five findings
/// read from the tools' own fields while their raw answers were at hand.
struct SignatureTexts {
    QString assessmentText;
    QString signatureText;
    CheckStates findings;
    /// A tool gave no answer of its own: not started, crashed, cut off or ended.
    bool toolFailed = false;
    /// Gatekeeper's verdict, read from the assessment's own lines.
    overview::GatekeeperAnswer gatekeeper;
    /// A package that Varko's own reader finds is no installer package at all, or a broken one.
    std::optional<Error> notAPackage;
};

/// Runs the assessment and the signature tool, side by side when the current work grants a
/// thread; blocks until both have ended. Raising `cancel` ends the tools that are running.
[[nodiscard]] SignatureTexts runSignatureTools(const host::ToolSet& tools, bool isApp,
                                               const QString& path,
                                               const host::CancelFlag& cancel = {});

/// The five signature findings. The tools echo text the item controls (its path,
/// its identifier, certificate names), so each finding is read only where the
/// tool's own field stands: the `source=` line right after spctl's verdict on
/// `path`, and the flags of codesign's one `CodeDirectory` line. Anything else,
/// including a failed run or a package (pkgutil prints no flags), leaves it off.
[[nodiscard]] overview::GatekeeperAnswer readAssessment(const QString& path,
                                                        const host::ToolResult& assessment);

[[nodiscard]] CheckStates signatureFindings(const QString& path, bool isApp,
                                            const host::ToolResult& assessment,
                                            const host::ToolResult& signature);

/// Both sections as they follow the report: each heading, then its transcript.
struct SignatureSections {
    QString assessment;
    QString signature;
};
[[nodiscard]] SignatureSections signatureSections(bool isApp, const SignatureTexts& texts);

}  // namespace varko
