// The verifier against a test certificate authority: who is trusted, when, and under
// which of Gatekeeper's names; and what a broken signature or chain is called.
#include <gtest/gtest.h>

#include <fstream>
#include <string_view>

#include "format/macho/machoformat.h"
#include "signingfixture.h"
#include "systools/codesign/codehash.h"
#include "systools/signing/trust.h"

using namespace varko;
using namespace varko::testing;

namespace {

class TrustTest : public ::testing::Test {
protected:
    TestPki pki;
    QTemporaryDir dir;
    SignWith developerId() const { return {&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, nullptr}; }
};

TEST_F(TrustTest, DeveloperIdBundleIsAcceptedOnlyUnderItsOwnRoot) {
    const auto app = signedBundle(dir, "Good", developerId());
    ASSERT_FALSE(app.empty());
    auto a = assess(app, pki.anchors());
    EXPECT_TRUE(a.accepted) << a.reason;
    EXPECT_EQ(a.source, "Developer ID");
    EXPECT_EQ(a.origin.value_or(""), "Developer ID Application: Varko Tests (TEAM123456)");
    // The notary service and revocation are never claimed.
    EXPECT_EQ(a.notes.size(), 2u);

    a = assess(app, signing::TrustAnchors::apple());
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.reason, "CSSMERR_TP_NOT_TRUSTED");
    EXPECT_EQ(a.source, "no usable signature");
}

TEST_F(TrustTest, ACertificateOutsideTheChainIsNotTrusted) {
    const auto otherRoot = examplegen::makeTestRoot("Stranger Root", jan2020, jan2040);
    const auto stranger = TestPki::issue("Developer ID Application: Stranger", false, {developerIdApplication},
                                         jan2020, jan2030, otherRoot);
    // Carrying the trusted root does not help a leaf that it did not issue.
    const auto app = signedBundle(dir, "Stranger", {&stranger, {&stranger, &pki.intermediate, &pki.root}, nullptr});
    const auto a = assess(app, pki.anchors());
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.reason, "CSSMERR_TP_NOT_TRUSTED");
}

TEST_F(TrustTest, ValidityIsCheckedAtTheTimestampElseNow) {
    const auto shortLived = TestPki::issue("Developer ID Application: Brief", false, {developerIdApplication}, jan2020,
                                           jan2024 + 3600, pki.intermediate);
    SignWith plain{&shortLived, {&shortLived, &pki.intermediate, &pki.root}, nullptr};
    EXPECT_EQ(assess(signedBundle(dir, "Plain", plain), pki.anchors(), jan2030).reason, "CSSMERR_TP_CERT_EXPIRED");

    SignWith stamped = plain;
    stamped.tsa = &pki.tsa;
    const auto app = signedBundle(dir, "Stamped", stamped);
    auto a = assess(app, pki.anchors(), jan2030);
    EXPECT_TRUE(a.accepted) << a.reason;

    // A stamp from outside the trusted roots vouches for nothing.
    const auto otherRoot = examplegen::makeTestRoot("Stranger Root", jan2020, jan2040);
    const auto strangerTsa = TestPki::issueTsa(otherRoot);
    stamped.tsa = &strangerTsa;
    a = assess(signedBundle(dir, "BadStamp", stamped), pki.anchors(), jan2030);
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.reason, "the timestamp's certificate is not trusted (CSSMERR_TP_NOT_TRUSTED)");
}

TEST_F(TrustTest, SourcesFollowTheMarkerExtensions) {
    struct Case {
        const char* name;
        std::string caName;
        std::vector<std::string> caMarkers, leafMarkers;
        const char* source;
        bool accepted;
    } cases[] = {
        {"AppStore", "Varko Test WWDR CA", {}, {"1.2.840.113635.100.6.1.9"}, "Mac App Store", true},
        {"System", "Apple Code Signing Certification Authority", {}, {"1.2.840.113635.100.6.22"}, "Apple System", true},
        {"SystemWrongCa", "Some Other CA", {}, {"1.2.840.113635.100.6.22"}, "no usable signature", false},
        {"DevIdWithoutCa", "Varko Test WWDR CA", {}, {developerIdApplication}, "no usable signature", false},
        {"NoMarker", "Varko Test Developer ID CA", {developerIdCa}, {}, "no usable signature", false},
    };
    for (const auto& c : cases) {
        const auto ca = TestPki::issue(c.caName, true, c.caMarkers, jan2020, jan2040, pki.root);
        const auto leaf = TestPki::issue(std::string("Leaf ") + c.name, false, c.leafMarkers, jan2020, jan2030, ca);
        const auto a = assess(signedBundle(dir, c.name, {&leaf, {&leaf, &ca, &pki.root}, nullptr}), pki.anchors());
        EXPECT_EQ(a.accepted, c.accepted) << c.name << ": " << a.reason;
        EXPECT_EQ(a.source, c.source) << c.name;
    }
}

// Anyone with a Developer ID can write a file that names their own code, so a ticket
// whose Apple signature is not checked must not make the code notarized.
TEST_F(TrustTest, StapledTicketIsReportedButNeverMakesTheCodeNotarized) {
    const auto app = signedBundle(dir, "Notarized", developerId());
    const auto cdhash = cdhashOf(app);
    ASSERT_EQ(cdhash.size(), 20u);
    const auto writeTicket = [&](std::string_view head, bool naming) {
        std::ofstream ticket(app / "Contents" / "CodeResources", std::ios::binary);
        ticket << head;
        if (naming) ticket.write(reinterpret_cast<const char*>(cdhash.data()), 20);
    };
    const auto notes = [](const codesign::Assessment& a) {
        std::string all;
        for (const auto& n : a.notes) all += n + "\n";
        return all;
    };

    writeTicket("s8ch-elsewhere", false);  // a ticket for some other code
    auto a = assess(app, pki.anchors());
    EXPECT_EQ(a.source, "Developer ID");
    EXPECT_NE(notes(a).find("no stapled ticket"), std::string::npos) << notes(a);

    writeTicket("junk", true);  // names the code but is no ticket
    a = assess(app, pki.anchors());
    EXPECT_NE(notes(a).find("no stapled ticket"), std::string::npos) << notes(a);

    writeTicket("s8ch", true);
    a = assess(app, pki.anchors());
    EXPECT_TRUE(a.accepted) << a.reason;
    EXPECT_EQ(a.source, "Developer ID");
    EXPECT_NE(notes(a).find("notarization is not claimed"), std::string::npos) << notes(a);
}

// Frameworks keep their code in Versions/Current; the app's seal names them by cdhash, and
// their own seal covers what is inside.
TEST_F(TrustTest, NestedFrameworkIsCheckedThroughItsCurrentVersion) {
    namespace fs = std::filesystem;
    const fs::path parts = fs::path(dir.path().toStdString()) / "parts";
    const auto framework = signedFramework(parts, "Kit", developerId());
    ASSERT_FALSE(framework.empty());
    // Valid on its own, though Gatekeeper only accepts apps.
    EXPECT_EQ(assess(framework, pki.anchors()).reason, "the code is valid but does not seem to be an app");
    auto files = someResources();
    files.push_back({"Frameworks/Kit.framework", "", {}, cdhashOf(framework)});
    const auto app = signedBundle(dir, "Host", developerId(), files);
    const fs::path nested = app / "Contents/Frameworks/Kit.framework";
    fs::create_directories(nested.parent_path());
    fs::copy(framework, nested, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    auto a = assess(app, pki.anchors());
    EXPECT_TRUE(a.accepted) << a.reason;

    {
        std::ofstream(nested / "Versions/A/Resources/strings.txt") << "changed";
        a = assess(app, pki.anchors());
        EXPECT_EQ(a.reason, "a sealed resource is missing or invalid (nested code invalid: Frameworks/Kit.framework)");
        std::ofstream(nested / "Versions/A/Resources/strings.txt") << "framework data\n";
        ASSERT_TRUE(assess(app, pki.anchors()).accepted);
    }
    // A Current that leads out of the framework is no framework at all.
    fs::remove(nested / "Versions/Current");
    fs::create_symlink("../../..", nested / "Versions/Current");
    a = assess(app, pki.anchors());
    EXPECT_EQ(a.reason, "a sealed resource is missing or invalid (nested code missing: Frameworks/Kit.framework)");
}

TEST_F(TrustTest, BrokenBundlesAreRejectedWithThePlatformsWords) {
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> breakIt;
        std::string reason;
    } cases[] = {
        {"Changed", [](const fs::path& c) { std::ofstream(c / "Resources/data.txt") << "changed"; },
         "a sealed resource is missing or invalid (file modified: Resources/data.txt)"},
        {"Added", [](const fs::path& c) { std::ofstream(c / "Resources/extra.txt") << "new"; },
         "a sealed resource is missing or invalid (file added: Resources/extra.txt)"},
        {"Removed", [](const fs::path& c) { fs::remove(c / "Resources/data.txt"); },
         "a sealed resource is missing or invalid (file missing: Resources/data.txt)"},
        {"Relinked", [](const fs::path& c) {
             fs::remove(c / "Resources/link.txt");
             fs::create_symlink("/etc/passwd", c / "Resources/link.txt");
         }, "a sealed resource is missing or invalid (symlink modified: Resources/link.txt)"},
        {"OptionalGone", [](const fs::path& c) { fs::remove(c / "Resources/en.lproj/InfoPlist.strings"); }, ""},
        {"Omitted", [](const fs::path& c) { std::ofstream(c / "Resources/.DS_Store") << "x"; }, ""},
        {"InfoPlist", [](const fs::path& c) { std::ofstream(c / "Info.plist", std::ios::app) << " "; },
         "invalid signature: the Info.plist does not match the signature"},
        {"Seal", [](const fs::path& c) { std::ofstream(c / "_CodeSignature/CodeResources", std::ios::app) << " "; },
         "a sealed resource is missing or invalid (the seal itself was modified)"},
        {"Page", [](const fs::path& c) {
             std::fstream f(c / "MacOS/Signed", std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096 + 10);
             f.put('\x90');
         }, "invalid signature: page 1 of the code does not match its hash"},
    };
    for (const auto& c : cases) {
        const auto app = signedBundle(dir, c.name, developerId());
        c.breakIt(app / "Contents");
        const auto a = assess(app, pki.anchors());
        EXPECT_EQ(a.reason, c.reason) << c.name;
        EXPECT_EQ(a.accepted, c.reason.empty()) << c.name;
    }
}

}  // namespace
