#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "format/plist/plist.h"
#include "plist_print.h"
#include "support/errorprint.h"

namespace varko::plist {
namespace {

using ::testing::HasSubstr;

std::span<const std::byte> bytesOf(std::string_view s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

Value readOk(std::string_view text) {
    auto r = parseOpenStep(bytesOf(text));
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message) << "\n" << text;
    return r.ok() ? r.value() : Value();
}

Dictionary dict(std::initializer_list<std::pair<const char*, Value>> entries) {
    Dictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return d;
}

TEST(PlistOpenStep, ReadsCollectionsStringsAndData) {
    const Value v = readOk(R"(
        // a line comment
        {
            plain = abc_$+/:.-9;
            "quoted key" = "with \"escapes\" \\ \n\t";
            /* a block
               comment */
            list = ( one, "two", <0a0B 0c>, (), {}, );
            short = ( a );
            empty = "";
        })");
    EXPECT_EQ(
        v, Value(dict({{"plain", "abc_$+/:.-9"},
                       {"quoted key", "with \"escapes\" \\ \n\t"},
                       {"list", Array{"one", "two", Data{0x0A, 0x0B, 0x0C}, Array{}, Dictionary{}}},
                       {"short", Array{"a"}},
                       {"empty", ""}})));
}

TEST(PlistOpenStep, Escapes) {
    EXPECT_EQ(readOk(R"("\U00e9\U20AC")"), Value("\xC3\xA9\xE2\x82\xAC"));
    EXPECT_EQ(readOk(R"("\UD83D\UDE00")"), Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(readOk(R"("\UD83Dx")"), Value("\xEF\xBF\xBDx"));
    EXPECT_EQ(readOk(R"("\101\0619\7")"), Value("A19\a"));
    EXPECT_EQ(readOk(R"("\a\b\f\r\v\q\'")"), Value("\a\b\f\r\vq'"));
    EXPECT_EQ(readOk("'single \"quoted\"'"), Value("single \"quoted\""));
    EXPECT_EQ(readOk("\"caf\xC3\xA9\""), Value("caf\xC3\xA9"));
}

TEST(PlistOpenStep, StringsFilesAndTopLevelForms) {
    EXPECT_EQ(readOk("\xEF\xBB\xBF"
                     "a = b; \"c d\" = (e);\nkeyOnly;"),
              Value(dict({{"a", "b"}, {"c d", Array{"e"}}, {"keyOnly", "keyOnly"}})));
    EXPECT_EQ(readOk("  /* nothing */ "), Value(Dictionary{}));
    EXPECT_EQ(readOk("lonely"), Value("lonely"));
    EXPECT_EQ(readOk("<>"), Value(Data{}));
    EXPECT_EQ(readOk("{ a = 1; a = 2; b = 3; }"), Value(dict({{"a", "2"}, {"b", "3"}})));
}

TEST(PlistOpenStep, MalformedInputIsRefusedWithItsOffset) {
    using enum ErrorCode;
    struct Case {
        const char* text;
        std::uint64_t offset;
        ErrorCode code;
        const char* message;
    };
    const Case cases[] = {
        {"{ a = b }", 8, malformed, "expected ';' after a dictionary value"},
        {"{ a b; }", 4, malformed, "expected '=' after a dictionary key"},
        {"{ a = b;", 8, truncated, "unterminated dictionary"},
        {"{ (a) = b; }", 2, malformed, "expected a string"},
        {"( a b )", 4, malformed, "expected ',' or ')' in an array"},
        {"( a, ", 5, truncated, "unterminated array"},
        {"\"abc", 0, truncated, "unterminated quoted string"},
        {"\"abc\\", 0, truncated, "unterminated quoted string"},
        {"\"\\Uxyz\"", 1, malformed, "\\U without hexadecimal digits"},
        {"<0g>", 2, malformed, "not hexadecimal"},
        {"<012>", 4, malformed, "odd number of hexadecimal digits"},
        {"<01", 0, truncated, "unterminated data"},
        {"/* open", 0, truncated, "unterminated comment"},
        {"( a ) junk", 6, malformed, "unexpected text after the property list"},
        {"{ a = ; }", 6, malformed, "unexpected character ';'"},
        {"a = ", 4, truncated, "unexpected end"},
        {"#", 0, malformed, "unexpected character '#'"},
    };
    for (const auto& c : cases) {
        auto r = parseOpenStep(bytesOf(c.text));
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_THAT(r.error().message, HasSubstr(c.message)) << c.text;
        EXPECT_THAT(r.error().message, HasSubstr("malformed OpenStep property list (at byte"));
        EXPECT_EQ(r.error().code, c.code) << c.text;
        EXPECT_EQ(r.error().offset, c.offset) << c.text << ": " << r.error().message;
    }
}

TEST(PlistOpenStep, DeepNestingIsRefused) {
    for (const char open : {'(', '{'}) {
        std::string deep(100000, open);
        if (open == '{') {
            deep.clear();
            for (int i = 0; i < 100000; ++i) deep += "{a=";
        }
        auto r = parseOpenStep(bytesOf(deep));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, ErrorCode::tooLarge);
        EXPECT_THAT(r.error().message, HasSubstr("nesting is too deep"));
    }
    std::string fine = std::string(maxDepth, '(') + std::string(maxDepth, ')');
    readOk(fine);
}

}  // namespace
}  // namespace varko::plist
