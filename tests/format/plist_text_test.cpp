// The text forms of property lists, XML and the older OpenStep one: every element, and what
// is refused and where.
#include <cmath>

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
using testing::scalar;
using varko::testing::caseTable;
using varko::testing::dataFile;

/// The value that `text` holds, in XML unless another reader is given.
Value readOk(std::string_view text, decltype(&parseXml) read = &parseXml) {
    auto r = read(bytesOf(text));
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message) << "\n" << text;
    return r.ok() ? r.value() : Value();
}

std::string wrap(std::string_view body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" +
           std::string(body) + "\n</plist>\n";
}

TEST(PlistXml, ReadsEveryElementType) {
    const Value v = readOk(dataFile("every_element.plist"));
    const Dictionary& d = *v.dictionary();
    EXPECT_EQ(*d.find("s"), Value("a & b <c>"));
    EXPECT_EQ(*d.find("empty"), Value(""));
    EXPECT_EQ(*d.find("blank"), Value("  "));
    EXPECT_EQ(*d.find("cdata"), Value("<x> y"));
    EXPECT_EQ(*d.find("t"), Value(true));
    EXPECT_EQ(*d.find("f"), Value(false));
    EXPECT_EQ(d.find("i")->integer()->asSigned(), -42);
    EXPECT_EQ(*d.find("r"), Value(1.5));
    EXPECT_EQ(*d.find("d"), Value(Date{639512526.0}));
    EXPECT_EQ(*d.find("data"), Value(Data{1, 2, 3, 4}));
    EXPECT_EQ(*d.find("a"), Value(Array{"x", Array{}, Dictionary{}}));
    EXPECT_EQ(*d.find("uid"), Value(Uid{7}));
    // File order is iteration order.
    EXPECT_EQ(d.begin()->first, "s");
}

TEST(PlistXml, BareRootValueAndDuplicateKeys) {
    EXPECT_EQ(readOk("<string>alone</string>"), Value("alone"));
    const Value v =
        readOk(wrap("<dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer>"
                    "<key>a</key><integer>3</integer></dict>"));
    const Dictionary& d = *v.dictionary();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.begin()->first, "a");
    EXPECT_EQ(*d.find("a"), Value(Integer{3}));
}

TEST(PlistXml, Scalars) {
    for (const auto& [xml, kind, value] : caseTable<3>("xml_scalars.txt"))
        EXPECT_EQ(readOk(xml), scalar(kind, value)) << xml;
    EXPECT_TRUE(std::isnan(*readOk("<real>nan</real>").real()));
}

TEST(PlistXml, MalformedInputIsRefusedWithItsOffset) {
    for (const auto& [name, xml, offset, code, message] : caseTable<5>("malformed_xml.txt")) {
        SCOPED_TRACE(name);
        auto r = parseXml(bytesOf(xml));
        ASSERT_FALSE(r.ok());
        EXPECT_THAT(r.error().message, HasSubstr(message));
        EXPECT_THAT(r.error().message, HasSubstr("malformed XML property list (at byte"));
        EXPECT_EQ(nameOf(r.error().code), code);
        EXPECT_EQ(std::to_string(r.error().offset), offset) << r.error().message;
    }
}

TEST(PlistXml, DeepNestingIsRefused) {
    const std::string deep = repeat("<array>", 100000) + repeat("</array>", 100000);
    auto r = parseXml(bytesOf(deep));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::tooLarge);
    EXPECT_THAT(r.error().message, HasSubstr("nesting is too deep"));
    EXPECT_EQ(r.error().offset, 7u * maxDepth);
    readOk(repeat("<array>", maxDepth) + repeat("</array>", maxDepth));
}

TEST(PlistXml, EntityDeclarationsDoNotExpand) {
    const std::string xml =
        "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><plist><string>&b;</string></plist>";
    auto r = parseXml(bytesOf(xml));
    // pugixml leaves unknown entities as written; what matters is nothing grows.
    if (r.ok()) {
        EXPECT_EQ(*r->string(), "&b;");
    }
}

TEST(PlistOpenStep, ReadsCollectionsStringsAndData) {
    const Value v = readOk(dataFile("collections.openstep"), &parseOpenStep);
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
    for (const auto& c : cases) EXPECT_EQ(readOk(c.text, &parseOpenStep), c.expected);
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
    readOk(repeat("(", maxDepth) + repeat(")", maxDepth), &parseOpenStep);
}

// A shared parse answers for the bytes, wherever they lie: the same bytes again share it,
// and a buffer written over since is parsed anew.
TEST(PlistXml, ASharedParseFollowsTheBytesNotTheBuffer) {
    std::string buffer = wrap("<string>first</string>");
    const auto first = parseShared(bytesOf(buffer));
    ASSERT_TRUE(*first);
    const std::string copy = buffer;
    EXPECT_EQ(parseShared(bytesOf(copy)), first);
    buffer.replace(buffer.find("first"), 5, "other");
    const auto other = parseShared(bytesOf(buffer));
    ASSERT_TRUE(*other);
    EXPECT_EQ(*(*other)->string(), "other");
    EXPECT_EQ(*(*first)->string(), "first");
    EXPECT_FALSE(*parseShared(bytesOf("<plist><string>")));
}

}  // namespace
}  // namespace varko::plist
