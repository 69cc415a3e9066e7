// The CMS reader on signatures from the test signer and on hostile bytes; and the verifier
// against a test certificate authority: who is trusted, when, and under which of Gatekeeper's
// names, and what a broken signature or chain is called.
#include <gtest/gtest.h>

#include <fstream>
#include <string_view>

#include "fixtures/bundlewriter.h"
#include "format/casetable.h"
#include "format/macho/machoformat.h"
#include "signature/codehash.h"
#include "signature/codeverifier.h"
#include "signature/signingfixture.h"
#include "signing/cms.h"
#include "signing/trust.h"

using namespace varko;
using namespace varko::testing;
namespace fs = std::filesystem;

namespace {

/// Every test runs on signatures in DER (rcodesign) and in BER (Apple's codesign).
class TrustTest : public ::testing::TestWithParam<bool> {
protected:
    TestPki pki;
    QTemporaryDir dir;
    SignWith developerId() const {
        SignWith w{&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, nullptr};
        w.ber = GetParam();
        return w;
    }
    std::string reasonFor(const fs::path& code) { return assess(code, pki.anchors()).reason; }
};

TEST_P(TrustTest, DeveloperIdBundleIsAcceptedOnlyUnderItsOwnRoot) {
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

    // Carrying the trusted root does not help a leaf that it did not issue.
    const auto otherRoot = examplegen::makeTestRoot("Stranger Root", jan2020, jan2040);
    const auto stranger = TestPki::issue("Developer ID Application: Stranger", false,
                                         {developerIdApplication}, jan2020, jan2030, otherRoot);
    a = assess(signedBundle(dir, "Stranger",
                            {&stranger, {&stranger, &pki.intermediate, &pki.root}, nullptr}),
               pki.anchors());
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.reason, "CSSMERR_TP_NOT_TRUSTED");
}

TEST_P(TrustTest, ValidityIsCheckedAtTheTimestampElseNow) {
    const auto shortLived =
        TestPki::issue("Developer ID Application: Brief", false, {developerIdApplication}, jan2020,
                       jan2024 + 3600, pki.intermediate);
    SignWith plain{&shortLived, {&shortLived, &pki.intermediate, &pki.root}, nullptr};
    EXPECT_EQ(assess(signedBundle(dir, "Plain", plain), pki.anchors(), jan2030).reason,
              "CSSMERR_TP_CERT_EXPIRED");

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

TEST_P(TrustTest, SourcesFollowTheMarkerExtensions) {
    const auto markers = [](const std::string& m) {
        return m == "-" ? std::vector<std::string>{} : std::vector<std::string>{m};
    };
    for (const auto& [name, caName, caMarker, leafMarker, source] : caseTable<5>("sources.txt")) {
        SCOPED_TRACE(name);
        const auto ca = TestPki::issue(caName, true, markers(caMarker), jan2020, jan2040, pki.root);
        const auto leaf =
            TestPki::issue("Leaf " + name, false, markers(leafMarker), jan2020, jan2030, ca);
        const auto a = assess(signedBundle(dir, name, {&leaf, {&leaf, &ca, &pki.root}, nullptr}),
                              pki.anchors());
        EXPECT_EQ(a.accepted, source != "-") << a.reason;
        EXPECT_EQ(a.source, source == "-" ? "no usable signature" : source);
    }
}

// Anyone with a Developer ID can write a file that names their own code, so a ticket
// whose Apple signature is not checked must not make the code notarized.
TEST_P(TrustTest, StapledTicketIsReportedButNeverMakesTheCodeNotarized) {
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

TEST_P(TrustTest, BrokenBundlesAreRejectedWithThePlatformsWords) {
    for (const auto& [name, change, path, with, code, reason] :
         caseTable<6>("broken_bundles.txt")) {
        SCOPED_TRACE(name);
        const auto app = signedBundle(dir, name, developerId());
        const fs::path at = app / "Contents" / path;
        if (change == "remove" || change == "link") fs::remove(at);
        if (change == "link") fs::create_symlink(with, at);
        if (change == "write" || change == "append")
            std::ofstream(at, change == "append" ? std::ios::app : std::ios::trunc) << with;
        if (change == "poke") {
            std::fstream f(at, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(std::stoi(with));
            f.put('\x90');
        }
        const auto a = assess(app, pki.anchors());
        EXPECT_EQ(a.reason, reason);
        EXPECT_EQ(a.accepted, reason.empty());
        const auto location = codesign::locateCode(app);
        ASSERT_TRUE(location);
        const auto slices = codesign::loadEverySlice(*location);
        ASSERT_TRUE(slices);
        const auto checked = codesign::verifyCode(slices->front(), *location);
        EXPECT_EQ(checked ? "none" : nameOf(checked.error().code), code);
    }
}

// The code Apple's strict validation turns away though every page matches its hash.
TEST_P(TrustTest, BundlesAreJudgedAsAWholeNotByTheirMainExecutable) {
    const fs::path root(dir.path().toStdString());
    const auto developerIdMachO = [&](std::optional<std::string> info,
                                      std::optional<std::string> seal) {
        auto o = signedMachO(developerId(), 2 * 4096);
        if (info) o.signature->infoPlist = bytesOf(*info);
        if (seal) o.signature->codeResources = bytesOf(*seal);
        return examplegen::makeMachO(o);
    };
    const auto bundleOf = [&](const std::string& name, const std::vector<std::byte>& exe) {
        const fs::path app = root / (name + ".app");
        EXPECT_TRUE(examplegen::writeBundle(app, infoPlistFor("Signed"), "Signed", exe));
        return app;
    };

    // A Developer ID tool dropped into a bundle, with an ad hoc framework beside it.
    const auto dropped = bundleOf("Dropped", developerIdMachO(std::nullopt, std::nullopt));
    examplegen::MachOOptions adHoc;
    adHoc.arch = examplegen::Arch::X86_64;
    fs::create_directories(dropped / "Contents/Frameworks");
    ASSERT_TRUE(examplegen::writeFile(dropped / "Contents/Frameworks/Lib.dylib",
                                      examplegen::makeMachO(adHoc), true));
    EXPECT_EQ(reasonFor(dropped), "invalid Info.plist (plist or signature have been modified)");
    EXPECT_FALSE(assess(dropped, pki.anchors()).accepted);

    const auto unsealed =
        bundleOf("Unsealed", developerIdMachO(infoPlistFor("Signed"), std::nullopt));
    EXPECT_EQ(reasonFor(unsealed),
              "code has no resources but signature indicates they must be present");

    // Code in a nested-code place that the seal only hashes is unsigned code, however sealed.
    auto files = someResources();
    const auto helper = examplegen::makeMachO(adHoc);
    files.push_back({"Helpers/tool",
                     std::string(reinterpret_cast<const char*>(helper.data()), helper.size()),
                     {}});
    const auto app = signedBundle(dir, "Helper", developerId(), files);
    EXPECT_EQ(reasonFor(app), "nested code is modified or invalid (Helpers/tool: not signed)");

    // A framework's own root holds only Versions and links into the current version.
    const auto framework = signedFramework(root / "parts", "Kit", developerId());
    ASSERT_EQ(reasonFor(framework), "the code is valid but does not seem to be an app");
    // A link may name the current version by its own name too; one that points elsewhere may not.
    const fs::path& top = framework;
    fs::remove(top / "Resources");
    fs::create_symlink("Versions/A/Resources", top / "Resources");
    EXPECT_EQ(reasonFor(framework), "the code is valid but does not seem to be an app");
    fs::create_symlink("Versions/A/Resources/strings.txt", top / "strings.txt");
    EXPECT_EQ(
        reasonFor(framework),
        "unsealed contents present in the root directory of an embedded framework (strings.txt)");
    fs::remove(top / "strings.txt");
    std::ofstream(top / "stray.txt") << "x";
    EXPECT_EQ(
        reasonFor(framework),
        "unsealed contents present in the root directory of an embedded framework (stray.txt)");
}

// Frameworks keep their code in Versions/Current; the app's seal names nested code by
// cdhash, and the nested code's own seal and signature cover what is inside.
TEST_P(TrustTest, NestedHelperAndFrameworkAreCheckedThroughTheirOwnSignatures) {
    const fs::path parts = fs::path(dir.path().toStdString()) / "parts";
    const auto framework = signedFramework(parts, "Kit", developerId());
    ASSERT_FALSE(framework.empty());
    auto o = signedMachO(developerId(), 4096);
    o.signature->identifier = "com.example.varko.helper";
    const auto helper = examplegen::makeMachO(o);
    ASSERT_TRUE(examplegen::writeFile(parts / "helper", helper, true));
    auto files = someResources();
    files.push_back({"Frameworks/Kit.framework", "", {}, cdhashOf(framework)});
    files.push_back({"MacOS/helper", "", {}, cdhashOf(parts / "helper")});
    const auto app = signedBundle(dir, "Host", developerId(), files);
    const fs::path nested = app / "Contents/Frameworks/Kit.framework";
    fs::create_directories(nested.parent_path());
    fs::copy(framework, nested, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy_file(parts / "helper", app / "Contents/MacOS/helper");
    auto a = assess(app, pki.anchors());
    EXPECT_TRUE(a.accepted) << a.reason;

    std::ofstream(nested / "Versions/A/Resources/strings.txt") << "changed";
    EXPECT_EQ(reasonFor(app),
              "nested code is modified or invalid (Frameworks/Kit.framework: a sealed resource is "
              "missing or invalid (file modified: Resources/strings.txt))");
    std::ofstream(nested / "Versions/A/Resources/strings.txt") << "framework data\n";
    ASSERT_TRUE(assess(app, pki.anchors()).accepted);

    // The helper's CMS is outside its cdhash, so only its own check can see it changed.
    const std::string when = "240101000000Z";  // the signing time, a signed attribute
    const auto at = std::search(helper.begin(), helper.end(), when.begin(), when.end(),
                                [](std::byte b, char c) { return char(b) == c; });
    ASSERT_NE(at, helper.end());
    auto changed = helper;
    changed[static_cast<std::size_t>(at - helper.begin()) + 11] = std::byte{'1'};
    ASSERT_TRUE(examplegen::writeFile(app / "Contents/MacOS/helper", changed, true));
    a = assess(app, pki.anchors());
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.reason.rfind("nested code is modified or invalid (MacOS/helper: ", 0), 0u)
        << a.reason;
    ASSERT_TRUE(examplegen::writeFile(app / "Contents/MacOS/helper", helper, true));

    // A Current that leads out of the framework is no framework at all.
    fs::remove(nested / "Versions/Current");
    fs::create_symlink("../../..", nested / "Versions/Current");
    EXPECT_EQ(
        reasonFor(app),
        "a sealed resource is missing or invalid (nested code missing: Frameworks/Kit.framework)");
}

TEST_P(TrustTest, EverySliceOfAUniversalFileIsVerified) {
    const auto sliceOf = [&](examplegen::Arch arch) {
        return examplegen::makeMachO(signedMachO(developerId(), 3 * 4096, arch));
    };
    const std::vector<std::vector<std::byte>> slices{sliceOf(examplegen::Arch::X86_64),
                                                     sliceOf(examplegen::Arch::Arm64)};
    const auto file = examplegen::makeUniversal(slices);
    const fs::path path = fs::path(dir.path().toStdString()) / "tool";
    ASSERT_TRUE(examplegen::writeFile(path, file, true));
    EXPECT_EQ(reasonFor(path), "the code is valid but does not seem to be an app");

    // One byte of code in the arm64 slice, which this machine would never run.
    auto changed = file;
    const std::size_t armSlice = file.size() - slices[1].size();
    changed[armSlice + 4096 + 7] ^= std::byte{0x40};
    ASSERT_TRUE(examplegen::writeFile(path, changed, true));
    EXPECT_EQ(reasonFor(path),
              "invalid signature: page 1 of the code does not match its hash (arm64 slice)");

    // An unsigned slice beside a signed one.
    examplegen::MachOOptions bare;
    bare.arch = examplegen::Arch::Arm64;
    bare.signature.reset();
    const std::vector<std::vector<std::byte>> mixed{slices[0], examplegen::makeMachO(bare)};
    ASSERT_TRUE(examplegen::writeFile(path, examplegen::makeUniversal(mixed), true));
    EXPECT_EQ(reasonFor(path), "no usable signature (arm64 slice)");
}

INSTANTIATE_TEST_SUITE_P(Encodings, TrustTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ber" : "Der"; });

std::vector<std::byte> bytes(std::initializer_list<int> list) {
    std::vector<std::byte> out;
    for (int b : list) out.push_back(std::byte(b));
    return out;
}

/// Every test runs on DER (rcodesign, OpenSSL) and on BER as Apple's codesign writes it.
class CmsTest : public ::testing::TestWithParam<bool> {
protected:
    TestPki pki;
    const std::vector<std::byte> content = bytes({0xfa, 0xde, 0x0c, 0x02, 1, 2, 3});
    std::vector<std::byte> sign(bool timestamp, const examplegen::TestIdentity* signer = nullptr) {
        examplegen::CmsRequest r;
        r.signer = signer ? signer : &pki.leaf;
        r.chain = {&pki.root, r.signer, &pki.intermediate};  // out of order, as real ones are
        r.signingTime = jan2024;
        r.timestampAuthority = timestamp ? &pki.tsa : nullptr;
        r.timestampTime = jan2024 + 5;
        r.ber = GetParam();
        return examplegen::signCms(content, r);
    }
};

TEST_P(CmsTest, ReadsChainFromTheLeafUpTimesAndAppleAttributes) {
    auto cms = signing::parseCms(sign(true));
    ASSERT_TRUE(cms) << cms.error().message;
    ASSERT_EQ(cms->chainLength, 3u);
    EXPECT_EQ(cms->certificates[0].commonName,
              "Developer ID Application: Varko Tests (TEAM123456)");
    EXPECT_EQ(cms->certificates[1].commonName, "Varko Test Developer ID CA");
    EXPECT_EQ(cms->certificates[2].commonName, "Varko Test Root CA");
    EXPECT_TRUE(cms->certificates[0].hasMarker(developerIdApplication));
    EXPECT_EQ(cms->signingTime, jan2024);
    EXPECT_EQ(cms->timestamp, jan2024 + 5);
    EXPECT_EQ(cms->digestName, "SHA256");
    ASSERT_EQ(cms->typedCdHashes.size(), 1u);
    EXPECT_EQ(cms->typedCdHashes[0].hashType, codesig::CS_HASHTYPE_SHA256);
    ASSERT_EQ(cms->plistCdHashes.size(), 1u);
    EXPECT_EQ(cms->plistCdHashes[0].size(), 20u);
    EXPECT_TRUE(signing::verifySigner(*cms, content));
    EXPECT_TRUE(signing::verifyTimestamp(*cms, pki.anchors()));

    auto other = content;
    other.back() = std::byte{9};
    const auto changed = signing::verifySigner(*cms, other);
    ASSERT_FALSE(changed);
    EXPECT_EQ(changed.error().message, "the signature does not match the code directory");
    EXPECT_EQ(changed.error().code, ErrorCode::invalidSignature);
}

/// `der` with its signing time's last digit changed: it sits inside the signed attributes, so
/// the signature over them no longer holds.
std::vector<std::byte> retimed(std::vector<std::byte> der) {
    const std::string when = "240101000000Z";
    const auto at = std::search(der.begin(), der.end(), when.begin(), when.end(),
                                [](std::byte b, char c) { return char(b) == c; });
    EXPECT_NE(at, der.end());
    if (at != der.end()) *(at + 11) = std::byte{'1'};
    return der;
}

TEST_P(CmsTest, ChangedSignedAttributesNoLongerVerify) {
    const auto der = retimed(sign(false));
    if (GetParam()) {
        ASSERT_EQ(der[1], std::byte{0x80});  // indefinite, as Apple writes it
    }
    auto cms = signing::parseCms(der);
    ASSERT_TRUE(cms) << cms.error().message;
    const auto changed = signing::verifySigner(*cms, content);
    ASSERT_FALSE(changed);
    EXPECT_EQ(changed.error().message, "the signature does not verify with its signer's key");
    EXPECT_EQ(changed.error().code, ErrorCode::invalidSignature);
}

// Certificates are decoded once and shared between signatures: only the very same bytes find
// an entry, each signature is checked with the key of the certificate it carries, and one
// that holds does not vouch for another made with the same certificates.
TEST_P(CmsTest, SharedCertificatesNeverStandInForOneAnother) {
    // The leaf's subject, issuer and markers; another key and serial.
    const examplegen::TestIdentity twin =
        TestPki::issue("Developer ID Application: Varko Tests (TEAM123456)", false,
                       {developerIdApplication}, jan2020, jan2040 - 1, pki.intermediate);
    const struct {
        const char* name;
        const examplegen::TestIdentity* signer;
        bool tampered;
    } cases[] = {
        {"the leaf", &pki.leaf, false},           {"its twin", &twin, false},
        {"its twin, tampered with", &twin, true}, {"the leaf, tampered with", &pki.leaf, true},
        {"the leaf again", &pki.leaf, false},
    };
    for (const auto& c : cases) {
        const auto signature = sign(false, c.signer);
        const auto cms = signing::parseCms(c.tampered ? retimed(signature) : signature);
        ASSERT_TRUE(cms) << c.name << ": " << cms.error().message;
        ASSERT_EQ(cms->chainLength, 3u) << c.name;
        const auto& der = cms->certificates.front().der;
        EXPECT_TRUE(std::equal(der.begin(), der.end(), c.signer->certificate.begin(),
                               c.signer->certificate.end()))
            << c.name;
        EXPECT_EQ(bool(signing::verifySigner(*cms, content)), !c.tampered) << c.name;
    }
}

TEST_P(CmsTest, HostileBytesGiveClearErrors) {
    const auto good = sign(false);
    auto padded = good;
    padded.insert(padded.end(), 64, std::byte{0});
    ASSERT_TRUE(signing::parseCms(padded));  // codesign pads the blob with zeros
    auto trailing = good;
    trailing.push_back(std::byte{1});
    std::vector<std::byte> deep;
    for (int i = 0; i < 100; ++i) deep.insert(deep.begin(), {std::byte{0x30}, std::byte(2 * i)});
    auto unterminated = good;
    unterminated.resize(unterminated.size() -
                        (GetParam() ? 2 : 1));  // BER: the outer end-of-contents
    std::vector<std::byte> deepIndefinite;
    for (int i = 0; i < 100; ++i)
        deepIndefinite.insert(deepIndefinite.begin(), {std::byte{0x30}, std::byte{0x80}});
    for (int i = 0; i < 100; ++i)
        deepIndefinite.insert(deepIndefinite.end(), {std::byte{0}, std::byte{0}});
    struct Case {
        std::string name;
        std::vector<std::byte> input;
        std::string message;
        ErrorCode code = ErrorCode::malformed;
    };
    std::vector<Case> cases = {
        {"empty", {}, "the signature blob is empty", ErrorCode::missing},
        {"truncated", std::vector<std::byte>(good.begin(), good.begin() + good.size() / 2),
         "not BER-encoded"},
        {"unterminated", unterminated, "not BER-encoded"},
        {"nested too deep", deep, "not BER-encoded"},
        {"indefinite nested too deep", deepIndefinite, "not BER-encoded"},
        {"trailing bytes", trailing, "bytes follow the signature"},
        {"no ContentInfo", bytes({0x30, 0x03, 0x02, 0x01, 0x01}), "not a CMS ContentInfo"},
        {"no ContentInfo, indefinite", bytes({0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}),
         "not a CMS ContentInfo"},
        {"too large", std::vector<std::byte>((1u << 20) + 1), "more than 1 MB",
         ErrorCode::tooLarge},
    };
    for (const auto& [name, hex] : caseTable<2>("not_ber.txt"))
        cases.push_back({name, fromHex(hex), "not BER-encoded"});
    for (const auto& c : cases) {
        const auto r = signing::parseCms(c.input);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().message, "invalid CMS signature (" + c.message + ")") << c.name;
        EXPECT_EQ(r.error().code, c.code) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, CmsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ber" : "Der"; });

TEST(CertificateTest, RecordsEveryExtensionAndSubjectAttributeForRequirements) {
    const TestPki pki;
    const auto leaf = signing::describeCertificate(pki.leaf.certificate);
    ASSERT_TRUE(leaf) << leaf.error().message;
    const auto has = [](const std::vector<std::string>& oids, const char* oid) {
        return std::find(oids.begin(), oids.end(), oid) != oids.end();
    };
    EXPECT_TRUE(has(leaf->extensionOids, "2.5.29.37"));  // extendedKeyUsage
    EXPECT_TRUE(has(leaf->extensionOids, developerIdApplication));
    EXPECT_TRUE(leaf->policyOids.empty());
    const std::vector<std::pair<std::string, std::string>> subject = leaf->subjectAttributes;
    EXPECT_NE(std::find(subject.begin(), subject.end(),
                        std::pair<std::string, std::string>{"2.5.4.11", "TEAM123456"}),
              subject.end());
    EXPECT_NE(std::find(subject.begin(), subject.end(),
                        std::pair<std::string, std::string>{"2.5.4.3", leaf->commonName}),
              subject.end());
}

}  // namespace
