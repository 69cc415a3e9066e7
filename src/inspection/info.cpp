#include "inspection/info.h"

#include "format/plist/plist.h"
#include "inspection/infoservice.h"
#include "tools/utf8.h"

namespace varko {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

/// Only a text value fills a field; any other type leaves it as if the key were absent.
void takeText(const plist::Dictionary& dict, const char* key, QString& field) {
    if (const plist::Value* value = dict.find(key))
        if (const std::string* text = value->string()) field = fromUtf8(*text);
}

}  // namespace

QString reportLine(const std::string& key, const plist::Value& value) {
    // A text value is shown as it stands, so its line feeds would start lines of
    // their own; nested texts are already quoted and escaped by the description.
    const QString shown = value.string() ? host::visibleControls(fromUtf8(*value.string()))
                                         : fromUtf8(plist::describe(value));
    return host::visibleControls(fromUtf8(key)) + " : " + shown + "\n";
}

Info::Info(const QUrl& itemUrl, bool isApp, const host::ToolSet& tools,
           const host::CancelFlag& cancel)
    : url(itemUrl) {
    // A package is a file: no bundle, and nothing wrong.
    if (auto opened = Bundle::open(path())) bundle = std::move(*opened);
    if (!bundle || !isApp) return;

    // Every bundle has a dictionary, empty when its Info.plist is missing or bad,
    // so that such an app still gets its entitlements read.
    auto read = bundle->readInfoDictionary();
    theDict = read ? std::move(*read) : plist::Dictionary();
    if (!read) infoPlistProblem = QString::fromStdString(read.error().message);
    const plist::Dictionary& dict = *theDict;

    takeText(dict, "CFBundleIdentifier", bundleID);
    takeText(dict, "DTSDKName", sdk);
    takeText(dict, "CFBundleShortVersionString", version);
    takeText(dict, "CFBundleVersion", build);
    for (const InfoService& service : infoServices)
        takeText(dict, service.usageKey, this->*service.usage);

    for (const auto& [key, value] : dict) {
        if (key.find("UsageDescript") == std::string::npos) continue;
        usageStrings += reportLine(key, value);
    }

    runEntitlementStage(*this, tools, cancel);
}

}  // namespace varko
