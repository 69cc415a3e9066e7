#include <chrono>

#include "format/plist/plist.h"
#include "inspection/info.h"
#include "inspection/infoservice.h"
#include "tools/utf8.h"

namespace varko {

namespace {

constexpr auto noPropertyList = "\nNo property list returned.";
constexpr auto decodingError = "\nError in decoding property list.";
constexpr auto tccAllowKey = "com.apple.private.tcc.allow";
// Entitlements are a few kilobytes; anything near this is not a code-signing tool's answer.
constexpr qint64 maxEntitlementBytes = 64 << 20;
// Showing entitlements reads one blob; only a stuck tool takes this long.
constexpr std::chrono::seconds entitlementTimeout{60};
constexpr qint64 maxErrorBytes = 64 << 10;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

/// Flags are only ever raised here; a later entry never lowers one.
void applyEntry(Info& info, const std::string& key, const plist::Value& value) {
    if (key == tccAllowKey) {
        const plist::Array* services = value.array();
        if (!services) return;
        for (const plist::Value& service : *services) {
            const std::string* name = service.string();
            if (!name) continue;
            for (const InfoService& s : infoServices)
                if (s.allowance.grantedBy(*name)) info.*s.allowance.flag = true;
        }
        return;
    }
    const bool* granted = value.boolean();
    if (!granted || !*granted) return;
    for (const InfoService& s : infoServices)
        if (s.entitlement.grantedBy(key)) info.*s.entitlement.flag = true;
}

}  // namespace

Expected<QByteArray> runTool(const host::ToolSet& tools, const QString& launchPath,
                             const std::optional<QStringList>& arguments,
                             const host::CancelFlag& cancel) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = maxEntitlementBytes;
    limits.timeout = entitlementTimeout;
    limits.cancel = cancel;
    // Its standard error echoes the item's path and names, which a stranger chooses: never
    // let it reach the terminal raw. Nothing is read from it.
    limits.maxErrorBytes = maxErrorBytes;
    const host::ToolResult result =
        tools.run(launchPath, arguments.value_or(QStringList()), host::Capture::Both, limits);
    const auto failed = [](const QString& why, ErrorCode code) {
        return Error{0, ("Failed, error = " + why).toStdString(), code};
    };
    if (!result.started) return failed(result.startError, ErrorCode::toolFailed);
    if (result.truncated)
        return failed(QStringLiteral("the tool wrote more than %1 bytes").arg(maxEntitlementBytes),
                      ErrorCode::toolFailed);
    if (const QString why = result.interruption(); !why.isEmpty())
        return failed(QString::number(result.exitStatus) + " (" + why + ")", ErrorCode::toolFailed);
    // The tool answered and turned the item away (unsigned, say): the item's doing, not the run's.
    if (result.exitStatus != 0)
        return failed(QString::number(result.exitStatus), ErrorCode::refused);
    return result.standardOutput;
}

void runEntitlementStage(Info& info, const host::ToolSet& tools, const host::CancelFlag& cancel) {
    info.theCodesignParams.append(info.path());
    const auto run = runTool(tools, info.theCodesign, info.theCodesignParams, cancel);
    if (!run) {
        info.entitleList = QString::fromStdString(run.error().message);
        info.entitlementRunFailed = run.error().code == ErrorCode::toolFailed;
        return;
    }
    const QByteArray& output = *run;
    info.entitleData = output;

    const Expected<QString> text = host::decodeUtf8Strictly(output);
    if (!text) {
        info.entitleList = noPropertyList;
        return;
    }
    info.entitleList = *text;

    const auto parsed = plist::parse(std::string_view(output.constData(), size_t(output.size())));
    if (!parsed.ok()) {
        info.entitleList += noPropertyList;
        return;
    }

    const plist::Dictionary* dict = parsed->dictionary();
    if (!dict) {
        // Not the dictionary the tool promises: show what it is and grant nothing.
        info.entitleList = fromUtf8(plist::describe(*parsed)) + "\n";
        return;
    }

    if (dict->empty()) {
        const std::string xml = plist::writeXml(*dict);
        if (const Expected<QString> xmlText =
                host::decodeUtf8Strictly(QByteArray(xml.data(), qsizetype(xml.size()))))
            info.entitleList = *xmlText;
        else
            info.entitleList += decodingError;
        return;
    }

    info.entitleList.clear();
    for (const auto& [key, value] : *dict) {
        info.entitleList += reportLine(key, value);
        applyEntry(info, key, value);
    }
}

}  // namespace varko
