#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "overview/privacycatalog.h"
#include "overview/privacyservices.h"

using namespace varko;
using namespace varko::overview;

namespace {

const PrivacyCatalog& table() {
    return PrivacyCatalog::builtIn();
}

const ServiceUse* find(const std::vector<ServiceUse>& uses, std::string_view service) {
    for (const ServiceUse& use : uses) {
        if (use.service == service) {
            return &use;
        }
    }
    return nullptr;
}

plist::Array names(std::initializer_list<const char*> list) {
    plist::Array array;
    for (const char* name : list) {
        array.emplace_back(name);
    }
    return array;
}

}  // namespace

// Which names the table holds is its own business; how it is looked up is tested here.
TEST(PrivacyCatalog, BuiltInTableParsesAndLooksNamesUpExactly) {
    ASSERT_GE(table().services().size(), 30u);
    const PrivacyService* calendars = table().byUsageKey("NSCalendarsFullAccessUsageDescription");
    ASSERT_NE(calendars, nullptr);
    EXPECT_EQ(calendars->title, "Calendars");
    EXPECT_EQ(table().byUsageKey("NSCalendarsWriteOnlyAccessUsageDescription"), calendars);
    EXPECT_EQ(table().byTccService("kTCCServiceCalendar"), calendars);
    const PrivacyService* bluetooth = table().byTccService("kTCCServiceBluetoothAlways");
    ASSERT_NE(bluetooth, nullptr);
    EXPECT_EQ(bluetooth->title, "Bluetooth");
    EXPECT_EQ(table().byTccService("kTCCServiceLiverpool"),
              table().byUsageKey("NSLocationUsageDescription"));
    // Lookups are exact: no prefix, case or suffix matching.
    EXPECT_EQ(table().byTccService("kTCCServiceSomethingNew"), nullptr);
    EXPECT_EQ(table().byUsageKey("nscalendarsusagedescription"), nullptr);
    EXPECT_EQ(table().byTccService("kTCCServiceCalendarX"), nullptr);
}

TEST(PrivacyCatalog, EveryNameBelongsToOneRowAndEveryRowHasASource) {
    std::set<std::string> seen;
    for (const PrivacyService& row : table().services()) {
        EXPECT_FALSE(row.sources.empty()) << row.id;
        for (const std::string& source : row.sources) {
            EXPECT_TRUE(source.starts_with("https://")) << row.id << ": " << source;
        }
        std::vector<std::string> all = row.tccServices;
        all.insert(all.end(), row.entitlements.begin(), row.entitlements.end());
        for (const UsageKey& key : row.usageKeys) {
            all.push_back(key.key);
            EXPECT_TRUE(key.key.ends_with("UsageDescription")) << key.key;
            EXPECT_EQ(table().byUsageKey(key.key), &row);
        }
        for (const std::string& name : all) {
            EXPECT_TRUE(seen.insert(name).second) << name << " is in two rows";
        }
        for (const std::string& name : row.tccServices) {
            EXPECT_TRUE(name.starts_with("kTCCService")) << name;
            EXPECT_EQ(table().byTccService(name), &row);
        }
    }
}

TEST(PrivacyCatalog, RejectsMalformedTablesNamingTheRow) {
    const std::string good =
        R"({"id":"a","title":"A","tccServices":["kTCCServiceA"],"sources":["https://a"]})";
    struct Case {
        std::string json;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"[", "not JSON"},
        {R"({"rows":[]})", "expected an object with a \"services\" array"},
        {"[" + good + ",42]", "row 1: expected an object"},
        {R"([{"title":"A","tccServices":["k"],"sources":["https://a"]}])",
         "row 0, field \"id\": expected a string"},
        {R"([{"id":"a","title":"","tccServices":["k"],"sources":["https://a"]}])",
         "row 0, field \"title\": a name must have 1 to 512 characters"},
        {"[" + good +
             R"(,{"id":"b","title":"B","tccServices":"kTCCServiceB","sources":["https://b"]}])",
         "row 1, field \"tccServices\": expected an array of strings"},
        {R"([{"id":"a","title":"A","usageKeys":[{"key":"NSAUsageDescription","legacy":"yes"}],"sources":["https://a"]}])",
         "row 0, field \"usageKeys\": \"legacy\" must be true or false"},
        {R"([{"id":"a","title":"A","usageKey":[],"tccServices":["k"],"sources":["https://a"]}])",
         "row 0, field \"usageKey\": not a field of the table"},
        {R"([{"id":"a","title":"A","tccServices":["k"],"sources":[]}])",
         "row 0, field \"sources\": every row names the public document it comes from"},
        {R"([{"id":"a","title":"A","tccServices":["k"],"sources":["http://a"]}])",
         "row 0, field \"sources\": a source is an https:// address"},
        {R"([{"id":"a","title":"A","sources":["https://a"]}])",
         "row 0: a service needs a TCC name, a usage key or an entitlement"},
        {"[" + good + "," + good + "]", "row 1, field \"id\": \"a\" names another row too"},
        {"[" + good +
             R"(,{"id":"b","title":"B","tccServices":["kTCCServiceA"],"sources":["https://b"]}])",
         "row 1, field \"tccServices\": \"kTCCServiceA\" is already in row 0 (\"a\")"},
        {R"([{"id":"a","title":"A","entitlements":["e","e"],"sources":["https://a"]}])",
         "row 0, field \"entitlements\": \"e\" is already in row 0 (\"a\")"},
        {R"([{"id":"a\u0001","title":"A","tccServices":["k"],"sources":["https://a"]}])",
         "row 0, field \"id\": a name must not hold control characters"},
    };
    for (const Case& c : cases) {
        const auto parsed = PrivacyCatalog::fromJson(c.json);
        ASSERT_FALSE(parsed.ok()) << c.json;
        EXPECT_NE(parsed.error().message.find(c.message), std::string::npos)
            << c.json << "\n  gave: " << parsed.error().message;
    }
    EXPECT_EQ(PrivacyCatalog::fromJson(std::string(2 << 20, ' ')).error().code,
              ErrorCode::tooLarge);
    auto many = std::string("[") + good;
    for (int i = 1; i <= 500; ++i) {
        many += R"(,{"id":"r)" + std::to_string(i) + R"(","title":"R","tccServices":["k)" +
                std::to_string(i) + R"("],"sources":["https://r"]})";
    }
    EXPECT_EQ(PrivacyCatalog::fromJson(many + "]").error().code, ErrorCode::tooLarge);
    EXPECT_TRUE(PrivacyCatalog::fromJson("[" + good + "]").ok());
}

TEST(PrivacyCatalog, OnlyTheTwoTccAllowEntitlementsArePrivateAllowances) {
    EXPECT_TRUE(isPrivateTccAllowance("com.apple.private.tcc.allow"));
    EXPECT_TRUE(isPrivateTccAllowance("com.apple.private.tcc.allow.overridable"));
    EXPECT_FALSE(isPrivateTccAllowance("com.apple.private.tcc.manager"));
    EXPECT_FALSE(isPrivateTccAllowance("com.apple.private.tcc.allow "));
}

TEST(PrivacyServices, MainAndComponentsEachCountedUnknownsKept) {
    std::vector<Component> components(3);
    Component& main = components[0];
    main.path = "Contents/MacOS/App";
    main.identity.usageDescriptions = {
        {"NSCalendarsFullAccessUsageDescription", "Plans"},
        {"NSSomethingNewUsageDescription", "New"},
        {"NSLocalNetworkUsageDescription", "Printers"},
    };
    main.identity.entitlements.set("com.apple.security.device.audio-input", true);
    // Explicitly false: not held.
    main.identity.entitlements.set("com.apple.security.device.bluetooth", false);
    main.identity.entitlements.set("com.apple.security.app-sandbox", true);
    main.identity.entitlements.set("com.apple.private.tcc.allow",
                                   names({"kTCCServiceBluetoothAlways", "kTCCServiceSomethingNew",
                                          "kTCCServiceBluetoothAlways"}));
    main.identity.entitlements.set("com.apple.private.tcc.allow.overridable",
                                   names({"kTCCServiceCalendar"}));

    Component& helper = components[1];
    helper.kind = ComponentKind::helper;
    helper.path = "Contents/Library/LoginItems/Helper.app";
    helper.identity.entitlements.set("com.apple.security.device.camera", true);
    helper.identity.usageDescriptions = {{"NSCalendarsUsageDescription", "Old"}};

    Component& plugIn = components[2];
    plugIn.kind = ComponentKind::plugIn;
    plugIn.path = "Contents/PlugIns/P.bundle";
    plugIn.identity.entitlements.set("com.apple.private.tcc.allow", names({"kTCCServiceOther"}));

    EXPECT_EQ(privateAllowances(main.identity),
              (std::vector<std::string>{"kTCCServiceBluetoothAlways", "kTCCServiceSomethingNew",
                                        "kTCCServiceCalendar"}));

    const auto uses = privacyServices(table(), components);
    std::vector<std::string> order;
    for (const ServiceUse& use : uses) {
        order.push_back(use.service);
    }
    // Table order for known rows (calendars, bluetooth, microphone, camera, …, local network),
    // then the unknown ones as met: the main's key, its allowance, then the plug-in's.
    EXPECT_EQ(order, (std::vector<std::string>{"kTCCServiceCalendar", "kTCCServiceBluetoothAlways",
                                               "kTCCServiceMicrophone", "kTCCServiceCamera",
                                               "NSLocalNetworkUsageDescription",
                                               "NSSomethingNewUsageDescription",
                                               "kTCCServiceSomethingNew", "kTCCServiceOther"}));

    const ServiceUse* calendars = find(uses, "kTCCServiceCalendar");
    EXPECT_EQ(calendars->title, "Calendars");
    EXPECT_EQ(calendars->usageKeys,
              std::vector<std::string>{"NSCalendarsFullAccessUsageDescription"});
    EXPECT_EQ(calendars->allowances,
              std::vector<std::string>{"com.apple.private.tcc.allow.overridable"});
    EXPECT_EQ(calendars->components, std::vector<std::string>{helper.path});

    const ServiceUse* bluetooth = find(uses, "kTCCServiceBluetoothAlways");
    EXPECT_TRUE(bluetooth->entitlements.empty());  // the false-valued one does not count
    EXPECT_EQ(bluetooth->allowances, std::vector<std::string>{"com.apple.private.tcc.allow"});

    // The camera is only the helper's: it still shows, with nothing from the main.
    const ServiceUse* camera = find(uses, "kTCCServiceCamera");
    EXPECT_TRUE(camera->known);
    EXPECT_TRUE(camera->entitlements.empty() && camera->usageKeys.empty());
    EXPECT_EQ(camera->components, std::vector<std::string>{helper.path});

    EXPECT_EQ(find(uses, "kTCCServiceMicrophone")->entitlements,
              std::vector<std::string>{"com.apple.security.device.audio-input"});

    const ServiceUse* newKey = find(uses, "NSSomethingNewUsageDescription");
    EXPECT_FALSE(newKey->known);
    EXPECT_EQ(newKey->title, "NSSomethingNewUsageDescription");
    EXPECT_EQ(newKey->usageKeys, std::vector<std::string>{"NSSomethingNewUsageDescription"});
    const ServiceUse* newTcc = find(uses, "kTCCServiceSomethingNew");
    EXPECT_FALSE(newTcc->known);
    EXPECT_EQ(newTcc->allowances, std::vector<std::string>{"com.apple.private.tcc.allow"});
    EXPECT_EQ(find(uses, "kTCCServiceOther")->components, std::vector<std::string>{plugIn.path});

    EXPECT_EQ(componentServices(table(), helper.identity),
              (std::vector<std::string>{"kTCCServiceCalendar", "kTCCServiceCamera"}));
    EXPECT_TRUE(privacyServices(table(), {}).empty());
}
