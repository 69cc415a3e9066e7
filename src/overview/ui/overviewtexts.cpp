#include "overview/ui/overviewtexts.h"

#include <QCoreApplication>
#include <QTextDocument>

#include "tools/utf8.h"

namespace varko {

using overview::ComponentKind;
using overview::SignatureForm;
using overview::Signer;

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("Overview", text);
}
}  // namespace

QString componentKindText(ComponentKind kind) {
    switch (kind) {
        case ComponentKind::mainExecutable:
            return tr("Main executable");
        case ComponentKind::framework:
            return tr("Framework");
        case ComponentKind::dynamicLibrary:
            return tr("Dynamic library");
        case ComponentKind::helper:
            return tr("Helper");
        case ComponentKind::xpcService:
            return tr("XPC service");
        case ComponentKind::plugIn:
            return tr("Plug-in");
        case ComponentKind::appExtension:
            return tr("App extension");
        case ComponentKind::loginItem:
            return tr("Login item");
        case ComponentKind::launchAgent:
            return tr("Launch agent");
        case ComponentKind::launchDaemon:
            return tr("Launch daemon");
        case ComponentKind::systemExtension:
            return tr("System extension");
        case ComponentKind::nestedApp:
            return tr("Nested app");
    }
    return tr("Code");
}

QString signerText(Signer signer) {
    switch (signer) {
        case Signer::unsigned_:
            return tr("Unsigned");
        case Signer::adhoc:
            return tr("Ad hoc");
        case Signer::developerId:
            return tr("Developer ID");
        case Signer::apple:
            return tr("Apple");
        case Signer::appStore:
            return tr("Mac App Store");
        case Signer::untrusted:
            return tr("Untrusted certificate");
    }
    return tr("Unknown");
}

QString signatureFormText(SignatureForm form) {
    switch (form) {
        case SignatureForm::none:
            return tr("Unsigned");
        case SignatureForm::adhoc:
            return tr("Ad hoc");
        case SignatureForm::cms:
            return tr("Signed, not verified");
        case SignatureForm::unreadable:
            return tr("Unreadable signature");
    }
    return tr("Unknown");
}

namespace {
constexpr std::string_view riskyPrefix = "risky-entitlement:";
}

QString flagTitle(std::string_view flag) {
    if (flag == "unsigned") return tr("Unsigned");
    if (flag == "adhoc") return tr("Ad hoc");
    if (flag == "team-mismatch") return tr("Other Team ID");
    if (flag == "privacy-beyond-main") return tr("More privacy than the app");
    if (flag == "entitlements-mismatch") return tr("Two sets of entitlements");
    if (flag == "identifier-mismatch") return tr("Identifier differs");
    if (flag.starts_with(riskyPrefix))
        return tr("Risky: %1").arg(shownText(flag.substr(riskyPrefix.size())));
    return shownText(flag);
}

QString flagDescription(std::string_view flag) {
    if (flag == "unsigned") return tr("unsigned code inside a signed app");
    if (flag == "adhoc") return tr("ad hoc signed code inside a signed app");
    if (flag == "team-mismatch") return tr("Team ID differs from the main executable's");
    if (flag == "privacy-beyond-main")
        return tr("holds a privacy entitlement or allowance the main executable does not");
    if (flag == "entitlements-mismatch")
        return tr("its DER entitlements, which macOS enforces, differ from its XML entitlements");
    if (flag == "identifier-mismatch")
        return tr("its signature's identifier differs from its Info.plist's CFBundleIdentifier");
    if (flag.starts_with(riskyPrefix))
        return tr("risky entitlement: %1").arg(shownText(flag.substr(riskyPrefix.size())));
    return shownText(flag);
}

QString mayUseText(const overview::Overview& overview) {
    // A hostile bundle may name thousands of unknown services; the line stays a line.
    constexpr std::size_t maxNamed = 30;
    QStringList named;
    for (std::size_t i = 0; i < overview.services.size() && i < maxNamed; ++i) {
        const overview::ServiceUse& use = overview.services[i];
        QStringList how;
        if (!use.usageKeys.empty()) how << tr("asks");
        if (!use.entitlements.empty()) how << tr("entitled");
        if (!use.allowances.empty()) how << tr("allowed without asking");
        if (!use.components.empty())
            how << (use.components.size() == 1 ? tr("in a component")
                                               : tr("in %1 components").arg(use.components.size()));
        // An unknown name is the bundle's own and may be of any length.
        QString unknown = shownText(use.service);
        if (constexpr qsizetype maxName = 80; unknown.size() > maxName) {
            unknown.truncate(unknown[maxName - 1].isHighSurrogate() ? maxName - 1 : maxName);
            unknown += QChar(0x2026);
        }
        const QString name =
            use.known ? shownText(use.title) : tr("unknown service %1").arg(unknown);
        named << (how.isEmpty()
                      ? name
                      : name + QStringLiteral(" (") + how.join(QStringLiteral(", ")) + u')');
    }
    if (overview.services.size() > maxNamed)
        named << tr("and %1 more").arg(overview.services.size() - maxNamed);
    QString text =
        named.isEmpty() ? tr("no privacy service is declared") : named.join(QStringLiteral(", "));
    // Code the walk did not reach may use more; the line must not claim otherwise.
    if (overview.componentsCut || !overview.problems.empty())
        text += tr("; the list may be incomplete (see Privacy)");
    return text;
}

QString shownText(std::string_view text) {
    return host::visibleControls(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

QString plainToolTip(const QStringList& lines) {
    if (lines.isEmpty()) return {};
    return Qt::convertFromPlainText(lines.join(QLatin1Char('\n')), Qt::WhiteSpaceNormal);
}

}  // namespace varko
