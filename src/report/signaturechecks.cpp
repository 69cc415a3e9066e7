#include "report/signaturechecks.h"

#include "concurrency/work.h"
#include "package/packagesignature.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

#include <cctype>
#include <chrono>
#include <ctime>

namespace varko {

namespace {

/// Output that isn't UTF-8 is shown with its bad bytes replaced, and flagged, so
/// the findings are never decided from text that silently lost bytes.
QString streamText(const QByteArray& bytes, const char* stream) {
    if (const Expected<QString> text = host::decodeUtf8Strictly(bytes)) return *text;
    return QString::fromUtf8(bytes) +
           QStringLiteral(
               "\n[The tool's %1 was not valid UTF-8 text; its invalid bytes are shown as \uFFFD.]")
               .arg(QLatin1String(stream));
}

// A transcript is shown to the user in full; a signature display is a few kilobytes.
constexpr qint64 maxTranscriptBytes = 16 << 20;
// Verification hashes every page of every slice: minutes only for gigabytes of code.
constexpr std::chrono::seconds verificationTimeout{300};

/// The tool's stream as text that lost nothing: bytes that are not UTF-8 (a path
/// echoed by the tool need not be) are kept as a path's are, so the path we passed
/// still matches, and a finding is never read from text that lost bytes.
std::optional<QString> exactText(const QByteArray& bytes) {
    return host::pathFromSystem(bytes);
}

}  // namespace

/// spctl answers "PATH: accepted" or "PATH: rejected", with an optional reason in
/// parentheses on the same line, then its `source=` line and, for a trusted chain, its
/// `origin=` line. The path is ours, so it is skipped by length rather than searched for;
/// a reason that spans lines leaves the answer unknown, as then nothing says where the
/// tool's own next line starts.
overview::GatekeeperAnswer readAssessment(const QString& path, const host::ToolResult& run) {
    using Kind = overview::GatekeeperAnswer::Kind;
    overview::GatekeeperAnswer answer;
    if (!run.started || run.crashed || run.truncated) return answer;
    const std::optional<QString> text = exactText(run.standardError);
    const QString prefix = path + QLatin1String(": ");
    if (!text || !text->startsWith(prefix)) return answer;
    const qsizetype verdictEnd = text->indexOf('\n', prefix.size());
    if (verdictEnd < 0) return answer;
    const QStringView verdict = QStringView(*text).mid(prefix.size(), verdictEnd - prefix.size());
    const bool accepted = verdict == u"accepted" || verdict.startsWith(u"accepted (");
    const bool rejected = verdict == u"rejected" || verdict.startsWith(u"rejected (");
    if (!accepted && !rejected) return answer;
    if (verdict.contains(u'(') && !verdict.endsWith(u')')) return answer;
    // The tool's exit status must agree with its verdict, or the text is not its own.
    if (accepted != (run.exitStatus == 0)) return answer;
    const auto lineAfter = [&](qsizetype end) {
        qsizetype next = text->indexOf('\n', end + 1);
        if (next < 0) next = text->size();
        return std::pair(text->mid(end + 1, next - end - 1), next);
    };
    const auto [source, sourceEnd] = lineAfter(verdictEnd);
    if (!source.startsWith(QLatin1String("source="))) return answer;
    answer.kind = accepted ? Kind::accepted : Kind::rejected;
    if (verdict.contains(u'('))
        answer.reason = verdict.mid(verdict.indexOf(u'(') + 1).chopped(1).toString().toStdString();
    answer.source = source.mid(7).toStdString();
    if (sourceEnd < text->size()) {
        const QString origin = lineAfter(sourceEnd).first;
        if (origin.startsWith(QLatin1String("origin=")))
            answer.origin = origin.mid(7).toStdString();
    }
    return answer;
}

namespace {

/// The runtime flag (0x10000) of codesign's one `CodeDirectory` line. A display that
/// ran cleanly prints that line once; a second one can only come from text the item
/// controls (a path or an identifier with line feeds), so then nothing is trusted.
bool hasHardenedRuntime(const host::ToolResult& run) {
    if (!run.succeeded()) return false;
    const std::optional<QString> text = exactText(run.standardError);
    if (!text) return false;
    QStringView found;
    int count = 0;
    for (const QStringView line : QStringView(*text).split(u'\n')) {
        if (!line.startsWith(u"CodeDirectory v=")) continue;
        found = line;
        ++count;
    }
    if (count != 1) return false;
    const qsizetype at = found.indexOf(u" flags=0x");
    if (at < 0) return false;
    QStringView digits = found.mid(at + 9);
    qsizetype length = 0;
    const auto hexDigit = [](QChar c) {
        return c.unicode() < 0x80 && std::isxdigit(c.unicode()) != 0;
    };
    while (length < digits.size() && length < 8 && hexDigit(digits[length])) ++length;
    bool ok = false;
    const uint flags = digits.left(length).toUInt(&ok, 16);
    return ok && (flags & 0x10000U) != 0;
}

}  // namespace

ToolCommand assessmentCommand(bool isApp, const QString& path) {
    if (isApp) return {host::spctlPath, {"-a", "-vv", path}, QStringLiteral("⛔️ spctl error ")};
    return {host::spctlPath,
            {"-a", "-vv", "-t", "install", path},
            QStringLiteral("⛔️ spctl error ")};
}

ToolCommand signatureCommand(bool isApp, const QString& path) {
    if (isApp)
        return {host::codesignPath, {"-dvvv", path}, QStringLiteral("⛔️ codesign error ")};
    return {
        host::pkgutilPath, {"--check-signature", path}, QStringLiteral("⛔️ pkgutil error ")};
}

QString transcript(const QString& errorPrefix, const host::ToolResult& result) {
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
        text += QStringLiteral("[The tool wrote more than %1 bytes and was stopped.]\n")
                    .arg(maxTranscriptBytes);
    if (const QString why = result.interruption(); !why.isEmpty()) text += "[" + why + "]\n";
    return text;
}

SignatureTexts runSignatureTools(const host::ToolSet& tools, bool isApp, const QString& path,
                                 const host::CancelFlag& cancel) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = maxTranscriptBytes;
    limits.timeout = verificationTimeout;
    limits.cancel = cancel;
    SignatureTexts texts;
    const ToolCommand commands[] = {assessmentCommand(isApp, path), signatureCommand(isApp, path)};
    // Neither tool needs the other's answer: side by side where a thread is free, the report
    // waits for the slower alone.
    host::ToolResult results[2];
    forEachShared(Work::current(), 2, 2, [&](std::size_t i) {
        results[i] =
            tools.run(commands[i].program, commands[i].arguments, host::Capture::Both, limits);
    });
    const host::ToolResult& assessment = results[0];
    const host::ToolResult& signature = results[1];
    texts.assessmentText = transcript(commands[0].errorPrefix, assessment);
    texts.signatureText = transcript(commands[1].errorPrefix, signature);
    texts.findings = signatureFindings(path, isApp, assessment, signature);
    texts.gatekeeper = readAssessment(path, assessment);
    if (!isApp) {
        // Read here too, so that the verdict does not rest on the tools' words alone: random
        // bytes named .pkg are no package, whatever a tool makes of them.
        const auto read = spctl::verifyPackage(host::pathToSystem(path).toStdString(),
                                               signing::TrustAnchors::apple(), std::time(nullptr));
        if (!read && read.error().code != ErrorCode::unreadable &&
            read.error().code != ErrorCode::missing)
            texts.notAPackage = read.error();
    }
    const auto failed = [](const host::ToolResult& r) {
        return !r.started || r.truncated || !r.interruption().isEmpty();
    };
    texts.toolFailed = failed(assessment) || failed(signature);
    return texts;
}

CheckStates signatureFindings(const QString& path, bool isApp, const host::ToolResult& assessment,
                              const host::ToolResult& signature) {
    const overview::GatekeeperAnswer answer = readAssessment(path, assessment);
    const QString source = answer.kind == overview::GatekeeperAnswer::Kind::noAnswer
                               ? QString()
                               : "source=" + QString::fromStdString(answer.source);
    CheckStates findings;
    findings.set(Check::isNotarizedCheck, source.contains(QLatin1String("source=Notarized")));
    findings.set(Check::isAppleCheck, source.contains(QLatin1String("source=Apple")));
    findings.set(Check::isAppStoreCheck, source.contains(QLatin1String("source=Mac App")));
    findings.set(Check::isDevIDCheck, source.contains(QLatin1String("source=Developer")));
    findings.set(Check::isHardenedCheck, isApp && hasHardenedRuntime(signature));
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
