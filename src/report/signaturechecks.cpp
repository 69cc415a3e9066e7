#include "report/signaturechecks.h"

#include "tools/utf8.h"

namespace varko {

namespace {

/// Output that isn't UTF-8 is shown with its bad bytes replaced, and flagged, so
/// the findings are never decided from text that silently lost bytes.
QString streamText(const QByteArray& bytes, const char* stream) {
    if (const std::optional<QString> text = tools::decodeUtf8Strictly(bytes)) return *text;
    return QString::fromUtf8(bytes) +
           QStringLiteral("\n[The tool's %1 was not valid UTF-8 text; its invalid bytes are shown as \uFFFD.]")
               .arg(QLatin1String(stream));
}

// A transcript is shown to the user in full; a signature display is a few kilobytes.
constexpr qint64 maxTranscriptBytes = 16 << 20;

}  // namespace

ToolCommand assessmentCommand(bool isApp, const QString& path) {
    if (isApp) return {tools::spctlPath, {"-a", "-vv", path}, QStringLiteral("⛔️ spctl error ")};
    return {tools::spctlPath, {"-a", "-vv", "-t", "install", path}, QStringLiteral("⛔️ spctl error ")};
}

ToolCommand signatureCommand(bool isApp, const QString& path) {
    if (isApp) return {tools::codesignPath, {"-dvvv", path}, QStringLiteral("⛔️ codesign error ")};
    return {tools::pkgutilPath, {"--check-signature", path}, QStringLiteral("⛔️ pkgutil error ")};
}

QString transcript(const QString& errorPrefix, const tools::ToolResult& result) {
    if (!result.started) return errorPrefix + "(not started): " + result.startError + "\n";

    const QString out = streamText(result.standardOutput, "standard output");
    const QString err = streamText(result.standardError, "standard error");
    QString text;
    if (result.succeeded() && !result.truncated) {
        text = out + err;
    } else {
        text = errorPrefix + QString::number(result.exitStatus) + "\n";
        if (!result.standardOutput.isEmpty()) text += out + "\n";
        if (!result.standardError.isEmpty()) text += err + "\n";
    }
    if (result.truncated)
        text += QStringLiteral("[The tool wrote more than %1 bytes and was stopped.]\n").arg(maxTranscriptBytes);
    return text;
}

SignatureTexts runSignatureTools(const tools::ToolSet& tools, bool isApp, const QString& path) {
    tools::ToolLimits limits;
    limits.maxBytesPerStream = maxTranscriptBytes;
    SignatureTexts texts;
    const ToolCommand assessment = assessmentCommand(isApp, path);
    texts.assessmentText = transcript(
        assessment.errorPrefix, tools.run(assessment.program, assessment.arguments, tools::Capture::Both, limits));
    const ToolCommand signature = signatureCommand(isApp, path);
    texts.signatureText = transcript(
        signature.errorPrefix, tools.run(signature.program, signature.arguments, tools::Capture::Both, limits));
    return texts;
}

CheckStates signatureFindings(const SignatureTexts& texts) {
    const QString& a = texts.assessmentText;
    const bool hardened = texts.signatureText.contains(QLatin1String("flags=0x1")) &&
                          !texts.signatureText.contains(QLatin1String("flags=0x0(none)"));
    CheckStates findings;
    findings.set(Check::isNotarizedCheck, a.contains(QLatin1String("source=Notarized")));
    findings.set(Check::isAppleCheck, a.contains(QLatin1String("source=Apple")));
    findings.set(Check::isAppStoreCheck, a.contains(QLatin1String("source=Mac App")));
    findings.set(Check::isDevIDCheck, a.contains(QLatin1String("source=Developer")));
    findings.set(Check::isHardenedCheck, hardened);
    return findings;
}

SignatureSections signatureSections(bool isApp, const SignatureTexts& texts) {
    if (isApp)
        return {"\nApp signature check:\n" + texts.assessmentText,
                "\ncodesign check:\n" + texts.signatureText + "\n"};
    return {"\nInstaller package signature info:\n" + texts.assessmentText,
            "\npkgutil signature check:\n" + texts.signatureText + "\n"};
}

}  // namespace varko
