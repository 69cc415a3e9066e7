// Compiled requirements, built here from the published opcode numbers, against the text
// codesign prints for them; and hostile ones, against their errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
#include "format/codesig/requirement.h"
#include "support/bytes.h"

using namespace varko;
using namespace varko::codesig;

namespace {

using varko::testing::Bytes;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes w(std::uint32_t v) {
    return {std::byte(v >> 24), std::byte(v >> 16), std::byte(v >> 8), std::byte(v)};
}

/// A length-prefixed string, padded to four bytes.
Bytes s(std::string_view text) {
    Bytes b = w(static_cast<std::uint32_t>(text.size())) + varko::testing::bytesOf(text);
    b.resize((b.size() + 3) & ~std::size_t{3});
    return b;
}

Bytes requirement(const Bytes& program, std::uint32_t kind = requirementExprForm) {
    return w(CSMAGIC_REQUIREMENT) + w(static_cast<std::uint32_t>(12 + program.size())) + w(kind) +
           program;
}

Bytes set(const std::vector<std::pair<std::uint32_t, Bytes>>& entries) {
    Bytes index, blobs;
    std::uint32_t at = 12 + 8 * static_cast<std::uint32_t>(entries.size());
    for (const auto& [type, blob] : entries) {
        index = index + w(type) + w(at + static_cast<std::uint32_t>(blobs.size()));
        blobs = blobs + blob;
    }
    return w(CSMAGIC_REQUIREMENTS) + w(static_cast<std::uint32_t>(at + blobs.size())) +
           w(static_cast<std::uint32_t>(entries.size())) + index + blobs;
}

// Opcodes and match operations by their published numbers.
enum : std::uint32_t {
    False,
    True,
    Ident,
    Apple,
    AnchorHash,
    InfoValue,
    And,
    Or,
    CdHash,
    Not,
    Info,
    CertField,
    TrustedCert,
    TrustedCerts,
    CertGeneric,
    AppleGeneric,
    Entitlement,
    CertPolicy,
    NamedAnchor,
    NamedCode,
    Platform,
    Notarized,
    CertDate,
    Legacy
};
enum : std::uint32_t {
    Exists,
    Equal,
    Contains,
    Begins,
    Ends,
    Less,
    Greater,
    LessEq,
    GreaterEq,
    On,
    Before,
    After,
    OnOrBefore,
    OnOrAfter,
    Absent
};
constexpr std::uint32_t leaf = 0, root = 0xffffffff;
const Bytes devIdCa =
    Bytes{std::byte{0x2a}, std::byte{0x86}, std::byte{0x48}, std::byte{0x86}, std::byte{0xf7},
          std::byte{0x63}, std::byte{0x64}, std::byte{6},    std::byte{2},    std::byte{6}};
Bytes oid(const Bytes& der) {
    return s(std::string_view(reinterpret_cast<const char*>(der.data()), der.size()));
}

struct Printed {
    Bytes program;
    std::string text;
};

Bytes devIdLeafOid() {
    Bytes leaf = devIdCa;
    leaf[8] = std::byte{1};
    leaf[9] = std::byte{13};
    return leaf;
}

std::vector<Printed> printedCases() {
    const Bytes id = w(Ident) + s("com.example.app");
    const Bytes devIdLeaf = devIdLeafOid();
    return {
        {w(True), "always"},
        {w(False), "never"},
        {id, "identifier \"com.example.app\""},
        {w(And) + w(Ident) + s("tool") + w(AppleGeneric),
         "identifier tool and anchor apple generic"},
        {w(And) + id + w(And) + w(AppleGeneric) + w(And) + w(CertGeneric) + w(1) + oid(devIdCa) +
             w(Exists) + w(And) + w(CertGeneric) + w(leaf) + oid(devIdLeaf) + w(Exists) +
             w(CertField) + w(leaf) + s("subject.OU") + w(Equal) + s("TEAM123456"),
         "identifier \"com.example.app\" and anchor apple generic and certificate "
         "1[field.1.2.840.113635.100.6.2.6] /* exists */ and certificate "
         "leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate leaf[subject.OU] = "
         "TEAM123456"},
        // Parentheses only where a looser operator sits inside a tighter one.
        {w(Or) + w(And) + w(True) + w(False) + w(Notarized), "always and never or notarized"},
        {w(And) + w(Or) + w(True) + w(False) + w(Legacy), "(always or never) and legacy"},
        {w(Not) + w(And) + w(True) + w(Apple), "! (always and anchor apple)"},
        {w(Not) + w(Or) + w(Not) + w(True) + w(False), "! (! always or never)"},
        {w(Or) + w(Or) + w(True) + w(False) + w(Or) + w(True) + w(False),
         "always or never or always or never"},
        {w(CdHash) + s("\x0a\xff"), "cdhash H\"0aff\""},
        {w(AnchorHash) + w(root) + s("\x01"), "certificate root = H\"01\""},
        {w(AnchorHash) + w(2) + s(""), "certificate 2 = H\"\""},
        {w(TrustedCert) + w(leaf), "certificate leaftrusted"},
        {w(TrustedCerts), "anchor trusted"},
        {w(NamedAnchor) + s("developer"), "anchor apple developer"},
        {w(NamedCode) + s("a b"), "(\"a b\")"},
        {w(Platform) + w(0xfffffffe), "platform = -2"},
        {w(InfoValue) + s("CFBundleIdentifier") + s("x.y"), "info[CFBundleIdentifier] = \"x.y\""},
        {w(Info) + s("LSMinimumSystemVersion") + w(GreaterEq) + s("10.15"),
         "info[LSMinimumSystemVersion] >= \"10.15\""},
        {w(Entitlement) + s("com.apple.security.app-sandbox") + w(Exists),
         "entitlement[\"com.apple.security.app-sandbox\"] /* exists */"},
        {w(Entitlement) + s("a.b") + w(Absent), "entitlement[a.b] absent "},
        {w(CertField) + w(root) + s("subject.CN") + w(Begins) + s("Apple"),
         "certificate root[subject.CN] = Apple*"},
        {w(CertField) + w(3) + s("subject.O") + w(Ends) + s("Inc."),
         "certificate 3[subject.O] = *\"Inc.\""},
        {w(Info) + s("k") + w(Contains) + s("v"), "info[k] ~ v"},
        {w(Info) + s("k") + w(Less) + s("2") + w(0), "info[k] < \"2\""},
        {w(Info) + s("k") + w(Greater) + s("b"), "info[k] > b"},
        {w(Info) + s("k") + w(LessEq) + s("b"), "info[k] <= b"},
        {w(CertPolicy) + w(leaf) + oid(devIdLeaf) + w(Exists),
         "certificate leaf[policy.1.2.840.113635.100.6.1.13] /* exists */"},
        {w(CertDate) + w(leaf) + oid(devIdLeaf) + w(Before) + w(0) + w(567993600),
         "certificate leaf[timestamp.1.2.840.113635.100.6.1.13] < <2019-01-01 00:00:00 +0000>"},
        {w(CertDate) + w(1) + oid(devIdCa) + w(OnOrAfter) + w(0xffffffff) + w(0xffffffff),
         "certificate 1[timestamp.1.2.840.113635.100.6.2.6] >= <2000-12-31 23:59:59 +0000>"},
        {w(CertDate) + w(1) + oid(devIdCa) + w(On) + w(0) + w(86400 + 3661),
         "certificate 1[timestamp.1.2.840.113635.100.6.2.6] = <2001-01-02 01:01:01 +0000>"},
        {w(CertDate) + w(1) + oid(devIdCa) + w(After) + w(0) + w(0),
         "certificate 1[timestamp.1.2.840.113635.100.6.2.6] > <2001-01-01 00:00:00 +0000>"},
        {w(CertDate) + w(1) + oid(devIdCa) + w(OnOrBefore) + w(0) + w(0),
         "certificate 1[timestamp.1.2.840.113635.100.6.2.6] <= <2001-01-01 00:00:00 +0000>"},
        // Arcs past 127 and an arc left open, which takes the byte after the data.
        {w(CertGeneric) + w(leaf) + s("\x88\x37\x81") + w(Exists),
         "certificate leaf[field.2.999.128] /* exists */"},
        // Quoting: keywords, the empty string, a leading digit, quotes, binary.
        {w(Ident) + s("apple"), "identifier \"apple\""},
        {w(Ident) + s(""), "identifier \"\""},
        {w(Ident) + s("1abc"), "identifier \"1abc\""},
        {w(Ident) + s("a\"b\\c d"), "identifier \"a\\\"b\\\\c d\""},
        {w(Ident) + s("a\x01"), "identifier 0x6101"},
        {w(Ident) + s("caf\xc3\xa9"), "identifier 0x636166c3a9"},
        {w(Ident) + s(std::string(300, 'a')), "identifier " + std::string(255, 'a')},
        // What the printer does not know it names, and reads on.
        {w(0x80000063), "false /* opcode 99 */"},
        {w(And) + w(True) + w(0x40000063), "always and  /* opcode 99 */"},
        {w(And) + w(99) + w(True), "OPCODE 99 NOT UNDERSTOOD (ending print) and always"},
        {w(Info) + s("k") + w(20) + w(True), "info[k]MATCH OPCODE 20 NOT UNDERSTOOD"},
        {w(0x01000001), "always"},
    };
}

TEST(RequirementTest, ProgramsPrintAsCodesignPrintsThem) {
    for (const auto& c : printedCases()) {
        SCOPED_TRACE(c.text);
        const auto text = requirementText(requirement(c.program));
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
    // The expression form's sibling is printed the same way.
    EXPECT_EQ(*requirementText(requirement(w(True), requirementLwcrForm)), "always");
}

TEST(RequirementTest, SetsPrintALinePerRequirement) {
    const Bytes both = set({{kSecDesignatedRequirementType, requirement(w(Ident) + s("a.b"))},
                            {kSecLibraryRequirementType, requirement(w(0x40000063))},
                            {0, requirement(w(True))},
                            {9, requirement(w(False))}});
    EXPECT_EQ(*requirementSetText(both),
              "designated => identifier \"a.b\"\nlibrary =>  /* opcode 99 */\n"
              "invalid => always\n/*unknown type*/ 9 => never\n");
    EXPECT_TRUE(requirementSetHas(both, kSecDesignatedRequirementType));
    EXPECT_FALSE(requirementSetHas(both, kSecHostRequirementType));
    EXPECT_EQ(*requirementSetText(set({})), "");
    EXPECT_EQ(*requirementSetText(requirement(w(True))), "always\n");
}

TEST(RequirementTest, HostileBlobsAreRefusedWithAReason) {
    Bytes deep;
    for (int i = 0; i < 1000; ++i) deep = deep + w(Not);
    // Eight entries that all name one requirement of 600 KB of text.
    Bytes wideSet = w(CSMAGIC_REQUIREMENTS) + w(0) + w(8);
    for (int i = 0; i < 8; ++i) wideSet = wideSet + w(3) + w(12 + 64);
    wideSet = wideSet + requirement(w(Ident) + s(std::string(300000, '\x01')));
    varko::testing::putBE32(wideSet, 4, static_cast<std::uint32_t>(wideSet.size()));
    const struct {
        const char* name;
        Bytes blob;
        ErrorCode code;
        const char* message;
    } cases[] = {
        {"deep", requirement(deep + w(True)), ErrorCode::tooLarge,
         "it nests deeper than 128 levels"},
        {"cut operand", requirement(w(And) + w(True)), ErrorCode::truncated,
         "it ends inside an expression"},
        {"huge string", requirement(w(Ident) + w(0xfffffff0)), ErrorCode::truncated,
         "a string of 4294967280 bytes runs past its end"},
        {"cut timestamp", requirement(w(CertDate) + w(0) + s("") + w(On) + w(0)),
         ErrorCode::truncated, "it ends inside an expression"},
        {"kind", requirement(w(True), 3), ErrorCode::unsupported, nullptr},
        {"magic", set({}), ErrorCode::malformed, "magic 0xfade0c01 is not a requirement's"},
        {"short", w(CSMAGIC_REQUIREMENT), ErrorCode::truncated, "a requirement needs 12 bytes"},
        {"length", w(CSMAGIC_REQUIREMENT) + w(99) + w(1), ErrorCode::truncated,
         "length 99 does not fit its 12 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto text = requirementText(c.blob);
        ASSERT_FALSE(text) << *text;
        EXPECT_EQ(text.error().code, c.code);
        if (c.message) {
            EXPECT_EQ(text.error().message,
                      "invalid or corrupted code requirement(s) (" + std::string(c.message) + ")");
        }
    }

    Bytes countPast = set({{3, requirement(w(True))}});
    countPast[11] = std::byte{0x7f};
    Bytes outside = set({{3, requirement(w(True))}});
    outside[19] = std::byte{0xf0};
    const struct {
        const char* name;
        Bytes blob;
        ErrorCode code;
    } sets[] = {
        {"count", countPast, ErrorCode::truncated},
        {"offset", outside, ErrorCode::malformed},
        {"bad member", set({{3, requirement(w(And))}}), ErrorCode::truncated},
        {"text", wideSet, ErrorCode::tooLarge},
        {"magic", w(CSMAGIC_EMBEDDED_SIGNATURE) + w(12) + w(0), ErrorCode::malformed},
        {"cut", w(CSMAGIC_REQUIREMENTS), ErrorCode::truncated},
    };
    for (const auto& c : sets) {
        SCOPED_TRACE(c.name);
        const auto text = requirementSetText(c.blob);
        ASSERT_FALSE(text);
        EXPECT_EQ(text.error().code, c.code) << text.error().message;
    }
}

}  // namespace

namespace {

const std::string hash20 = "0123456789abcdef0123456789abcdef01234567";
Bytes digest20() {
    Bytes d;
    for (std::size_t n = 0; n < 40; n += 2)
        d.push_back(std::byte(std::stoi(hash20.substr(n, 2), nullptr, 16)));
    return d;
}
Bytes data(const Bytes& b) {
    return s(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

TEST(RequirementCompileTest, TextCompilesAsThePlatformCompilesIt) {
    const Bytes dg = data(digest20());
    const struct {
        std::string text;
        Bytes program;
    } cases[] = {
        {"identifier \"com.example.app\"", w(Ident) + s("com.example.app")},
        {"identifier = com.example.app", w(Ident) + s("com.example.app")},
        {"identifier == \"a\\\"b\\\\c\"", w(Ident) + s("a\"b\\c")},
        {"always and true or never and false",
         w(Or) + w(And) + w(True) + w(True) + w(And) + w(False) + w(False)},
        {"always or never or notarized", w(Or) + w(Or) + w(True) + w(False) + w(Notarized)},
        {"always and (never or legacy)", w(And) + w(True) + w(Or) + w(False) + w(Legacy)},
        {"! ! always and never", w(And) + w(Not) + w(Not) + w(True) + w(False)},
        {"!(always and never)", w(Not) + w(And) + w(True) + w(False)},
        {"anchor apple", w(Apple)},
        {"anchor apple generic", w(AppleGeneric)},
        {"anchor generic apple", w(AppleGeneric)},
        {"anchor apple developer", w(NamedAnchor) + s("developer")},
        {"anchor trusted", w(TrustedCerts)},
        {"certificate trusted", w(TrustedCerts)},
        {"cert leaf trusted", w(TrustedCert) + w(leaf)},
        {"anchor = H\"" + hash20 + "\"", w(AnchorHash) + w(root) + dg},
        {"certificate root H\"" + hash20 + "\"", w(AnchorHash) + w(root) + dg},
        {"certificate -2 = H\"" + hash20 + "\"", w(AnchorHash) + w(0xfffffffe) + dg},
        {"cdhash H\"" + hash20 + "\"", w(CdHash) + dg},
        {"certificate 1[field.1.2.840.113635.100.6.2.6] exists",
         w(CertGeneric) + w(1) + oid(devIdCa) + w(Exists)},
        {"certificate leaf[extension.1.2.840.113635.100.6.1.13]",
         w(CertGeneric) + w(leaf) + oid(devIdLeafOid()) + w(Exists)},
        {"certificate leaf[policy.2.999.128]",
         w(CertPolicy) + w(leaf) + s(std::string_view("\x88\x37\x81\x00", 4)) + w(Exists)},
        {"certificate leaf[subject.OU] = TEAM123456",
         w(CertField) + w(leaf) + s("subject.OU") + w(Equal) + s("TEAM123456")},
        {"certificate root[subject.CN] = Apple*",
         w(CertField) + w(root) + s("subject.CN") + w(Begins) + s("Apple")},
        {"cert 3[subject.O] = *\"Inc.\"",
         w(CertField) + w(3) + s("subject.O") + w(Ends) + s("Inc.")},
        {"info[k] = *v*", w(Info) + s("k") + w(Contains) + s("v")},
        {"info[k] ~ v", w(Info) + s("k") + w(Contains) + s("v")},
        {"info[k] < 0x6101", w(Info) + s("k") + w(Less) + s("a\x01")},
        {"info[k] > b", w(Info) + s("k") + w(Greater) + s("b")},
        {"info[k] <= b", w(Info) + s("k") + w(LessEq) + s("b")},
        {"info[k] >= \"10.15\"", w(Info) + s("k") + w(GreaterEq) + s("10.15")},
        {"entitlement[\"com.apple.security.app-sandbox\"] absent",
         w(Entitlement) + s("com.apple.security.app-sandbox") + w(Absent)},
        {"entitlement[a.b] /* exists */", w(Entitlement) + s("a.b") + w(Exists)},
        {"certificate leaf[timestamp.1.2.840.113635.100.6.1.13] < timestamp \"20190101000000Z\"",
         w(CertDate) + w(leaf) + oid(devIdLeafOid()) + w(Before) + w(0) + w(567993600)},
        {"certificate 1[timestamp.1.2] = timestamp \"20010102010101\"",
         w(CertDate) + w(1) + s("\x2a") + w(On) + w(0) + w(86400 + 3661)},
        {"certificate 1[timestamp.1.2] >= timestamp \"20001231235959Z\"",
         w(CertDate) + w(1) + s("\x2a") + w(OnOrAfter) + w(0xffffffff) + w(0xffffffff)},
        {"platform = 2", w(Platform) + w(2)},
        {"(\"a b\")", w(NamedCode) + s("a b")},
        {"# a shell comment\n identifier x // trailing\n;;", w(Ident) + s("x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto blob = compileRequirement(c.text);
        ASSERT_TRUE(blob) << blob.error().message;
        EXPECT_EQ(*blob, requirement(c.program));
        // And back: the printed text compiles to the same blob.
        const auto text = requirementText(*blob);
        ASSERT_TRUE(text);
        EXPECT_EQ(compileRequirement(*text), *blob) << *text;
    }
}

TEST(RequirementCompileTest, PrintedProgramsCompileBackToThemselves) {
    // Those the printer writes in words the compiler reads, grouped as it groups: no short
    // hash, no binary identifier, no cut string, no opcode it does not know.
    int same = 0;
    for (const auto& c : printedCases()) {
        const auto blob = compileRequirement(c.text);
        if (!blob || *blob != requirement(c.program)) continue;
        ++same;
        EXPECT_EQ(requirementText(*blob), c.text);
    }
    EXPECT_EQ(same, 30);
}

TEST(RequirementCompileTest, SetsCompileByType) {
    const auto compiled = compileRequirement(
        "designated => identifier a and anchor apple;\n"
        "host => always\n7 => never\ndesignated => identifier b");
    ASSERT_TRUE(compiled) << compiled.error().message;
    EXPECT_EQ(*compiled, set({{kSecHostRequirementType, requirement(w(True))},
                              {kSecDesignatedRequirementType, requirement(w(Ident) + s("b"))},
                              {7, requirement(w(False))}}));
    EXPECT_EQ(*requirementSetText(*compiled),
              "host => always\ndesignated => identifier b\n/*unknown type*/ 7 => never\n");
    EXPECT_EQ(compileRequirement(*requirementSetText(*compiled)), *compiled);
}

TEST(RequirementCompileTest, BadTextIsRefusedWithItsPlace) {
    std::string deepParens(200, '(');
    deepParens += "always" + std::string(200, ')');
    std::string longChain = "always";
    for (int i = 0; i < 200; ++i) longChain += " and always";
    // Small text, larger blobs: a set of many entries.
    std::string manyEntries;
    for (int i = 0; i < 60000; ++i) manyEntries += std::to_string(i) + "=>info[a]\n";
    const struct {
        std::string text;
        ErrorCode code;
        const char* message;
    } cases[] = {
        {"", ErrorCode::malformed,
         "line 1 column 1: unexpected end of text, expecting an expression"},
        {"identifier", ErrorCode::malformed, "unexpected end of text, expecting a name"},
        {"identifier apple", ErrorCode::malformed, "unexpected \"apple\", expecting a name"},
        {"always and", ErrorCode::malformed, "expecting an expression"},
        {"always\n never", ErrorCode::malformed, "line 2 column 2: unexpected \"never\""},
        {"(always", ErrorCode::malformed, "expecting \")\""},
        {"identifier \"open", ErrorCode::malformed, "a string is never closed"},
        {"identifier \"a\\n\"", ErrorCode::malformed, "only \\\" and \\\\ are escapes"},
        {"always /* open", ErrorCode::malformed, "a comment is never closed"},
        {"cdhash H\"0aff\"", ErrorCode::malformed, "invalid hash length"},
        {"cdhash H\"\"", ErrorCode::malformed, "a hash is H\"hex digits\""},
        {"info[k] = 0xabc", ErrorCode::malformed, "odd number of digits"},
        {"info[k] = 0x", ErrorCode::malformed, "0x needs hex digits"},
        {"certificate leaf[issuer.CN]", ErrorCode::malformed, "unrecognized certificate field"},
        {"certificate leaf[field.1]", ErrorCode::malformed, "is no OID"},
        {"certificate leaf[field.1.40]", ErrorCode::malformed, "is no OID"},
        {"certificate leaf[field.1.2..3]", ErrorCode::malformed, "unexpected character 0x2e"},
        {"info[k] < <2019-01-01>", ErrorCode::malformed, "is no time"},
        {"info[k] < <2019-01-01 00:00:00 +0000", ErrorCode::malformed, "a date is never closed"},
        {"anchor = /etc/certs/root.cer", ErrorCode::refused, "not read from a file"},
        {"anchor = \"root.cer\"", ErrorCode::refused, "not read from a file"},
        {"platform = 4294967296", ErrorCode::malformed, "is out of range"},
        {"info[k] < timestamp \"2019\"", ErrorCode::malformed, "is no time"},
        {"identifier \"\xff\"", ErrorCode::malformed, "byte 0xff is no UTF-8"},
        {"identifier x @", ErrorCode::malformed, "unexpected character 0x40"},
        {"designated identifier x", ErrorCode::malformed, "expecting \"=>\""},
        {"designated => always\nalways", ErrorCode::malformed, "expecting a requirement type"},
        {deepParens, ErrorCode::tooLarge, "nests deeper than 128 levels"},
        {std::string(200, '!') + "always", ErrorCode::tooLarge, "nests deeper than 128 levels"},
        {longChain, ErrorCode::tooLarge, "nests deeper than 128 levels"},
        {"identifier \"" + std::string(maxRequirementTextBytes, 'a') + "\"", ErrorCode::tooLarge,
         "past the limit"},
        {manyEntries, ErrorCode::tooLarge, "compiled form"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const auto blob = compileRequirement(c.text);
        ASSERT_FALSE(blob);
        EXPECT_EQ(blob.error().code, c.code);
        EXPECT_NE(blob.error().message.find(c.message), std::string::npos) << blob.error().message;
    }
}

}  // namespace
