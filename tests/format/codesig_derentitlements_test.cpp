// The DER form of entitlements against a real file's XML form, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fixtures/signaturewriter.h"
#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"
#include "format/visibletext.h"
#include "support/errorprint.h"

using namespace varko;
using varko::codesig::parseDerEntitlements;

namespace {

std::vector<std::byte> fromHex(std::string_view hex) {
    std::vector<std::byte> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(std::byte(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

plist::Dictionary xmlDictionary(const std::string& body) {
    auto v = plist::parse("<plist version=\"1.0\"><dict>" + body + "</dict></plist>");
    return v && v->dictionary() ? *v->dictionary() : plist::Dictionary();
}

// The DER blob of @oven/bun-darwin-x64 1.4.5 (Developer ID, signed by Apple's codesign).
constexpr std::string_view bunDer =
    "7082011d020101b0820116303b0c36636f6d2e6170706c652e73656375726974792e63732e616c6c6f772d64"
    "796c642d656e7669726f6e6d656e742d7661726961626c65730101ff30240c1f636f6d2e6170706c652e7365"
    "6375726974792e63732e616c6c6f772d6a69740101ff303b0c36636f6d2e6170706c652e7365637572697479"
    "2e63732e616c6c6f772d756e7369676e65642d65786563757461626c652d6d656d6f72790101ff303d0c3863"
    "6f6d2e6170706c652e73656375726974792e63732e64697361626c652d65786563757461626c652d70616765"
    "2d70726f74656374696f6e0101ff30350c30636f6d2e6170706c652e73656375726974792e63732e64697361"
    "626c652d6c6962726172792d76616c69646174696f6e0101ff";

TEST(DerEntitlementsTest, ARealFilesDerFormReadsAsItsXmlForm) {
    const auto der = parseDerEntitlements(fromHex(bunDer));
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

struct Malformed {
    const char* what;
    const char* hex;
    std::uint64_t offset;
    ErrorCode code;
    const char* says;
};

TEST(DerEntitlementsTest, MalformedInputGivesItsErrorAndWhere) {
    using E = ErrorCode;
    const Malformed table[] = {
        {"nothing", "", 0, E::truncated, "at least 2 bytes"},
        {"another outer tag", "3005020101b000", 0, E::unsupported, "not [APPLICATION 16]"},
        {"trailing bytes", "7005020101b00000", 7, E::malformed, "1 bytes follow"},
        {"indefinite length", "7080020101b0000000", 1, E::malformed, "indefinite length"},
        {"long form for a short length", "708105020101b000", 1, E::malformed, "shortest form"},
        {"nine length bytes", "708900000000000000000005", 1, E::tooLarge, "length of 9 bytes"},
        {"a length past the input", "7084ffffffff00", 0, E::truncated, "4294967295 bytes"},
        {"version 2", "7005020102b000", 2, E::unsupported, "version 2"},
        {"version not an integer", "70050c0101b000", 2, E::malformed, "not an INTEGER"},
        {"a SEQUENCE for the dictionary", "70050201013000", 5, E::malformed, "[CONTEXT 16]"},
        {"more after the dictionary", "7007020101b0000500", 7, E::malformed, "more follows"},
        {"high tag number", "7005020101bf00", 5, E::unsupported, "above 30"},
        {"an entry not a SEQUENCE", "7007020101b0020500", 7, E::malformed, "not SEQUENCE"},
        {"an entry past its dictionary", "700d020101b00830070c0161010100", 7, E::malformed,
         "7 bytes, 6 are left"},
        {"a key not a string", "700d020101b0083006020101010100", 9, E::malformed, "not UTF8String"},
        {"a key without a value", "700a020101b00530030c0161", 12, E::malformed, "at least 2 bytes"},
        {"an entry of three", "700f020101b00a30080c01610101ff0500", 15, E::malformed,
         "more than a key and a value"},
        {"a key twice", "7015020101b01030060c01610101ff30060c0161010100", 17, E::malformed,
         "\"a\" occurs twice"},
        {"a BOOLEAN of 1", "700d020101b00830060c0161010101", 12, E::malformed, "BOOLEAN"},
        {"a padded INTEGER", "700e020101b00930070c016102020001", 12, E::malformed, "shortest form"},
        {"a 65-bit INTEGER", "7015020101b010300e0c01610209010000000000000000", 12, E::unsupported,
         "wider than 64 bits"},
        {"an OCTET STRING", "700c020101b00730050c01610400", 12, E::unsupported, "0x4"},
        {"a string not UTF-8", "700f020101b00a30080c016130030c01c0", 14, E::malformed, "not UTF-8"},
    };
    for (const Malformed& m : table) {
        SCOPED_TRACE(m.what);
        const auto r = parseDerEntitlements(fromHex(m.hex));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().offset, m.offset) << r.error().message;
        EXPECT_EQ(r.error().code, m.code) << r.error().message;
        EXPECT_NE(r.error().message.find(m.says), std::string::npos) << r.error().message;
        EXPECT_TRUE(r.error().message.starts_with("malformed DER entitlements (at byte " +
                                                  std::to_string(m.offset) + ": "));
    }
}

TEST(DerEntitlementsTest, EveryTruncationIsRefusedAsTruncated) {
    const std::vector<std::byte> whole = fromHex(bunDer);
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
    const std::pair<std::string_view, std::string_view> table[] = {
        {"caf\u00e9 \u2713", "caf\u00e9 \u2713"},
        {"id\nAuthority=Apple Root CA", "id\u240AAuthority=Apple Root CA"},
        {"\r\t\x1b\x7f", "\u240D\u2409\u241B\u2421"},
        {"a\u0085b\u2028c\u202Ed\u2066", "a<U+0085>b<U+2028>c<U+202E>d<U+2066>"},
        {"bad\xff\xc0\xaf!", "bad\\xFF\\xC0\\xAF!"},
        {"cut\xe2\x80", "cut\\xE2\\x80"},
        {"surrogate\xed\xa0\x80", "surrogate\\xED\\xA0\\x80"},
        {std::string_view("nul\0", 4), "nul\u2400"},
    };
    for (const auto& [in, out] : table) EXPECT_EQ(visibleControls(in), out) << in;
}

}  // namespace
