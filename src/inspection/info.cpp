#include "inspection/info.h"

#include "format/plist/plist.h"

namespace varko {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

/// Only a text value fills a field; any other type leaves it as if the key were absent.
void takeText(const plist::Dictionary& dict, const char* key, QString& field) {
    if (const plist::Value* value = dict.find(key))
        if (const std::string* text = value->string()) field = fromUtf8(*text);
}

}  // namespace

Info::Info(const QUrl& itemUrl, bool isApp, const tools::ToolSet& tools) : url(itemUrl) {
    bundle = Bundle::open(path());
    if (!bundle || !isApp) return;

    // Every bundle has a dictionary, empty when its Info.plist is missing or bad,
    // so that such an app still gets its entitlements read.
    theDict = bundle->infoDictionary();
    const plist::Dictionary& dict = *theDict;

    takeText(dict, "CFBundleIdentifier", bundleID);
    takeText(dict, "DTSDKName", sdk);
    takeText(dict, "CFBundleShortVersionString", version);
    takeText(dict, "CFBundleVersion", build);
    takeText(dict, "NSCalendarsUsageDescription", calendars);
    takeText(dict, "NSContactsUsageDescription", contacts);
    takeText(dict, "NSPhotoLibraryUsageDescription", photos);
    takeText(dict, "NSRemindersUsageDescription", reminders);
    takeText(dict, "NSSystemAdministrationUsageDescription", sysadmin);
    takeText(dict, "NSLocationUsageDescription", location);
    takeText(dict, "NSCameraUsageDescription", camera);
    takeText(dict, "NSMicrophoneUsageDescription", mike);
    takeText(dict, "NSAppleEventsUsageDescription", aevent);

    for (const auto& [key, value] : dict) {
        if (key.find("UsageDescript") == std::string::npos) continue;
        usageStrings += fromUtf8(key) + " : " + fromUtf8(plist::describe(value)) + "\n";
    }

    runEntitlementStage(*this, tools);
}

}  // namespace varko
