// The app writer the overview's tests stand on: what it writes must verify as real signed
// apps do, so that their findings are about the overview, never about a broken fixture.
#include "fixtures/componentbundle.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "overview/privacymanifest.h"
#include "signature/signingfixture.h"

namespace {

using namespace varko;
using namespace varko::examplegen;
namespace fs = std::filesystem;

class ComponentBundle : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path parent() const { return fs::path(dir.path().toStdString()); }

    /// Why the assessment of the app as written rejects it; empty when it accepts it.
    std::string rejection(const ComponentApp& app) {
        const auto written = writeComponentApp(parent(), app, sharedPki());
        if (!written) return "not written: " + written.error().message;
        const auto a = varko::testing::assess(*written, sharedPki().anchors());
        return a.accepted ? "" : a.reason;
    }

    static ComponentApp everyKind() {
        ComponentApp app;
        app.entitlements = entitlementsGranting({"com.apple.security.app-sandbox"});
        app.info.set("NSCameraUsageDescription", "Video calls.");
        app.privacyManifest = privacyManifestText(false, {}, {}, {});
        const auto piece = [&](PieceKind kind, std::string path) -> Piece& {
            app.pieces.push_back(pieceAt(kind, std::move(path)));
            return app.pieces.back();
        };
        piece(PieceKind::framework, "Contents/Frameworks/Kit.framework").privacyManifest =
            privacyManifestText(true, {"t.example"}, {"NSPrivacyCollectedDataTypeDeviceID"}, {});
        piece(PieceKind::framework, "Contents/Frameworks/Loose.framework").signing = Signing::adhoc;
        piece(PieceKind::dynamicLibrary, "Contents/Frameworks/libz.dylib").signing =
            Signing::otherTeam;
        piece(PieceKind::helper, "Contents/MacOS/helper").entitlements =
            entitlementsGranting({"com.apple.security.get-task-allow"});
        piece(PieceKind::xpcService, "Contents/XPCServices/Fetch.xpc")
            .info.set("NSMicrophoneUsageDescription", "Dictation.");
        piece(PieceKind::appExtension, "Contents/PlugIns/Share.appex");
        piece(PieceKind::loginItem, "Contents/Library/LoginItems/Starter.app");
        // Nested two deep: the login item seals its own XPC service.
        piece(PieceKind::xpcService,
              "Contents/Library/LoginItems/Starter.app/Contents/XPCServices/Inner.xpc");
        piece(PieceKind::launchAgent, "Contents/Library/LaunchAgents/com.example.agent.plist");
        piece(PieceKind::systemExtension,
              "Contents/Library/SystemExtensions/com.example.filter.systemextension");
        piece(PieceKind::nestedApp, "Contents/Applications/Tool.app");
        return app;
    }
};

TEST_F(ComponentBundle, ACleanAppOfEveryKindIsAcceptedAndTamperingIsNot) {
    ComponentApp app = everyKind();
    EXPECT_EQ(rejection(app), "");
    const fs::path path = parent() / "Host.app";
    EXPECT_TRUE(fs::exists(path / "Contents/Library/LaunchServices/com.example.agent"));
    EXPECT_TRUE(fs::exists(path / "Contents/Library/LoginItems/Starter.app/Contents/XPCServices/"
                                  "Inner.xpc/Contents/MacOS/Inner"));
    // Manifests lie where Xcode puts them, which is where the overview reads them.
    auto kit = overview::readPrivacyManifest(path / "Contents/Frameworks/Kit.framework/Versions/A");
    ASSERT_TRUE(kit && *kit);
    EXPECT_EQ((*kit)->tracking, true);

    app.afterSigning = {{"Contents/Resources/readme.txt", "changed\n"}};
    EXPECT_EQ(rejection(app),
              "a sealed resource is missing or invalid (file modified: Resources/readme.txt)");

    app.afterSigning = {{"Contents/Resources/extra.txt", "unsealed\n"}};
    EXPECT_EQ(rejection(app),
              "a sealed resource is missing or invalid (file added: Resources/extra.txt)");

    // A change inside nested code is caught through that code's own seal.
    app.afterSigning = {
        {"Contents/Frameworks/Kit.framework/Versions/A/Resources/PrivacyInfo.xcprivacy",
         "<plist><dict/></plist>"}};
    EXPECT_EQ(rejection(app),
              "nested code is modified or invalid (Frameworks/Kit.framework: a sealed resource "
              "is missing or invalid (file modified: Resources/PrivacyInfo.xcprivacy))");
}

TEST_F(ComponentBundle, UnsignedNestedCodeIsSealedAsDataAndRejected) {
    ComponentApp app;
    app.pieces.push_back(pieceAt(PieceKind::xpcService, "Contents/XPCServices/Bare.xpc"));
    app.pieces.back().signing = Signing::unsignedCode;
    EXPECT_EQ(rejection(app),
              "nested code is modified or invalid (XPCServices/Bare.xpc/Contents/MacOS/Bare: not "
              "signed)");

    app.pieces.back() = pieceAt(PieceKind::framework, "Contents/Frameworks/Raw.framework");
    app.pieces.back().signing = Signing::unsignedCode;
    EXPECT_EQ(rejection(app),
              "nested code is modified or invalid (Frameworks/Raw.framework/Versions/A/Raw: not "
              "signed)");
    EXPECT_FALSE(fs::exists(parent() / "Host.app/Contents/Frameworks/Raw.framework/Versions/A/"
                                       "_CodeSignature"));

    app.pieces.back().path = "/Contents/XPCServices/Bare.xpc";
    EXPECT_FALSE(writeComponentApp(parent(), app, sharedPki()));
}

TEST_F(ComponentBundle, ManyComponentsAreWrittenSignedAndSealed) {
    EXPECT_EQ(rejection(manyComponents(30, 4096)), "");
    EXPECT_TRUE(fs::exists(parent() / "Many.app/Contents/XPCServices/Service29.xpc"));
    EXPECT_TRUE(fs::exists(parent() / "Many.app/Contents/Helpers/tool28"));
}

}  // namespace
