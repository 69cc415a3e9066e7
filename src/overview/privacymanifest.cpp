#include "overview/privacymanifest.h"

#include <algorithm>
#include <array>
#include <utility>

#include "format/plist/plist.h"

// The keys, their types and the values with their titles are those of Apple's "Privacy manifest
// files", "Describing data use in privacy manifests" and "Describing use of required reason
// API" (Bundle Resources documentation), and of App Store Connect's App privacy details.

namespace varko::overview {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view trackingKey = "NSPrivacyTracking";
constexpr std::string_view domainsKey = "NSPrivacyTrackingDomains";
constexpr std::string_view collectedKey = "NSPrivacyCollectedDataTypes";
constexpr std::string_view accessedKey = "NSPrivacyAccessedAPITypes";
constexpr std::string_view dataTypeKey = "NSPrivacyCollectedDataType";
constexpr std::string_view linkedKey = "NSPrivacyCollectedDataTypeLinked";
constexpr std::string_view dataTrackingKey = "NSPrivacyCollectedDataTypeTracking";
constexpr std::string_view purposesKey = "NSPrivacyCollectedDataTypePurposes";
constexpr std::string_view apiTypeKey = "NSPrivacyAccessedAPIType";
constexpr std::string_view reasonsKey = "NSPrivacyAccessedAPITypeReasons";

std::string_view typeName(const plist::Value& value) {
    switch (value.type()) {
        case plist::Type::String:
            return "a text";
        case plist::Type::Boolean:
            return "a Boolean";
        case plist::Type::Integer:
            return "an integer";
        case plist::Type::Real:
            return "a number";
        case plist::Type::Date:
            return "a date";
        case plist::Type::Data:
            return "data";
        case plist::Type::Array:
            return "an array";
        case plist::Type::Dictionary:
            return "a dictionary";
        case plist::Type::Uid:
            return "an object reference";
    }
    return "of an unknown type";
}

/// `text` cut to at most `maxBytes`, never inside a UTF-8 sequence.
std::string cut(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

/// A key the file chose, fit to stand in a line of words: cut, its control characters as '?'.
std::string shown(std::string_view key) {
    std::string out = cut(key, maxManifestTextBytes);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

/// Walks the manifest's dictionary and keeps what has the documented shape; the rest, and
/// whatever passes a bound, is said once in `problems`.
class ManifestReader {
public:
    PrivacyManifest read(const plist::Dictionary& root) {
        for (const auto& entry : root) {
            // Named, not bound: clang before 16 can't capture a structured binding in a lambda.
            const std::string& key = entry.first;
            const plist::Value& value = entry.second;
            if (key == trackingKey) {
                out.tracking = boolean(value, key);
            } else if (key == domainsKey) {
                eachItem(value, key, [&](const plist::Value& item, const std::string& where) {
                    if (auto domain = text(item, where, key))
                        out.trackingDomains.push_back(*domain);
                });
            } else if (key == collectedKey) {
                eachItem(value, key, [&](const plist::Value& item, const std::string& where) {
                    if (auto entry = collected(item, where)) out.collectedData.push_back(*entry);
                });
            } else if (key == accessedKey) {
                eachItem(value, key, [&](const plist::Value& item, const std::string& where) {
                    if (auto entry = accessed(item, where)) out.accessedApis.push_back(*entry);
                });
            } else {
                problem("unknown key “" + shown(key) + "”");
            }
        }
        if (dropped > 0)
            out.problems.push_back("and " + std::to_string(dropped) + " more problems");
        return std::move(out);
    }

private:
    void problem(std::string words) {
        if (out.problems.size() < maxManifestProblems)
            out.problems.push_back(std::move(words));
        else
            ++dropped;
    }

    void wrongType(const std::string& where, std::string_view wanted, const plist::Value& value) {
        problem(where + " is not " + std::string(wanted) + " (" + std::string(typeName(value)) +
                ")");
    }

    std::optional<bool> boolean(const plist::Value& value, const std::string& where) {
        if (const bool* b = value.boolean()) return *b;
        wrongType(where, "a Boolean", value);
        return std::nullopt;
    }

    /// A text, cut to length; `key` names the array a cut is told of, once.
    std::optional<std::string> text(const plist::Value& value, const std::string& where,
                                    std::string_view key) {
        const std::string* s = value.string();
        if (!s) {
            wrongType(where, "a text", value);
            return std::nullopt;
        }
        if (texts >= maxManifestTexts) {
            if (texts++ == maxManifestTexts)
                problem("more than " + std::to_string(maxManifestTexts) +
                        " texts; the rest are left out");
            return std::nullopt;
        }
        ++texts;
        if (s->size() > maxManifestTextBytes && !cutTold) {
            cutTold = true;
            problem("a text in " + std::string(key) + " is cut to " +
                    std::to_string(maxManifestTextBytes) + " bytes");
        }
        return cut(*s, maxManifestTextBytes);
    }

    /// Calls `each` for the first maxManifestItems items of the array `value`, with words that
    /// name the item ("NSPrivacyTrackingDomains item 3").
    template <class Each>
    void eachItem(const plist::Value& value, const std::string& where, Each each) {
        const plist::Array* array = value.array();
        if (!array) {
            wrongType(where, "an array", value);
            return;
        }
        if (array->size() > maxManifestItems)
            problem(where + " lists " + std::to_string(array->size()) + " items; the first " +
                    std::to_string(maxManifestItems) + " are read");
        const std::size_t n = std::min(array->size(), maxManifestItems);
        for (std::size_t i = 0; i < n; ++i)
            each((*array)[i], where + " item " + std::to_string(i + 1));
    }

    std::vector<std::string> textList(const plist::Value& value, const std::string& where,
                                      std::string_view key) {
        std::vector<std::string> list;
        eachItem(value, where, [&](const plist::Value& item, const std::string& itemWhere) {
            if (auto s = text(item, itemWhere, key)) list.push_back(std::move(*s));
        });
        return list;
    }

    std::optional<CollectedData> collected(const plist::Value& value, const std::string& where) {
        const plist::Dictionary* dict = value.dictionary();
        if (!dict) {
            wrongType(where, "a dictionary", value);
            return std::nullopt;
        }
        CollectedData entry;
        bool typed = false;
        for (const auto& [key, item] : *dict) {
            const std::string at = where + ": " + shown(key);
            if (key == dataTypeKey) {
                if (auto type = text(item, at, collectedKey)) {
                    entry.type = std::move(*type);
                    typed = true;
                }
            } else if (key == linkedKey) {
                entry.linked = boolean(item, at);
            } else if (key == dataTrackingKey) {
                entry.tracking = boolean(item, at);
            } else if (key == purposesKey) {
                entry.purposes = textList(item, at, collectedKey);
            } else {
                problem(where + " has the unknown key “" + shown(key) + "”");
            }
        }
        if (typed) return entry;
        if (!dict->find(dataTypeKey)) problem(where + " names no " + std::string(dataTypeKey));
        return std::nullopt;
    }

    std::optional<AccessedApi> accessed(const plist::Value& value, const std::string& where) {
        const plist::Dictionary* dict = value.dictionary();
        if (!dict) {
            wrongType(where, "a dictionary", value);
            return std::nullopt;
        }
        AccessedApi entry;
        bool typed = false;
        for (const auto& [key, item] : *dict) {
            const std::string at = where + ": " + shown(key);
            if (key == apiTypeKey) {
                if (auto category = text(item, at, accessedKey)) {
                    entry.category = std::move(*category);
                    typed = true;
                }
            } else if (key == reasonsKey) {
                entry.reasons = textList(item, at, accessedKey);
            } else {
                problem(where + " has the unknown key “" + shown(key) + "”");
            }
        }
        if (typed) return entry;
        if (!dict->find(apiTypeKey)) problem(where + " names no " + std::string(apiTypeKey));
        return std::nullopt;
    }

    PrivacyManifest out;
    std::size_t texts = 0;
    std::size_t dropped = 0;
    bool cutTold = false;
};

using Title = std::pair<std::string_view, std::string_view>;

constexpr std::array<Title, 46> titles{{
    {"NSPrivacyCollectedDataTypeName", "Name"},
    {"NSPrivacyCollectedDataTypeEmailAddress", "Email Address"},
    {"NSPrivacyCollectedDataTypePhoneNumber", "Phone Number"},
    {"NSPrivacyCollectedDataTypePhysicalAddress", "Physical Address"},
    {"NSPrivacyCollectedDataTypeOtherUserContactInfo", "Other User Contact Info"},
    {"NSPrivacyCollectedDataTypeHealth", "Health"},
    {"NSPrivacyCollectedDataTypeFitness", "Fitness"},
    {"NSPrivacyCollectedDataTypePaymentInfo", "Payment Info"},
    {"NSPrivacyCollectedDataTypeCreditInfo", "Credit Info"},
    {"NSPrivacyCollectedDataTypeOtherFinancialInfo", "Other Financial Info"},
    {"NSPrivacyCollectedDataTypePreciseLocation", "Precise Location"},
    {"NSPrivacyCollectedDataTypeCoarseLocation", "Coarse Location"},
    {"NSPrivacyCollectedDataTypeSensitiveInfo", "Sensitive Info"},
    {"NSPrivacyCollectedDataTypeContacts", "Contacts"},
    {"NSPrivacyCollectedDataTypeEmailsOrTextMessages", "Emails or Text Messages"},
    {"NSPrivacyCollectedDataTypePhotosorVideos", "Photos or Videos"},
    {"NSPrivacyCollectedDataTypeAudioData", "Audio Data"},
    {"NSPrivacyCollectedDataTypeGameplayContent", "Gameplay Content"},
    {"NSPrivacyCollectedDataTypeCustomerSupport", "Customer Support"},
    {"NSPrivacyCollectedDataTypeOtherUserContent", "Other User Content"},
    {"NSPrivacyCollectedDataTypeBrowsingHistory", "Browsing History"},
    {"NSPrivacyCollectedDataTypeSearchHistory", "Search History"},
    {"NSPrivacyCollectedDataTypeUserID", "User ID"},
    {"NSPrivacyCollectedDataTypeDeviceID", "Device ID"},
    {"NSPrivacyCollectedDataTypePurchaseHistory", "Purchase History"},
    {"NSPrivacyCollectedDataTypeProductInteraction", "Product Interaction"},
    {"NSPrivacyCollectedDataTypeAdvertisingData", "Advertising Data"},
    {"NSPrivacyCollectedDataTypeOtherUsageData", "Other Usage Data"},
    {"NSPrivacyCollectedDataTypeCrashData", "Crash Data"},
    {"NSPrivacyCollectedDataTypePerformanceData", "Performance Data"},
    {"NSPrivacyCollectedDataTypeOtherDiagnosticData", "Other Diagnostic Data"},
    {"NSPrivacyCollectedDataTypeEnvironmentScanning", "Environment Scanning"},
    {"NSPrivacyCollectedDataTypeHands", "Hands"},
    {"NSPrivacyCollectedDataTypeHead", "Head"},
    {"NSPrivacyCollectedDataTypeOtherDataTypes", "Other Data Types"},
    {"NSPrivacyCollectedDataTypePurposeThirdPartyAdvertising", "Third-Party Advertising"},
    {"NSPrivacyCollectedDataTypePurposeDeveloperAdvertising",
     "Developer’s Advertising or Marketing"},
    {"NSPrivacyCollectedDataTypePurposeAnalytics", "Analytics"},
    {"NSPrivacyCollectedDataTypePurposeProductPersonalization", "Product Personalization"},
    {"NSPrivacyCollectedDataTypePurposeAppFunctionality", "App Functionality"},
    {"NSPrivacyCollectedDataTypePurposeOther", "Other Purposes"},
    {"NSPrivacyAccessedAPICategoryFileTimestamp", "File timestamps"},
    {"NSPrivacyAccessedAPICategorySystemBootTime", "System boot time"},
    {"NSPrivacyAccessedAPICategoryDiskSpace", "Disk space"},
    {"NSPrivacyAccessedAPICategoryActiveKeyboards", "Active keyboards"},
    {"NSPrivacyAccessedAPICategoryUserDefaults", "User defaults"},
}};

}  // namespace

Expected<PrivacyManifest> parsePrivacyManifest(std::span<const std::byte> bytes) {
    auto value = plist::parse(bytes);
    if (!value) return value.error();
    const plist::Dictionary* root = value->dictionary();
    if (!root)
        return Error{
            0, "the privacy manifest is " + std::string(typeName(*value)) + ", not a dictionary",
            ErrorCode::malformed};
    return ManifestReader().read(*root);
}

Expected<std::optional<PrivacyManifest>> readPrivacyManifest(const fs::path& bundleRoot,
                                                             const ItemRoot* within) {
    // A Mac bundle keeps it with its resources; iOS-style apps and frameworks at their top.
    for (const fs::path& path : {bundleRoot / "Resources" / "PrivacyInfo.xcprivacy",
                                 bundleRoot / "PrivacyInfo.xcprivacy"}) {
        auto bytes = readSmallFile(path, maxManifestBytes, within);
        if (!bytes) {
            if (bytes.error().code == ErrorCode::missing) continue;
            return bytes.error();
        }
        auto manifest = parsePrivacyManifest(*bytes);
        if (!manifest)
            return Error{manifest.error().offset, path.string() + ": " + manifest.error().message,
                         manifest.error().code};
        return std::optional<PrivacyManifest>(std::move(*manifest));
    }
    return std::optional<PrivacyManifest>();
}

std::string_view manifestTitle(std::string_view value) {
    const auto it = std::find_if(titles.begin(), titles.end(),
                                 [&](const Title& t) { return t.first == value; });
    return it == titles.end() ? value : it->second;
}

}  // namespace varko::overview
