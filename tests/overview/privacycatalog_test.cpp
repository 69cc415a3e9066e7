#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "overview/datafile.h"
#include "overview/overviewjson.h"
#include "overview/privacycatalog.h"
#include "overview/privacyservices.h"

using namespace varko;
using namespace varko::overview;
using ::testing::HasSubstr;
using Names = std::vector<std::string>;

namespace {

const PrivacyCatalog& table() {
    return PrivacyCatalog::builtIn();
}

plist::Array names(std::initializer_list<const char*> list) {
    plist::Array array;
    for (const char* name : list) array.emplace_back(name);
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
        for (const std::string& source : row.sources)
            EXPECT_TRUE(source.starts_with("https://")) << row.id << ": " << source;
        std::vector<std::string> all = row.tccServices;
        all.insert(all.end(), row.entitlements.begin(), row.entitlements.end());
        for (const UsageKey& key : row.usageKeys) {
            all.push_back(key.key);
            EXPECT_TRUE(key.key.ends_with("UsageDescription")) << key.key;
            EXPECT_EQ(table().byUsageKey(key.key), &row);
        }
        for (const std::string& name : all)
            EXPECT_TRUE(seen.insert(name).second) << name << " is in two rows";
        for (const std::string& name : row.tccServices) {
            EXPECT_TRUE(name.starts_with("kTCCService")) << name;
            EXPECT_EQ(table().byTccService(name), &row);
        }
    }
}

TEST(PrivacyCatalog, RejectsMalformedTablesNamingTheRow) {
    const std::string good =
        R"({"id":"a","title":"A","tccServices":["kTCCServiceA"],"sources":["https://a"]})";
    // The cases are JSON text, kept as such in a file: a table, then the words of its failure.
    std::ifstream file(VARKO_TEST_DATA "/malformed-catalogs.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        if (!line.empty() && !line.starts_with('#')) lines.push_back(line);
    ASSERT_EQ(lines.size(), 30u);
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        const auto parsed = PrivacyCatalog::fromJson(lines[i]);
        ASSERT_FALSE(parsed.ok()) << lines[i];
        EXPECT_THAT(parsed.error().message, HasSubstr(lines[i + 1])) << lines[i];
    }
    EXPECT_EQ(PrivacyCatalog::fromJson(std::string(2 << 20, ' ')).error().code,
              ErrorCode::tooLarge);
    auto many = std::string("[") + good;
    for (int i = 1; i <= 500; ++i)
        many += R"(,{"id":"r)" + std::to_string(i) + R"(","title":"R","tccServices":["k)" +
                std::to_string(i) + R"("],"sources":["https://r"]})";
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

    EXPECT_EQ(
        privateAllowances(main.identity),
        (Names{"kTCCServiceBluetoothAlways", "kTCCServiceSomethingNew", "kTCCServiceCalendar"}));

    // Table order for known rows (calendars, bluetooth, microphone, camera, …, local network),
    // then the unknown ones as met: the main's key, its allowance, then the plug-in's. The
    // false-valued bluetooth entitlement does not count; the camera is only the helper's, and
    // still shows, with nothing from the main.
    Overview o;
    o.services = privacyServices(table(), components);
    varko::testing::expectJsonFile(servicesJson(o), "main-and-components-services.json");
    EXPECT_EQ(componentServices(table(), helper.identity),
              (Names{"kTCCServiceCalendar", "kTCCServiceCamera"}));
    EXPECT_TRUE(privacyServices(table(), {}).empty());
}
