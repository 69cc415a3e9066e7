// The implicit designated requirement of code signed under an Apple root, the test root
// standing in for Apple's: which of Apple's forms the markers of the chain choose.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "format/codesig/requirement.h"
#include "signature/designatedrequirement.h"
#include "signature/signingfixture.h"

using namespace varko;
using namespace varko::testing;

namespace {

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
        ASSERT_TRUE(examplegen::writeFile(path, examplegen::makeMachO(signedMachO(c.with, 100))));
        const auto code = codesign::loadCodeObject(path, std::nullopt,
                                                   codesign::SignatureRead::WithoutPageHashes);
        ASSERT_TRUE(code) << code.error().message;
        const codesign::CodeLocation location{path, std::nullopt, std::nullopt, false,
                                              std::nullopt};
        const auto text = codesign::implicitDesignatedRequirement(*code, location, pki.anchors());
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
}

}  // namespace

namespace {

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
        ASSERT_TRUE(examplegen::writeFile(path, examplegen::makeMachO(o)));
        const auto code = codesign::loadCodeObject(path, std::nullopt,
                                                   codesign::SignatureRead::WithoutPageHashes);
        ASSERT_TRUE(code) << code.error().message;
        const codesign::CodeLocation location{path, std::nullopt, std::nullopt, false,
                                              std::nullopt};
        const auto designated = codesign::designatedRequirement(*code, location, pki.anchors());
        ASSERT_TRUE(designated) << designated.error().message;
        EXPECT_EQ(designated->implicit, !carried);
        EXPECT_EQ(designated->text.starts_with(own), carried) << designated->text;
        EXPECT_TRUE(designated->text.starts_with("identifier \"com.example.varko.signed\"") ||
                    carried)
            << designated->text;
    }
}

}  // namespace
