// Requirements checked against a context as the platform checks them, the test root standing
// in for Apple's: what holds, what does not, and what cannot be known here.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include "format/casetable.h"
#include "format/codesig/requirement.h"
#include "signature/codeverifier.h"
#include "signature/designatedrequirement.h"
#include "signature/requirementeval.h"
#include "signature/signingfixture.h"
#include "signing/cms.h"

using namespace varko;
using namespace varko::testing;
using codesign::Truth;

namespace {

constexpr const char* truthNames[] = {"no", "yes", "unknown"};

signing::Certificate described(const examplegen::TestIdentity& id) {
    auto c = signing::describeCertificate(id.certificate);
    EXPECT_TRUE(c) << c.error().message;
    return c ? *c : signing::Certificate{};
}

std::string sha1Hex(const std::vector<unsigned char>& der) {
    unsigned char out[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), out);
    return hex(std::span<const std::uint8_t>(out, sizeof out));
}

Truth evaluate(const std::string& text, const codesign::RequirementContext& ctx,
               std::vector<std::string>* unknowns = nullptr) {
    const auto blob = codesig::compileRequirement(text);
    EXPECT_TRUE(blob) << blob.error().message;
    if (!blob) return Truth::no;
    const auto outcome = codesign::evaluateRequirement(*blob, ctx);
    EXPECT_TRUE(outcome) << outcome.error().message;
    if (unknowns && outcome) *unknowns = outcome->unknowns;
    return outcome ? outcome->truth : Truth::no;
}

TEST(RequirementEvalTest, ClausesAsThePlatformDecidesThem) {
    const TestPki pki;
    codesign::RequirementContext ctx;
    ctx.hasDirectory = true;
    ctx.identifier = "com.example.app";
    ctx.cdhash.assign(20, 0xab);
    ctx.platform = 2;
    plist::Dictionary info;
    info.set("CFBundleShortVersionString", "10.15.2");
    info.set("Tags", plist::Array{"alpha", "beta"});
    info.set("Off", false);
    info.set("When", plist::Date{500000000});
    ctx.info = info;
    plist::Dictionary entitlements;
    entitlements.set("com.apple.security.app-sandbox", true);
    ctx.entitlements = entitlements;
    ctx.chain = {described(pki.leaf), described(pki.intermediate), described(pki.root)};
    ctx.appleRoots = pki.anchors();
    const std::string rootHash = "H\"" + sha1Hex(pki.root.certificate) + "\"";
    const std::string leafHash = "H\"" + sha1Hex(pki.leaf.certificate) + "\"";
    const std::string devId =
        "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] and "
        "certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = "
        "TEAM123456";
    auto cases = caseTable<2>("requirement_truths.txt");
    for (const auto& [text, truth] : {std::pair{devId, "yes"},
                                      {"anchor = " + rootHash, "yes"},
                                      {"certificate leaf = " + leafHash, "yes"},
                                      {"certificate 1 = " + leafHash, "no"}})
        cases.push_back({text, truth});
    for (const auto& [text, truth] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(truthNames[int(evaluate(text, ctx))], truth);
    }
    std::vector<std::string> unknowns;
    EXPECT_EQ(evaluate("notarized and " + devId, ctx, &unknowns), Truth::unknown);
    EXPECT_EQ(unknowns, std::vector<std::string>{"notarization cannot be checked offline"});

    // Under a root that is not Apple's, the same chain holds no Apple clause.
    codesign::RequirementContext foreign = ctx;
    foreign.appleRoots = {};
    EXPECT_EQ(evaluate(devId, foreign), Truth::no);
    EXPECT_EQ(evaluate("anchor trusted", foreign), Truth::unknown);
    // Without a code directory, nothing about it holds.
    codesign::RequirementContext bare;
    EXPECT_EQ(evaluate("identifier \"\" or platform = 0 or anchor trusted", bare), Truth::no);
    EXPECT_EQ(evaluate("info[a] absent and entitlement[b] absent", bare), Truth::yes);
}

TEST(RequirementEvalTest, AnchorAppleAsksForApplesCodeSigningChain) {
    const TestPki pki;
    const auto appleCa =
        examplegen::issueCertificate({.commonName = "Apple Code Signing Certification Authority",
                                      .organization = "Apple Inc.",
                                      .authority = true,
                                      .notBefore = jan2020,
                                      .notAfter = jan2040},
                                     pki.root);
    const auto leafWith = [&](std::vector<std::string> markers) {
        return examplegen::issueCertificate({.commonName = "Software Signing",
                                             .organization = "Apple Inc.",
                                             .markers = std::move(markers),
                                             .notBefore = jan2020,
                                             .notAfter = jan2030},
                                            appleCa);
    };
    codesign::RequirementContext ctx;
    ctx.hasDirectory = true;
    ctx.appleRoots = pki.anchors();
    ctx.chain = {described(leafWith({"1.2.840.113635.100.6.22"})), described(appleCa),
                 described(pki.root)};
    EXPECT_EQ(evaluate("anchor apple", ctx), Truth::yes);
    ctx.chain[0] = described(leafWith({}));
    EXPECT_EQ(evaluate("anchor apple", ctx), Truth::no);
    EXPECT_EQ(evaluate("anchor apple generic", ctx), Truth::yes);
}

TEST(RequirementEvalTest, SignedCodeSatisfiesItsOwnDesignatedRequirementAndNoOtherTeams) {
    const TestPki pki;
    QTemporaryDir dir;
    struct Signed {
        codesign::RequirementContext context;
        std::vector<std::byte> designated;
    };
    const auto sign = [&](const char* name, const examplegen::TestIdentity& leaf,
                          std::size_t codeSize) {
        const std::filesystem::path path = dir.filePath(name).toStdString();
        const auto code = writeAndLoad(
            path, signedMachO({&leaf, {&leaf, &pki.intermediate, &pki.root}}, codeSize));
        EXPECT_TRUE(code) << code.error().message;
        const auto cms = signing::parseCms(**code->signature->cmsSignature());
        const auto directories = codesign::codeDirectories(*code->signature);
        const auto verdict =
            signing::verifyCmsSignature(*cms, codesign::directoryBytes(directories->all.front()),
                                        pki.anchors(), jan2024 + 86400);
        EXPECT_TRUE(verdict) << verdict.error().message;
        auto context =
            codesign::requirementContext(*code, loneCode(path), verdict->chain, pki.anchors());
        const auto text =
            codesign::implicitDesignatedRequirement(*code, loneCode(path), pki.anchors());
        return Signed{*context, *codesig::compileRequirement(*text)};
    };
    const Signed ours = sign("ours", pki.leaf, 100);
    const Signed theirs = sign("theirs", pki.otherLeaf, 200);
    EXPECT_EQ(ours.context.identifier, "com.example.varko.signed");
    EXPECT_EQ(ours.context.cdhash.size(), 20u);
    const auto truthOf = [](const Signed& code, const std::vector<std::byte>& requirement) {
        return codesign::evaluateRequirement(requirement, code.context)->truth;
    };
    EXPECT_EQ(truthOf(ours, ours.designated), Truth::yes);
    EXPECT_EQ(truthOf(theirs, theirs.designated), Truth::yes);
    EXPECT_EQ(truthOf(ours, theirs.designated), Truth::no);
    EXPECT_EQ(truthOf(theirs, ours.designated), Truth::no);
    // Its cdhash is the one the signature names.
    const std::string cdhash = hex(std::span<const std::uint8_t>(ours.context.cdhash));
    EXPECT_EQ(truthOf(ours, *codesig::compileRequirement("cdhash H\"" + cdhash + "\"")),
              Truth::yes);
    EXPECT_EQ(truthOf(theirs, *codesig::compileRequirement("cdhash H\"" + cdhash + "\"")),
              Truth::no);
}

TEST(RequirementEvalTest, HostileProgramsAreRefused) {
    using codesig::RequirementMaker;
    codesign::RequirementContext ctx;
    const auto nested = [] {
        RequirementMaker m;
        for (int i = 0; i < 500; ++i) m.word(codesig::opNot);
        return m.word(codesig::opTrue).make();
    }();
    const struct {
        const char* name;
        std::vector<std::byte> blob;
        ErrorCode code;
    } cases[] = {
        {"cut", RequirementMaker().word(codesig::opAnd).word(codesig::opTrue).make(),
         ErrorCode::truncated},
        {"deep", nested, ErrorCode::tooLarge},
        {"unknown", RequirementMaker().word(99).make(), ErrorCode::unsupported},
        {"skip past end", RequirementMaker().word(codesig::opGenericSkip | 99).word(64).make(),
         ErrorCode::truncated},
        {"no blob", std::vector<std::byte>(8), ErrorCode::malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = codesign::evaluateRequirement(c.blob, ctx);
        ASSERT_FALSE(outcome);
        EXPECT_EQ(outcome.error().code, c.code) << outcome.error().message;
    }
    // What the platform may step over, it does.
    const auto skipped = RequirementMaker()
                             .word(codesig::opGenericSkip | 99)
                             .word(4)
                             .word(0)
                             .word(codesig::opTrue)
                             .make();
    EXPECT_EQ(codesign::evaluateRequirement(skipped, ctx)->truth, Truth::yes);
    const auto falsified = RequirementMaker().word(codesig::opGenericFalse | 99).word(0).make();
    EXPECT_EQ(codesign::evaluateRequirement(falsified, ctx)->truth, Truth::no);
}

// The implicit designated requirement under an Apple root: which of Apple's forms the markers
// of the chain choose.
TEST(DesignatedRequirementTest, UnderAnAppleRootTheMarkersChooseTheForm) {
    const TestPki pki;
    const auto ca = [&](const char* marker) {
        return TestPki::issue(
            "Some CA", true, marker ? std::vector<std::string>{marker} : std::vector<std::string>{},
            jan2020, jan2040, pki.root);
    };
    const auto adcCa = ca("1.2.840.113635.100.6.2.1");
    const auto plainCa = ca(nullptr);
    const auto leafOf = [&](const examplegen::TestIdentity& by) {
        return TestPki::issue("Apple Development: Some One", false, {}, jan2020, jan2030, by);
    };
    const auto adcLeaf = leafOf(adcCa);
    const auto plainLeaf = leafOf(plainCa);
    const auto deeper =
        TestPki::issue("Deeper CA", true, {developerIdCa}, jan2020, jan2040, pki.intermediate);
    const auto deepLeaf = leafOf(deeper);
    const std::string id = "identifier \"com.example.varko.signed\" and ";
    const struct {
        const char* name;
        SignWith with;
        std::string text;
    } cases[] = {
        {"Developer ID",
         {&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}},
         id + "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] /* exists "
              "*/ and certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and "
              "certificate leaf[subject.OU] = TEAM123456"},
        {"development",
         {&adcLeaf, {&adcLeaf, &adcCa, &pki.root}},
         id + "anchor apple generic and certificate leaf[subject.CN] = \"Apple Development: "
              "Some One\" and certificate 1[field.1.2.840.113635.100.6.2.1] /* exists */"},
        {"Apple's own", {&plainLeaf, {&plainLeaf, &plainCa, &pki.root}}, id + "anchor apple"},
        // The Developer ID form is for a chain of three.
        {"four certificates",
         {&deepLeaf, {&deepLeaf, &deeper, &pki.intermediate, &pki.root}},
         id + "anchor apple"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = dir.filePath(c.name).toStdString();
        const auto code = writeAndLoad(path, signedMachO(c.with, 100),
                                       codesign::SignatureRead::WithoutPageHashes);
        ASSERT_TRUE(code) << code.error().message;
        const auto text =
            codesign::implicitDesignatedRequirement(*code, loneCode(path), pki.anchors());
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
}

TEST(DesignatedRequirementTest, TheSignaturesOwnComesBeforeTheImplicitOne) {
    const TestPki pki;
    QTemporaryDir dir;
    const std::string own = "identifier \"com.example.own\" and anchor apple generic";
    for (const bool carried : {true, false}) {
        SCOPED_TRACE(carried ? "carried" : "implicit");
        auto o = signedMachO({&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}}, 100);
        if (carried)
            o.signature->requirementSet = *codesig::compileRequirement("designated => " + own);
        const std::filesystem::path path = dir.filePath(carried ? "own" : "made").toStdString();
        const auto code = writeAndLoad(path, o, codesign::SignatureRead::WithoutPageHashes);
        ASSERT_TRUE(code) << code.error().message;
        const auto designated =
            codesign::designatedRequirement(*code, loneCode(path), pki.anchors());
        ASSERT_TRUE(designated) << designated.error().message;
        EXPECT_EQ(designated->implicit, !carried);
        EXPECT_EQ(designated->text.starts_with(own), carried) << designated->text;
        EXPECT_TRUE(designated->text.starts_with("identifier \"com.example.varko.signed\"") ||
                    carried)
            << designated->text;
    }
}

}  // namespace
