// Compiled requirements, built from the published opcode numbers by programs in the data
// folder, against the text codesign prints for them; and hostile ones, against their errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "casetable.h"
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

// Opcodes and match operations by their published numbers, as the data folder's programs
// name them.
constexpr std::string_view opcodes[] = {
    "False",       "True",         "Ident",       "Apple",        "AnchorHash",  "InfoValue",
    "And",         "Or",           "CdHash",      "Not",          "Info",        "CertField",
    "TrustedCert", "TrustedCerts", "CertGeneric", "AppleGeneric", "Entitlement", "CertPolicy",
    "NamedAnchor", "NamedCode",    "Platform",    "Notarized",    "CertDate",    "Legacy"};
constexpr std::string_view matches[] = {"Exists", "Equal",   "Contains",   "Begins",    "Ends",
                                        "Less",   "Greater", "LessEq",     "GreaterEq", "On",
                                        "Before", "After",   "OnOrBefore", "OnOrAfter", "Absent"};

std::uint32_t word(const std::string& name) {
    if (const auto at = std::ranges::find(opcodes, name); at != std::end(opcodes))
        return static_cast<std::uint32_t>(at - opcodes);
    if (const auto at = std::ranges::find(matches, name); at != std::end(matches))
        return static_cast<std::uint32_t>(at - matches);
    if (name == "leaf") return 0;
    if (name == "root") return 0xffffffff;
    return static_cast<std::uint32_t>(std::stoul(name, nullptr, 0));
}

/// The program that `text` spells: words by name or number, "text" (with C's escapes) and
/// H"hex" as length-prefixed strings.
Bytes program(std::string_view text) {
    Bytes out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == ' ') continue;
        const bool hex = text.substr(at, 2) == "H\"";
        if (text[at] != '"' && !hex) {
            const std::size_t end = std::min(text.find(' ', at), text.size());
            out = out + w(word(std::string(text.substr(at, end - at))));
            at = end;
            continue;
        }
        const std::size_t open = hex ? at + 1 : at;
        std::size_t close = open + 1;
        while (text.at(close) != '"') close += text[close] == '\\' ? 2 : 1;
        const std::string_view inner = text.substr(open + 1, close - open - 1);
        std::string bytes = hex ? "" : varko::testing::unescape(inner);
        if (hex)
            for (const char c : varko::testing::fromHex<char>(inner)) bytes += c;
        out = out + s(bytes);
        at = close;
    }
    return out;
}

struct Printed {
    Bytes program;
    std::string text;
};

/// The data folder's programs and their texts.
std::vector<Printed> programs(const std::string& table) {
    std::vector<Printed> out;
    std::istringstream in(varko::testing::dataFile(table));
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (line.empty() || line[0] == '#') continue;
        out.push_back({program(std::string_view(line).substr(0, tab)),
                       varko::testing::unescape(std::string_view(line).substr(tab + 1))});
    }
    return out;
}

TEST(RequirementTest, ProgramsPrintAsCodesignPrintsThem) {
    auto cases = programs("requirement_printed.txt");
    // A string too long to print whole is cut.
    cases.push_back(
        {program("Ident \"" + std::string(300, 'a') + '"'), "identifier " + std::string(255, 'a')});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto text = requirementText(requirement(c.program));
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
    // The expression form's sibling is printed the same way.
    EXPECT_EQ(*requirementText(requirement(program("True"), requirementLwcrForm)), "always");
}

TEST(RequirementTest, SetsPrintALinePerRequirement) {
    const Bytes both = set({{kSecDesignatedRequirementType, requirement(program("Ident \"a.b\""))},
                            {kSecLibraryRequirementType, requirement(program("0x40000063"))},
                            {0, requirement(program("True"))},
                            {9, requirement(program("False"))}});
    EXPECT_EQ(*requirementSetText(both),
              "designated => identifier \"a.b\"\nlibrary =>  /* opcode 99 */\n"
              "invalid => always\n/*unknown type*/ 9 => never\n");
    EXPECT_TRUE(requirementSetHas(both, kSecDesignatedRequirementType));
    EXPECT_FALSE(requirementSetHas(both, kSecHostRequirementType));
    EXPECT_EQ(*requirementSetText(set({})), "");
    EXPECT_EQ(*requirementSetText(requirement(program("True"))), "always\n");
}

TEST(RequirementTest, HostileBlobsAreRefusedWithAReason) {
    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "Not ";
    // Eight entries that all name one requirement of 600 KB of text.
    Bytes wideSet = w(CSMAGIC_REQUIREMENTS) + w(0) + w(8);
    for (int i = 0; i < 8; ++i) wideSet = wideSet + w(3) + w(12 + 64);
    wideSet = wideSet + requirement(program("Ident") + s(std::string(300000, '\x01')));
    varko::testing::putBE32(wideSet, 4, static_cast<std::uint32_t>(wideSet.size()));
    const struct {
        const char* name;
        Bytes blob;
        ErrorCode code;
        const char* message;
    } cases[] = {
        {"deep", requirement(program(deep + "True")), ErrorCode::tooLarge,
         "it nests deeper than 128 levels"},
        {"cut operand", requirement(program("And True")), ErrorCode::truncated,
         "it ends inside an expression"},
        {"huge string", requirement(program("Ident 0xfffffff0")), ErrorCode::truncated,
         "a string of 4294967280 bytes runs past its end"},
        {"cut timestamp", requirement(program("CertDate 0 \"\" On 0")), ErrorCode::truncated,
         "it ends inside an expression"},
        {"kind", requirement(program("True"), 3), ErrorCode::unsupported, nullptr},
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

    Bytes countPast = set({{3, requirement(program("True"))}});
    countPast[11] = std::byte{0x7f};
    Bytes outside = set({{3, requirement(program("True"))}});
    outside[19] = std::byte{0xf0};
    const struct {
        const char* name;
        Bytes blob;
        ErrorCode code;
    } sets[] = {
        {"count", countPast, ErrorCode::truncated},
        {"offset", outside, ErrorCode::malformed},
        {"bad member", set({{3, requirement(program("And"))}}), ErrorCode::truncated},
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

TEST(RequirementCompileTest, TextCompilesAsThePlatformCompilesIt) {
    for (const auto& c : programs("requirement_compiled.txt")) {
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
    // hash, no binary identifier, no opcode it does not know.
    int same = 0;
    for (const auto& c : programs("requirement_printed.txt")) {
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
    EXPECT_EQ(*compiled, set({{kSecHostRequirementType, requirement(program("True"))},
                              {kSecDesignatedRequirementType, requirement(program("Ident \"b\""))},
                              {7, requirement(program("False"))}}));
    EXPECT_EQ(*requirementSetText(*compiled),
              "host => always\ndesignated => identifier b\n/*unknown type*/ 7 => never\n");
    EXPECT_EQ(compileRequirement(*requirementSetText(*compiled)), *compiled);
}

TEST(RequirementCompileTest, BadTextIsRefusedWithItsPlace) {
    auto cases = varko::testing::caseTable<3>("requirement_refused.txt");
    const auto tooLarge = [](std::string text, const char* message) {
        return std::array{std::move(text), std::string("tooLarge"), std::string(message)};
    };
    const char* nests = "nests deeper than 128 levels";
    std::string longChain = "always";
    for (int i = 0; i < 200; ++i) longChain += " and always";
    // Small text, larger blobs: a set of many entries.
    std::string manyEntries;
    for (int i = 0; i < 60000; ++i) manyEntries += std::to_string(i) + "=>info[a]\n";
    cases.push_back(tooLarge(std::string(200, '(') + "always" + std::string(200, ')'), nests));
    cases.push_back(tooLarge(std::string(200, '!') + "always", nests));
    cases.push_back(tooLarge(longChain, nests));
    cases.push_back(tooLarge("identifier \"" + std::string(maxRequirementTextBytes, 'a') + "\"",
                             "past the limit"));
    cases.push_back(tooLarge(manyEntries, "compiled form"));
    for (const auto& [text, code, message] : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        const auto blob = compileRequirement(text);
        ASSERT_FALSE(blob);
        EXPECT_EQ(nameOf(blob.error().code), code);
        EXPECT_NE(blob.error().message.find(message), std::string::npos) << blob.error().message;
    }
}

}  // namespace
