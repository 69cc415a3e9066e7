// The whole-app view of signed apps: every piece found, verified and flagged, and the
// privacy services the app and its pieces use, as the window and varko-report show them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>

#include "fixtures/componentbundle.h"
#include "overview/componentcheck.h"
#include "overview/datafile.h"
#include "overview/overview.h"
#include "overview/overviewjson.h"
#include "overview/verdict.h"
#include "signature/codeverifier.h"
#include "signature/hashbudget.h"
#include "signature/signingfixture.h"
#include "support/unprivileged.h"

#include <fstream>

namespace varko::overview {
namespace {

using namespace examplegen;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class WholeApp : public ::testing::Test {
protected:
    QTemporaryDir dir;

    /// Writes the app; a fixture that can't be written fails the test.
    fs::path written(const ComponentApp& description) {
        const auto app =
            writeComponentApp(fs::path(dir.path().toStdString()), description, sharedPki());
        if (!app) throw std::runtime_error(app.error().message);
        return *app;
    }

    Overview checked(const fs::path& app) {
        Overview o = readOverview(app);
        for (Component& c : o.components)
            if (c.identity.codeFound)
                c.check = checkComponent(app, c, sharedPki().anchors(), jan2024 + 86400);
        flagComponents(o, PrivacyCatalog::builtIn());
        return o;
    }

    /// Changes one byte of the file at `offset`, as a tamperer would.
    static void flipByte(const fs::path& file, std::streamoff offset) {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(offset);
        const char was = char(f.get());
        f.seekp(offset);
        f.put(char(was ^ 0x5a));
        ASSERT_TRUE(f.good()) << file;
    }

    /// `to` made a copy of `from` whose bytes `change` changes, given where the code
    /// directory starts.
    static void changeCodeDirectory(const fs::path& from, const fs::path& to,
                                    const std::function<void(std::string&, std::size_t)>& change) {
        std::ifstream in(from, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const std::size_t cd = bytes.find(std::string("\xfa\xde\x0c\x02", 4));
        ASSERT_NE(cd, std::string::npos) << from;
        change(bytes, cd);
        fs::remove(to);
        std::ofstream(to, std::ios::binary) << bytes;
    }

    static bool lists(const Overview& o, const std::string& path) {
        return std::any_of(o.components.begin(), o.components.end(),
                           [&](const Component& c) { return c.path == path; });
    }

    static const Component& at(const Overview& o, const std::string& path) {
        const auto found = std::find_if(o.components.begin(), o.components.end(),
                                        [&](const Component& c) { return c.path == path; });
        if (found == o.components.end()) throw std::runtime_error("no component " + path);
        return *found;
    }

    /// One piece for each flag, beside clean ones.
    static ComponentApp flaggedApp() {
        ComponentApp app;
        app.info.set("NSCalendarsFullAccessUsageDescription", "Plan your week.");
        app.info.set("NSSomethingNewUsageDescription", "Something new.");
        app.entitlements =
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
            "<key>com.apple.private.tcc.allow</key><array>"
            "<string>kTCCServiceSomethingNew</string></array></dict></plist>";
        app.privacyManifest =
            privacyManifestText(false, {}, {"NSPrivacyCollectedDataTypeName"},
                                {{"NSPrivacyAccessedAPICategoryUserDefaults", {"CA92.1"}}});
        const auto piece = [&](PieceKind kind, std::string path) -> Piece& {
            app.pieces.push_back(pieceAt(kind, std::move(path)));
            return app.pieces.back();
        };
        piece(PieceKind::framework, "Contents/Frameworks/Kit.framework").privacyManifest =
            privacyManifestText(true, {"track.example"}, {}, {});
        piece(PieceKind::framework, "Contents/Frameworks/Loose.framework").signing = Signing::adhoc;
        piece(PieceKind::helper, "Contents/MacOS/bare").signing = Signing::unsignedCode;
        piece(PieceKind::xpcService, "Contents/XPCServices/Other.xpc").signing = Signing::otherTeam;
        piece(PieceKind::appExtension, "Contents/PlugIns/Share.appex").entitlements =
            entitlementsGranting({"com.apple.security.device.camera"});
        piece(PieceKind::loginItem, "Contents/Library/LoginItems/Starter.app").entitlements =
            entitlementsGranting({"com.apple.security.cs.disable-library-validation"});
        piece(PieceKind::launchAgent, "Contents/Library/LaunchAgents/com.example.agent.plist");
        return app;
    }
};

TEST_F(WholeApp, EveryPieceIsVerifiedAndWhatDeservesALookIsFlagged) {
    const fs::path app = written(flaggedApp());
    const Overview o = checked(app);
    ASSERT_FALSE(o.problem) << o.problem->message;

    std::vector<std::string> lines;
    for (const Component& c : o.components) {
        ASSERT_TRUE(c.check) << c.path;
        std::string flags;
        for (const std::string& flag : c.flags) flags += (flags.empty() ? "" : ",") + flag;
        lines.push_back(c.path + " | " + std::string(kindName(c.kind)) + " | " +
                        std::string(signerName(c.check->signer)) + " | " + flags + " | " +
                        (c.check->valid ? "valid" : "not valid") + "\n");
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(std::accumulate(lines.begin(), lines.end(), std::string()),
              varko::testing::dataFile("flagged-app-components.txt"));
    const Component& main = o.components.front();
    EXPECT_EQ(main.check->reason, "nested code is modified or invalid (MacOS/bare: not signed)");
    EXPECT_EQ(main.check->leafName, "Developer ID Application: Varko Tests (TEAM123456)");
    EXPECT_EQ(at(o, "Contents/XPCServices/Other.xpc").identity.teamIdentifier, "OTHER98765");
    ASSERT_TRUE(main.identity.privacyManifest);
    EXPECT_EQ(main.identity.privacyManifest->accessedApis.size(), 1u);
    ASSERT_TRUE(at(o, "Contents/Frameworks/Kit.framework").identity.privacyManifest);
    EXPECT_EQ(at(o, "Contents/Frameworks/Kit.framework").identity.privacyManifest->trackingDomains,
              std::vector<std::string>{"track.example"});

    // Today's services: the modern calendar key, the camera only an extension holds, and
    // names the table doesn't know, listed rather than dropped.
    varko::testing::expectJsonFile(servicesJson(o), "flagged-app-services.json");

    // The verdict of this app on a computer that can't ask Apple's servers.
    const GatekeeperAnswer accepted{GatekeeperAnswer::Kind::accepted, "", "Developer ID",
                                    *main.check->leafName};
    const Verdict v = judge(true, &o, accepted, {false, false});
    EXPECT_EQ(v.state, Verdict::State::accepted);
    // Its unsigned helper leaves the app not as signed, whatever an assessment said.
    EXPECT_EQ(v.signerTrusted, Tri::no);
    EXPECT_EQ(v.sealed, Tri::no);
    EXPECT_EQ(v.flagged, 6u);
    EXPECT_EQ(v.notarization, Tri::unknown);
    EXPECT_TRUE(v.complete);
}

TEST_F(WholeApp, TamperingIsFoundInThePieceAndTheAppAroundIt) {
    ComponentApp description = flaggedApp();
    description.afterSigning = {
        {"Contents/Frameworks/Kit.framework/Versions/A/Resources/strings.txt", "changed\n"},
        {"stray.txt", "unsealed\n"}};
    const fs::path app = written(description);
    const Overview o = checked(app);
    const Component& kit = at(o, "Contents/Frameworks/Kit.framework");
    ASSERT_TRUE(kit.check);
    EXPECT_FALSE(kit.check->valid);
    EXPECT_THAT(kit.check->reason, HasSubstr("a sealed resource is missing or invalid"));
    // A chain no trusted root vouches for is not valid, but whether the files are as
    // signed is still told.
    const auto untrusted = [&](const std::string& path) {
        return checkComponent(app, at(o, path), signing::TrustAnchors::apple(), jan2024);
    };
    EXPECT_EQ(untrusted("Contents/Frameworks/Loose.framework").signer, Signer::adhoc);
    const ComponentCheck other = untrusted("Contents/XPCServices/Other.xpc");
    EXPECT_EQ(other.signer, Signer::untrusted);
    EXPECT_FALSE(other.valid);
    EXPECT_EQ(other.reason, "CSSMERR_TP_NOT_TRUSTED");
    EXPECT_TRUE(other.intact) << other.integrityReason;
    const ComponentCheck kitUntrusted = untrusted("Contents/Frameworks/Kit.framework");
    EXPECT_FALSE(kitUntrusted.intact);
    EXPECT_THAT(kitUntrusted.integrityReason, HasSubstr("a sealed resource is missing or invalid"));

    const Component& main = o.components.front();
    EXPECT_FALSE(main.check->valid);
    EXPECT_EQ(main.check->reason, "unsealed contents present in the bundle root (stray.txt)");
    const Verdict v = judge(
        true, &o,
        GatekeeperAnswer{GatekeeperAnswer::Kind::rejected, main.check->reason, "Developer ID", {}},
        {false, false});
    EXPECT_EQ(v.state, Verdict::State::rejected);
    EXPECT_EQ(v.sealed, Tri::no);
    EXPECT_EQ(v.sealReason, main.check->reason);
}

TEST_F(WholeApp, ACodeByteChangedLeavesNoTrustedSignerAndNoSeal) {
    ComponentApp description;
    description.info.set("NSCameraUsageDescription", "Scans codes.");
    const fs::path app = written(description);
    flipByte(app / "Contents/MacOS/Host", 4096 + 17);
    const Overview o = checked(app);
    const Component& main = o.components.front();
    ASSERT_TRUE(main.check);
    EXPECT_EQ(main.check->signer, Signer::developerId);
    EXPECT_FALSE(main.check->intact);
    const Verdict v = judge(true, &o, std::nullopt, {false, false});
    EXPECT_EQ(v.signer,
              "claims Developer ID Application: Varko Tests (TEAM123456); the code does not "
              "match its signature");
    EXPECT_EQ(v.signerTrusted, Tri::no);
    EXPECT_EQ(v.hardenedRuntime, Tri::unknown);
    EXPECT_EQ(v.sealed, Tri::no);
    EXPECT_THAT(v.sealReason, HasSubstr("page 1 of the code does not match its hash"));
}

TEST_F(WholeApp, CodeHiddenWhereTheSealSaysYesIsStillFoundAndJudged) {
    ComponentApp description;
    // Mach-O in a folder named as the seal's own, deep inside: code like any other.
    Piece spy = pieceAt(PieceKind::helper, "Contents/Resources/x/_CodeSignature/spy");
    spy.entitlements = entitlementsGranting({"com.apple.security.device.camera"});
    // Unsigned code where the rules seal files as data: the app's seal holds, the code doesn't.
    Piece stray = pieceAt(PieceKind::helper, "Contents/Resources/tool");
    stray.signing = Signing::unsignedCode;
    description.pieces = {spy, stray};
    const fs::path app = written(description);
    const Overview o = checked(app);
    ASSERT_TRUE(lists(o, "Contents/Resources/x/_CodeSignature/spy"));
    const auto camera = std::find_if(o.services.begin(), o.services.end(), [](const auto& s) {
        return s.service == "kTCCServiceCamera";
    });
    ASSERT_NE(camera, o.services.end());
    EXPECT_EQ(camera->components,
              std::vector<std::string>{"Contents/Resources/x/_CodeSignature/spy"});

    EXPECT_TRUE(o.components.front().check->intact) << o.components.front().check->integrityReason;
    const Verdict v = judge(true, &o, std::nullopt, {false, false});
    EXPECT_EQ(v.sealed, Tri::no);
    EXPECT_EQ(v.sealReason, "Contents/Resources/tool: code object is not signed at all");
}

TEST_F(WholeApp, AFolderThatCantBeReadFailsTheSealAndIsSaid) {
    ComponentApp description;
    Piece hidden = pieceAt(PieceKind::helper, "Contents/Helpers/locked/tool");
    hidden.entitlements = entitlementsGranting({"com.apple.security.device.camera"});
    description.pieces = {hidden};
    const fs::path app = written(description);
    testsupport::openUpTo(app);
    fs::permissions(app / "Contents/Helpers/locked", fs::perms::none);
    const auto seen = testsupport::asUnprivileged([&] {
        const Overview o = checked(app);
        const Verdict v = judge(true, &o, std::nullopt, {false, false});
        std::string out = lists(o, "Contents/Helpers/locked/tool") ? "listed\n" : "";
        for (const std::string& p : o.problems) out += p + "\n";
        return out + triName(v.sealed).data() + "\n" + v.sealReason;
    });
    fs::permissions(app / "Contents/Helpers/locked", fs::perms::owner_all);
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen,
              "a folder could not be read: Contents/Helpers/locked (Permission denied)\n"
              "no\n"
              "a sealed resource is missing or invalid (a folder could not be read: "
              "Helpers/locked)");
}

TEST_F(WholeApp, EachFileIsHashedOncePerItemAndTheItemsHashingIsBounded) {
    ComponentApp description;
    Piece big = pieceAt(PieceKind::helper, "Contents/Helpers/big");
    big.codeSize = 1 << 20;
    description.pieces = {big};
    const fs::path app = written(description);
    // The same code behind many names.
    for (int i = 0; i < 16; ++i)
        fs::create_hard_link(app / "Contents/Helpers/big",
                             app / ("Contents/Helpers/link" + std::to_string(i)));
    Overview o = readOverview(app);
    ASSERT_EQ(o.components.size(), 18u);

    // Room for the big code once, not seventeen times: every link still checks.
    codesign::HashBudget budget(3 << 20);
    for (Component& c : o.components)
        c.check = checkComponent(app, c, sharedPki().anchors(), jan2024 + 86400, &budget);
    for (const Component& c : o.components) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(c.check->unchecked) << c.check->reason;
        if (c.path != "Contents/MacOS/Host") {
            EXPECT_TRUE(c.check->intact) << c.check->integrityReason;
        }
    }

    // A code limit past the end of the file is malformed, whatever room is left to hash.
    changeCodeDirectory(
        app / "Contents/Helpers/big", app / "Contents/Helpers/link15",
        [](std::string& bytes, std::size_t cd) { bytes.replace(cd + 32, 4, "\x7f\xff\xff\xff"); });
    codesign::HashBudget room(1 << 20);
    const ComponentCheck overlong = checkComponent(app, at(o, "Contents/Helpers/link15"),
                                                   sharedPki().anchors(), jan2024, &room);
    EXPECT_FALSE(overlong.unchecked);
    // Its signature no longer covers the changed code directory, which is said first.
    EXPECT_EQ(overlong.reason,
              "invalid signature: the signature does not match the code directory");

    // A page hash changed in the code directory: the signature no longer covers it, so its
    // page hashes are no one's word and the untouched code is not blamed.
    changeCodeDirectory(
        app / "Contents/Helpers/big", app / "Contents/Helpers/link14",
        [](std::string& bytes, std::size_t cd) {
            const auto u8 = [&](std::size_t at) { return unsigned(std::uint8_t(bytes[at])); };
            const std::size_t hashOffset =
                u8(cd + 16) << 24 | u8(cd + 17) << 16 | u8(cd + 18) << 8 | u8(cd + 19);
            bytes[cd + hashOffset] = char(~bytes[cd + hashOffset]);
        });
    codesign::HashBudget again(8 << 20);
    const ComponentCheck slotChanged = checkComponent(app, at(o, "Contents/Helpers/link14"),
                                                      sharedPki().anchors(), jan2024, &again);
    EXPECT_FALSE(slotChanged.intact);
    EXPECT_TRUE(slotChanged.codeMatches) << slotChanged.integrityReason;
    {
        const codesign::HashBudget::Scope scope(&room);
        const auto slices = codesign::loadEverySlice(app / "Contents/Helpers/link15");
        ASSERT_TRUE(slices);
        const auto pages = codesign::verifyCodePages(slices->front());
        ASSERT_FALSE(pages);
        EXPECT_EQ(pages.error().message, "the code limit lies past the end of the code");
        EXPECT_FALSE(scope.refused());
    }

    // Less room than the code: cut, and said to be cut, never called invalid.
    codesign::HashBudget small(512 << 10);
    const ComponentCheck cut = checkComponent(app, at(o, "Contents/Helpers/link3"),
                                              sharedPki().anchors(), jan2024, &small);
    EXPECT_TRUE(cut.unchecked);
    EXPECT_EQ(cut.reason, "not checked: more than 512 KiB of code and files to hash in this item");
    EXPECT_FALSE(cut.leafName);
}

TEST_F(WholeApp, ManyLargePrivacyManifestsAreReadOnlyUpToABoundInAll) {
    // Each manifest within its own bounds, 70 of them far past what one app is read for.
    std::vector<std::string> domains;
    for (int i = 0; i < 1000; ++i) domains.push_back(std::string(240, 'd') + std::to_string(i));
    ComponentApp description;
    for (int i = 0; i < 70; ++i) {
        Piece kit = pieceAt(PieceKind::framework,
                            "Contents/Frameworks/Kit" + std::to_string(i) + ".framework");
        kit.privacyManifest = privacyManifestText(true, domains, {}, {});
        description.pieces.push_back(kit);
    }
    const fs::path app = written(description);
    const Overview o = readOverview(app);
    EXPECT_TRUE(o.manifestsCut);
    std::size_t read = 0, unread = 0;
    for (const Component& c : o.components) {
        if (c.identity.privacyManifest) ++read;
        for (const std::string& p : c.identity.problems)
            if (p.starts_with("its privacy manifest was not read")) ++unread;
    }
    EXPECT_EQ(read + unread, 70u);
    // Some 260 KB kept of each: the bound of 16 MiB is passed after about 65 of them.
    EXPECT_GE(unread, 1u);
    EXPECT_LE(unread, 6u);
}

}  // namespace
}  // namespace varko::overview
