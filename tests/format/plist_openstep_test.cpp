#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "casetable.h"
#include "format/plist/plist.h"
#include "plist_print.h"
#include "support/errorprint.h"

namespace varko::plist {
namespace {

using testing::bytesOf;
using testing::dict;
using ::testing::HasSubstr;
using testing::repeat;
using varko::testing::caseTable;
using varko::testing::dataFile;

Value readOk(std::string_view text) {
    auto r = parseOpenStep(bytesOf(text));
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message) << "\n" << text;
    return r.ok() ? r.value() : Value();
}

TEST(PlistOpenStep, ReadsCollectionsStringsAndData) {
    const Value v = readOk(dataFile("collections.openstep"));
    EXPECT_EQ(
        v, Value(dict({{"plain", "abc_$+/:.-9"},
                       {"quoted key", "with \"escapes\" \\ \n\t"},
                       {"list", Array{"one", "two", Data{0x0A, 0x0B, 0x0C}, Array{}, Dictionary{}}},
                       {"short", Array{"a"}},
                       {"empty", ""}})));
}

TEST(PlistOpenStep, EscapesStringsFilesAndTopLevelForms) {
    const struct {
        std::string text;
        Value expected;
    } cases[] = {
        {R"("\U00e9\U20AC")", "\xC3\xA9\xE2\x82\xAC"},
        {R"("\UD83D\UDE00")", "\xF0\x9F\x98\x80"},
        {R"("\UD83Dx")", "\xEF\xBF\xBDx"},
        {R"("\101\0619\7")", "A19\a"},
        {R"("\a\b\f\r\v\q\'")", "\a\b\f\r\vq'"},
        {"'single \"quoted\"'", "single \"quoted\""},
        {"\"caf\xC3\xA9\"", "caf\xC3\xA9"},
        {"\xEF\xBB\xBF"
         "a = b; \"c d\" = (e);\nkeyOnly;",
         dict({{"a", "b"}, {"c d", Array{"e"}}, {"keyOnly", "keyOnly"}})},
        {"  /* nothing */ ", Dictionary{}},
        {"lonely", "lonely"},
        {"<>", Data{}},
        {"{ a = 1; a = 2; b = 3; }", dict({{"a", "2"}, {"b", "3"}})},
    };
    for (const auto& c : cases) EXPECT_EQ(readOk(c.text), c.expected);
}

TEST(PlistOpenStep, MalformedInputIsRefusedWithItsOffset) {
    for (const auto& [text, offset, code, message] : caseTable<4>("malformed_openstep.txt")) {
        SCOPED_TRACE(text);
        auto r = parseOpenStep(bytesOf(text));
        ASSERT_FALSE(r.ok());
        EXPECT_THAT(r.error().message, HasSubstr(message));
        EXPECT_THAT(r.error().message, HasSubstr("malformed OpenStep property list (at byte"));
        EXPECT_EQ(nameOf(r.error().code), code);
        EXPECT_EQ(std::to_string(r.error().offset), offset) << r.error().message;
    }
}

TEST(PlistOpenStep, DeepNestingIsRefused) {
    for (const char* open : {"(", "{a="}) {
        auto r = parseOpenStep(bytesOf(repeat(open, 100000)));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, ErrorCode::tooLarge);
        EXPECT_THAT(r.error().message, HasSubstr("nesting is too deep"));
    }
    readOk(repeat("(", maxDepth) + repeat(")", maxDepth));
}

}  // namespace
}  // namespace varko::plist
