// The walk over a bundle's code and what is read of each piece without verifying it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "fixtures/machowriter.h"
#include "format/plist/plist.h"
#include "overview/datafile.h"
#include "overview/overview.h"
#include "overview/overviewjson.h"
#include "support/bytes.h"

namespace varko::overview {
namespace {

namespace fs = std::filesystem;
using varko::testing::dataFile;

std::string plistOf(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

std::string infoPlist(const std::string& exe, const std::string& id,
                      const std::string& extra = {}) {
    return plistOf("<key>CFBundleExecutable</key><string>" + exe +
                   "</string><key>CFBundleIdentifier</key><string>" + id +
                   "</string><key>CFBundleShortVersionString</key><string>1.2</string>" + extra);
}

void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

examplegen::MachOOptions adhoc(const std::string& id, std::optional<std::string> team = {},
                               std::optional<std::string> entitlements = {}) {
    examplegen::MachOOptions o;
    o.signature->identifier = id;
    o.signature->teamId = std::move(team);
    o.signature->entitlements = std::move(entitlements);
    return o;
}

void code(const fs::path& p, const examplegen::MachOOptions& o) {
    fs::create_directories(p.parent_path());
    ASSERT_TRUE(examplegen::writeFile(p, examplegen::makeMachO(o), true));
}

/// A bundle of the app's layout (Contents/Info.plist, Contents/MacOS/NAME).
void appBundle(const fs::path& dir, const std::string& name, const std::string& id,
               const std::string& extra = {}, std::optional<std::string> team = {}) {
    write(dir / "Contents" / "Info.plist", infoPlist(name, id, extra));
    code(dir / "Contents" / "MacOS" / name, adhoc(id, std::move(team)));
}

/// Each component as a line, "path | kind | parent's path", in the order of their paths.
std::string listing(const Overview& o) {
    std::vector<std::string> lines;
    for (const Component& c : o.components)
        lines.push_back(c.path + " | " + std::string(kindName(c.kind)) + " | " +
                        (c.parent ? o.components[*c.parent].path : "-") + "\n");
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line;
    return text;
}

TEST(Components, EveryKindOfCodeIsFoundAndNestedUnderItsBundle) {
    QTemporaryDir dir;
    const fs::path app = fs::path(dir.path().toStdString()) / "Big.app";
    const fs::path c = app / "Contents";
    appBundle(app, "Big", "com.example.big");
    code(c / "MacOS" / "tool", adhoc("com.example.tool"));
    code(c / "MacOS" / "agent", adhoc("com.example.agent"));
    write(c / "MacOS" / "script.sh", "#!/bin/sh\n");
    fs::permissions(c / "MacOS" / "script.sh", fs::perms::owner_all);
    // A framework as Xcode lays it out: the code in Versions/A, links above it.
    const fs::path kit = c / "Frameworks" / "Kit.framework";
    write(kit / "Versions" / "A" / "Resources" / "Info.plist", infoPlist("Kit", "com.example.kit"));
    code(kit / "Versions" / "A" / "Kit", adhoc("com.example.kit"));
    fs::create_directory_symlink("A", kit / "Versions" / "Current");
    fs::create_symlink("Versions/Current/Kit", kit / "Kit");
    code(c / "Frameworks" / "libz.dylib", adhoc("libz"));
    appBundle(c / "Frameworks" / "Big Helper.app", "Big Helper", "com.example.big.helper");
    appBundle(c / "XPCServices" / "Fetch.xpc", "Fetch", "com.example.fetch");
    appBundle(c / "XPCServices" / "Fetch.xpc" / "Contents" / "Frameworks" / "Inner.framework",
              "Inner", "com.example.inner");
    appBundle(c / "PlugIns" / "Share.appex", "Share", "com.example.share");
    appBundle(c / "PlugIns" / "Old.plugin", "Old", "com.example.old");
    appBundle(c / "Library" / "LoginItems" / "Start.app", "Start", "com.example.start");
    appBundle(c / "Library" / "SystemExtensions" / "Net.systemextension", "Net", "com.example.net");
    appBundle(c / "Resources" / "Other.app", "Other", "com.example.other");
    write(c / "Library" / "LaunchAgents" / "com.example.agent.plist",
          plistOf("<key>Label</key><string>com.example.agent</string>"
                  "<key>BundleProgram</key><string>Contents/MacOS/agent</string>"));
    write(c / "Library" / "LaunchDaemons" / "com.example.d.plist",
          plistOf("<key>Label</key><string>com.example.d</string>"
                  "<key>Program</key><string>/usr/local/bin/d</string>"));
    write(c / "Library" / "LaunchDaemons" / "escape.plist",
          plistOf("<key>BundleProgram</key><string>../../../../etc/passwd</string>"));
    // A loop of links and a link out are not walked.
    fs::create_directory_symlink("..", c / "Resources" / "loop");
    fs::create_directory_symlink("/usr", c / "Resources" / "usr");

    const Overview o = readOverview(app);
    ASSERT_FALSE(o.problem) << o.problem->message;
    EXPECT_FALSE(o.componentsCut);
    EXPECT_EQ(listing(o), dataFile("every-kind-components.txt"));
    for (std::size_t i = 0; i < o.components.size(); ++i)
        if (o.components[i].parent) {
            EXPECT_LT(*o.components[i].parent, i);
        }

    // The agent is its program; the daemons start nothing inside and say so. A framework's
    // identity comes through its current version.
    varko::testing::expectJsonFile(componentsJson(o), "every-kind-components.json");
    for (const Component& c : o.components) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.identity.codeFound, c.kind != ComponentKind::launchDaemon);
        if (c.identity.codeFound) {
            EXPECT_EQ(c.identity.signature, SignatureForm::adhoc);
        }
    }
}

TEST(Components, IdentityEntitlementsAndFlagsComeFromEachPiecesOwnFiles) {
    QTemporaryDir dir;
    const fs::path app = fs::path(dir.path().toStdString()) / "Flags.app";
    const fs::path c = app / "Contents";
    write(c / "Info.plist",
          infoPlist("Flags", "com.example.flags",
                    "<key>NSCameraUsageDescription</key><string>To see you</string>"
                    "<key>NSSomethingNewUsageDescription</key><string>New</string>"
                    "<key>NSOddUsageDescription</key><integer>3</integer>"));
    auto mainCode = adhoc("com.example.flags", "TEAMAAAAAA",
                          plistOf("<key>com.apple.security.get-task-allow</key><true/>"
                                  "<key>com.apple.security.cs.disable-library-validation</key>"
                                  "<false/>"));
    mainCode.signature->flags |= codesig::CS_RUNTIME;
    code(c / "MacOS" / "Flags", mainCode);
    code(c / "MacOS" / "other-team", adhoc("com.example.other", "TEAMBBBBBB"));
    code(c / "MacOS" / "private",
         adhoc("com.example.private", "TEAMAAAAAA",
               plistOf("<key>com.apple.private.tcc.allow</key><array>"
                       "<string>kTCCServiceSomethingNew</string></array>")));

    const Overview o = readOverview(app);
    // A false entitlement is not held; a true risky one is. Ad hoc code inside ad hoc code is
    // nothing to point at; a private allowance the main executable lacks is, and so is the
    // private key itself.
    varko::testing::expectJsonFile(componentsJson(o), "identity-and-flags.json");
    ASSERT_EQ(o.components.size(), 3u);
    const std::vector<std::pair<std::string, std::string>> usage{
        {"NSCameraUsageDescription", "To see you"},
        {"NSSomethingNewUsageDescription", "New"},
        {"NSOddUsageDescription", "3"}};
    EXPECT_EQ(o.components[0].identity.usageDescriptions, usage);
}

/// The DER form of the entitlements a property list's body names.
std::vector<std::byte> der(const std::string& body) {
    const auto value = plist::parse(plistOf(body));
    return examplegen::derEntitlements(*value->dictionary());
}

TEST(Components, TheDerFormOfEntitlementsDecidesAndTwoFormsThatDifferAreFlagged) {
    QTemporaryDir dir;
    const fs::path app = fs::path(dir.path().toStdString()) / "Der.app";
    const fs::path c = app / "Contents";
    const std::string camera = "<key>com.apple.security.device.camera</key>";
    const std::string mike = "<key>com.apple.security.device.microphone</key><true/>";
    write(c / "Info.plist", infoPlist("Der", "com.example.der"));
    // The XML form denies the camera, the DER form grants it and the microphone too.
    auto mainCode = adhoc("com.example.der", {}, plistOf(camera + "<false/>"));
    mainCode.signature->derEntitlements = der(camera + "<true/>" + mike);
    code(c / "MacOS" / "Der", mainCode);
    auto derOnly = adhoc("com.example.deronly");
    derOnly.signature->derEntitlements = der(camera + "<true/>");
    code(c / "MacOS" / "deronly", derOnly);
    auto broken = adhoc("com.example.broken", {}, plistOf(mike));
    broken.signature->derEntitlements = std::vector<std::byte>{std::byte{0x70}, std::byte{0x05}};
    code(c / "MacOS" / "broken", broken);
    // A bundle that names itself after Safari while its signature says otherwise.
    write(c / "Helpers" / "Safe.app" / "Contents" / "Info.plist",
          infoPlist("Safe", "com.apple.Safari"));
    code(c / "Helpers" / "Safe.app" / "Contents" / "MacOS" / "Safe", adhoc("com.hostile.helper"));

    // An unreadable DER form is said; the XML form is all there is left to show. Only a
    // bundle has an Info.plist whose identifier its signature can contradict.
    varko::testing::expectJsonFile(componentsJson(readOverview(app)), "der-entitlements.json");
}

TEST(Components, HostileLayoutsAreBoundedAndSaidNotFatal) {
    QTemporaryDir dir;
    const fs::path base = fs::path(dir.path().toStdString());
    // Bundles nested deeper than the walk goes.
    const fs::path app = base / "Deep.app";
    appBundle(app, "Deep", "com.example.deep");
    fs::path at = app / "Contents" / "PlugIns";
    for (int i = 0; i < maxNesting + 4; ++i) {
        at /= "P" + std::to_string(i) + ".bundle";
        write(at / "Contents" / "Info.plist", plistOf(""));
        at /= "Contents";
    }
    const Overview deep = readOverview(app);
    EXPECT_TRUE(deep.componentsCut);
    EXPECT_EQ(deep.components.size(), std::size_t(maxNesting) + 1);

    // No bundle at all, an unreadable Info.plist, and a main executable that is a link out.
    const auto missing = readOverview(base / "Missing.app").problem;
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code, ErrorCode::missing);
    const fs::path broken = base / "Broken.app";
    write(broken / "Contents" / "Info.plist", "not a plist");
    EXPECT_TRUE(readOverview(broken).problem);
    const fs::path linked = base / "Linked.app";
    write(linked / "Contents" / "Info.plist", infoPlist("Linked", "com.example.linked"));
    fs::create_directories(linked / "Contents" / "MacOS");
    fs::create_symlink("/bin/sh", linked / "Contents" / "MacOS" / "Linked");
    const Overview out = readOverview(linked);
    EXPECT_TRUE(out.components.empty());
    EXPECT_TRUE(out.problem);
}

}  // namespace
}  // namespace varko::overview
