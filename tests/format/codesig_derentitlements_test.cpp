// The DER form of entitlements against a real file's XML form, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "casetable.h"
#include "fixtures/signaturewriter.h"
#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"
#include "format/visibletext.h"
#include "support/errorprint.h"

using namespace varko;
using varko::codesig::parseDerEntitlements;
using varko::testing::caseTable;
using varko::testing::fromHex;

namespace {

plist::Dictionary xmlDictionary(const std::string& body) {
    auto v = plist::parse("<plist version=\"1.0\"><dict>" + body + "</dict></plist>");
    return v && v->dictionary() ? *v->dictionary() : plist::Dictionary();
}

// The DER blob of @oven/bun-darwin-x64 1.4.5 (Developer ID, signed by Apple's codesign).
std::vector<std::byte> bunDer() {
    const std::string der = varko::testing::dataFile("bun-darwin-x64-entitlements.der");
    return {reinterpret_cast<const std::byte*>(der.data()),
            reinterpret_cast<const std::byte*>(der.data() + der.size())};
}

TEST(DerEntitlementsTest, ARealFilesDerFormReadsAsItsXmlForm) {
    const auto der = parseDerEntitlements(bunDer());
    ASSERT_TRUE(der) << der.error().message;
    std::string xml;
    for (const char* key :
         {"allow-jit", "allow-unsigned-executable-memory", "disable-executable-page-protection",
          "allow-dyld-environment-variables", "disable-library-validation"})
        xml += "<key>com.apple.security.cs." + std::string(key) + "</key><true/>";
    EXPECT_EQ(*der, xmlDictionary(xml));
}

TEST(DerEntitlementsTest, EveryKindOfValueSurvivesTheWriterAndTheReader) {
    const plist::Dictionary every = xmlDictionary(
        "<key>yes</key><true/><key>no</key><false/><key>n</key><integer>-129</integer>"
        "<key>edge</key><integer>128</integer><key>min</key><integer>-9223372036854775808</integer>"
        "<key>max</key><integer>9223372036854775807</integer><key>text</key><string>caf\u00e9"
        "</string><key>list</key><array><string/><array/><dict><key>deep</key><integer>0</integer>"
        "</dict></array><key>long</key><string>" +
        std::string(300, 'x') + "</string>");
    const auto read = parseDerEntitlements(examplegen::derEntitlements(every));
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(*read, every);
}

TEST(DerEntitlementsTest, MalformedInputGivesItsErrorAndWhere) {
    for (const auto& [what, hex, offset, code, says] :
         caseTable<5>("malformed_der_entitlements.txt")) {
        SCOPED_TRACE(what);
        const auto r = parseDerEntitlements(fromHex(hex));
        ASSERT_FALSE(r);
        EXPECT_EQ(std::to_string(r.error().offset), offset) << r.error().message;
        EXPECT_EQ(nameOf(r.error().code), code) << r.error().message;
        EXPECT_NE(r.error().message.find(says), std::string::npos) << r.error().message;
        EXPECT_TRUE(
            r.error().message.starts_with("malformed DER entitlements (at byte " + offset + ": "));
    }
}

TEST(DerEntitlementsTest, EveryTruncationIsRefusedAsTruncated) {
    const std::vector<std::byte> whole = bunDer();
    ASSERT_EQ(whole.size(), 289u);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const auto r = parseDerEntitlements(std::span(whole).first(n));
        ASSERT_FALSE(r) << n;
        EXPECT_EQ(r.error().code, ErrorCode::truncated) << n << ": " << r.error().message;
    }
}

TEST(DerEntitlementsTest, DepthAndCountAreBounded) {
    const auto holding = [](plist::Value v) {
        plist::Dictionary d;
        d.set("k", std::move(v));
        return parseDerEntitlements(examplegen::derEntitlements(d));
    };
    const auto nested = [](int levels) {
        plist::Value v = plist::Array{};
        for (int i = 1; i < levels; ++i) v = plist::Array{v};
        return v;
    };
    EXPECT_TRUE(holding(nested(codesig::maxDerEntitlementDepth - 1)));
    EXPECT_EQ(holding(nested(codesig::maxDerEntitlementDepth)).error().code, ErrorCode::tooLarge);
    // The key and the array count as two values.
    const std::size_t most = codesig::maxDerEntitlementValues - 2;
    EXPECT_TRUE(holding(plist::Array(most, true)));
    EXPECT_EQ(holding(plist::Array(most + 1, true)).error().code, ErrorCode::tooLarge);
}

TEST(VisibleControlsTest, NothingAStrangerWritesCanStartALine) {
    for (const auto& [in, out] : caseTable<2>("visible_controls.txt"))
        EXPECT_EQ(visibleControls(in), out) << in;
}

}  // namespace
