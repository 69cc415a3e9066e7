// The CMS reader on signatures from the test signer and on hostile bytes.
#include <gtest/gtest.h>

#include "format/casetable.h"
#include "signature/signingfixture.h"
#include "signing/cms.h"

using namespace varko;
using namespace varko::testing;

namespace {

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

}  // namespace

namespace {

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
