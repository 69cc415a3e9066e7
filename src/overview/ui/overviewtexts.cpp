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

QString shownText(std::string_view text) {
    return host::visibleControls(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

QString plainToolTip(const QStringList& lines) {
    if (lines.isEmpty()) return {};
    return Qt::convertFromPlainText(lines.join(QLatin1Char('\n')), Qt::WhiteSpaceNormal);
}

}  // namespace varko
