// One document in every form a reader meets: each Unicode encoding and declared single-byte
// one, and the XML, OpenStep and binary formats alike; and broken text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "casetable.h"
#include "format/plist/encoding.h"
#include "format/plist/plist.h"
#include "plist_bplist_builder.h"
#include "plist_print.h"
#include "support/errorprint.h"

namespace varko::plist {
namespace {

using testing::asBytes;
using testing::BplistBuilder;
using testing::bytesOf;
using ::testing::HasSubstr;
using varko::testing::caseTable;

std::string utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) appendUtf8(out, c);
    return out;
}

void putUnit(std::string& out, std::uint32_t unit, int width, bool bigEndian) {
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (bigEndian ? width - 1 - i : i);
        out += static_cast<char>((unit >> shift) & 0xFF);
    }
}

// Code units are taken as given, so a test can write unpaired surrogates.
std::string utf16Units(std::u16string_view units, bool bigEndian, bool mark) {
    std::string out;
    if (mark) putUnit(out, 0xFEFF, 2, bigEndian);
    for (char16_t u : units) putUnit(out, u, 2, bigEndian);
    return out;
}

std::string utf16(std::u32string_view text, bool bigEndian, bool mark) {
    std::u16string units;
    for (char32_t c : text) {
        if (c < 0x10000) {
            units += static_cast<char16_t>(c);
        } else {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return utf16Units(units, bigEndian, mark);
}

std::string utf32(std::u32string_view text, bool bigEndian, bool mark) {
    std::string out;
    if (mark) putUnit(out, 0xFEFF, 4, bigEndian);
    for (char32_t c : text) putUnit(out, c, 4, bigEndian);
    return out;
}

// The ways a test writes one text: each function gives the bytes of `text`.
struct Encoder {
    const char* name;
    std::string (*encode)(std::u32string_view);
};

const Encoder wideEncoders[] = {
    {"UTF-8", [](std::u32string_view t) { return utf8(t); }},
    {"UTF-8 with BOM", [](std::u32string_view t) { return "\xEF\xBB\xBF" + utf8(t); }},
    {"UTF-16LE with BOM", [](std::u32string_view t) { return utf16(t, false, true); }},
    {"UTF-16BE with BOM", [](std::u32string_view t) { return utf16(t, true, true); }},
    {"UTF-16LE", [](std::u32string_view t) { return utf16(t, false, false); }},
    {"UTF-16BE", [](std::u32string_view t) { return utf16(t, true, false); }},
    {"UTF-32LE with BOM", [](std::u32string_view t) { return utf32(t, false, true); }},
    {"UTF-32BE with BOM", [](std::u32string_view t) { return utf32(t, true, true); }},
    {"UTF-32LE", [](std::u32string_view t) { return utf32(t, false, false); }},
    {"UTF-32BE", [](std::u32string_view t) { return utf32(t, true, false); }},
};

const std::u32string_view xmlDocument =
    U"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    U"<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    U"\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    U"<plist version=\"1.0\">\n<dict>\n"
    U"\t<key>CFBundleIdentifier</key>\n\t<string>com.example.caf\u00E9</string>\n"
    U"\t<key>NSCameraUsageDescription</key>\n\t<string>\u201CScan\u201D for 5 \u20AC "
    U"\U0001F600</string>\n"
    U"\t<key>list</key>\n\t<array><integer>7</integer><data>3q2+7w==</data></array>\n"
    U"</dict>\n</plist>\n";

Value expectedDocument() {
    Dictionary d;
    d.set("CFBundleIdentifier", "com.example.caf\xC3\xA9");
    d.set("NSCameraUsageDescription",
          "\xE2\x80\x9CScan\xE2\x80\x9D for 5 \xE2\x82\xAC \xF0\x9F\x98\x80");
    d.set("list", Array{Integer{7}, Data{0xDE, 0xAD, 0xBE, 0xEF}});
    return d;
}

TEST(PlistEncoding, OneXmlDocumentReadsTheSameInEveryUnicodeForm) {
    for (const Encoder& e : wideEncoders) {
        SCOPED_TRACE(e.name);
        const std::string bytes = e.encode(xmlDocument);
        EXPECT_EQ(detectFormat(bytesOf(bytes)), Format::Xml);
        auto r = parse(bytes);
        ASSERT_TRUE(r.ok()) << r.error().message;
        EXPECT_EQ(*r, expectedDocument());
    }
}

TEST(PlistEncoding, OldStyleTextReadsTheSameWithAnyByteOrderMark) {
    const std::u32string_view text =
        U"/* caf\u00E9 */ { \"caf\u00E9\" = \"\u20AC \U0001F600\"; list = (a, <0102>); }";
    Dictionary d;
    d.set("caf\xC3\xA9", "\xE2\x82\xAC \xF0\x9F\x98\x80");
    d.set("list", Array{"a", Data{1, 2}});
    for (const Encoder& e : wideEncoders) {
        const std::string name = e.name;
        if (!name.ends_with("BOM") && name != "UTF-8") continue;  // marks only, as the platform
        SCOPED_TRACE(name);
        const std::string bytes = e.encode(text);
        EXPECT_EQ(detectFormat(bytesOf(bytes)), Format::OpenStep);
        auto r = parse(bytes);
        ASSERT_TRUE(r.ok()) << r.error().message;
        EXPECT_EQ(*r, Value(d));
    }
    // A strings file without braces, as localized strings files come in UTF-16.
    auto strings = parse(utf16(U"\"Open\" = \"\u00D6ffnen\";\n", false, true));
    ASSERT_TRUE(strings.ok()) << strings.error().message;
    EXPECT_EQ(*strings->dictionary()->find("Open"), Value("\xC3\x96"
                                                          "ffnen"));
}

TEST(PlistEncoding, DeclaredSingleByteEncodings) {
    for (const auto& [encoding, text, expected] : caseTable<3>("declared_encodings.txt")) {
        const std::string bytes = encoding.empty()
                                      ? text
                                      : "<?xml version=\"1.0\" encoding=\"" + encoding +
                                            "\"?>\n<plist version=\"1.0\"><string>" + text +
                                            "</string></plist>";
        SCOPED_TRACE(bytes);
        auto r = parse(bytes);
        ASSERT_TRUE(r.ok()) << r.error().message;
        EXPECT_EQ(*r, Value(expected));
    }
}

TEST(PlistEncoding, BrokenWideTextGivesReplacementsOrAnError) {
    using enum ErrorCode;
    const auto wrap = [](std::u16string_view inner) {
        return u"<plist><string>" + std::u16string(inner) + u"</string></plist>";
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;  // empty: an error is expected
        std::uint64_t offset = 0;
        ErrorCode code = ErrorCode::malformed;
    };
    const std::string oddLength = utf16(U"<plist><true/></plist>", false, true) + "\n";
    const std::string utf32Tail = utf32(U"<plist><true/></plist>", true, true) + "\n\n\n";
    const Case cases[] = {
        {"lone high surrogate",
         utf16Units(wrap(u"a\xD800"
                         "b"),
                    false, true),
         "a\xEF\xBF\xBD"
         "b"},
        {"high surrogate at the end", utf16Units(wrap(u"\xDBFF"), true, true), "\xEF\xBF\xBD"},
        {"lone low surrogate", utf16Units(wrap(u"\xDC00\xD83D\xDE00"), true, false),
         "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"two high surrogates", utf16Units(wrap(u"\xD800\xD800\xDC00"), false, false),
         "\xEF\xBF\xBD\xF0\x90\x80\x80"},
        {"UTF-32 beyond U+10FFFF and a surrogate",
         utf32(U"<plist><string>\U0010FFFF", false, true) + std::string("\x00\x00\x11\x00", 4) +
             std::string("\x00\xD8\x00\x00", 4) + utf32(U"</string></plist>", false, false),
         "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"odd length", oddLength, "", oddLength.size() - 1, truncated},
        {"UTF-32 with a partial unit", utf32Tail, "", utf32Tail.size() - 3, truncated},
        {"U+0000", utf16Units(wrap(std::u16string(1, u'\0')), false, true), "", 2 + 2 * 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = parse(c.bytes);
        if (c.expected.empty()) {
            ASSERT_FALSE(r.ok());
            EXPECT_EQ(r.error().offset, c.offset) << r.error().message;
            EXPECT_EQ(r.error().code, c.code);
            EXPECT_THAT(r.error().message, HasSubstr("at byte " + std::to_string(c.offset)));
        } else {
            ASSERT_TRUE(r.ok()) << r.error().message;
            EXPECT_EQ(*r, Value(c.expected));
        }
    }
}

TEST(PlistEncoding, ErrorOffsetsCountTheBytesAsGiven) {
    // The value of "bad" fails at its '<'; the text before it holds characters of
    // one to four bytes in UTF-8, so a UTF-8 offset would be wrong in every other form.
    const std::u32string before =
        U"<plist><dict><key>caf\u00E9 \u20AC \U0001F600</key><string>x</string><key>bad</key>";
    const std::u32string xml = before + U"<integer>z</integer></dict></plist>";
    for (const Encoder& e : wideEncoders) {
        SCOPED_TRACE(e.name);
        auto r = parseXml(bytesOf(e.encode(xml)));
        ASSERT_FALSE(r.ok());
        const std::size_t expected = e.encode(before).size();
        EXPECT_EQ(r.error().offset, expected);
        EXPECT_THAT(r.error().message, HasSubstr("(at byte " + std::to_string(expected) + ": "));
    }
    const std::string latin1 =
        "<?xml version=\"1.0\" "
        "encoding=\"latin1\"?><plist><array><string>\xE9\xE9</string>junk</array></plist>";
    auto r = parseXml(bytesOf(latin1));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().offset, latin1.find("junk"));

    const std::u32string openStep = U"{ \"caf\u00E9\" = \"\U0001F600\"; x = ; }";
    auto o = parseOpenStep(bytesOf(utf16(openStep, true, true)));
    ASSERT_FALSE(o.ok());
    EXPECT_EQ(o.error().offset,
              utf16(openStep.substr(0, openStep.find(U"; }")), true, true).size());
}

TEST(PlistEncoding, EveryTruncationOfWideTextIsReadOrRefused) {
    for (const Encoder& e : wideEncoders) {
        SCOPED_TRACE(e.name);
        const std::string bytes = e.encode(xmlDocument);
        const std::size_t complete =
            e.encode(xmlDocument.substr(0, xmlDocument.find(U"</plist>"))).size();
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            auto r = parse(std::string_view(bytes).substr(0, n));
            if (!r.ok()) {
                EXPECT_LE(r.error().offset, n) << n;
            } else if (n < complete) {
                // A byte-order mark alone is an empty strings file.
                EXPECT_EQ(*r, Value(Dictionary())) << n;
            }
        }
    }
}

TEST(PlistEncoding, TooMuchTextToConvertIsRefusedBeforeConverting) {
    std::string big(maxConvertedTextBytes + 4, 'a');
    big[0] = '\xFF';
    big[1] = '\xFE';
    for (auto reader : {&parseXml, &parseOpenStep}) {
        auto r = reader(bytesOf(big));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, ErrorCode::tooLarge);
        EXPECT_THAT(r.error().message, HasSubstr("more than the 67108864 that are converted"));
    }
}

// One document in the three formats (the XML and OpenStep ones in the data folder): only
// what OpenStep can say.
std::vector<std::uint8_t> binaryForm() {
    BplistBuilder b;
    const auto k1 = b.ascii("CFBundleIdentifier"), v1 = b.ascii("com.example.app");
    const auto k2 = b.ascii("NSCameraUsageDescription"), v2 = b.ascii("Scan \"codes\" & more");
    const auto k3 = b.ascii("services");
    const auto v3 =
        b.array({b.ascii("kTCCServiceCamera"), b.data({0xDE, 0xAD, 0xBE, 0xEF}), b.dict({}, {})});
    b.top = b.dict({k1, k2, k3}, {v1, v2, v3});
    return b.build();
}

TEST(PlistFormats, OneDocumentReadsTheSameInEveryFormat) {
    const auto binary = binaryForm();
    auto fromXml = parse(varko::testing::dataFile("one_document.xml"));
    auto fromOpenStep = parse(varko::testing::dataFile("one_document.openstep"));
    auto fromBinary = parse(asBytes(binary));
    ASSERT_TRUE(fromXml.ok()) << fromXml.error().message;
    ASSERT_TRUE(fromOpenStep.ok()) << fromOpenStep.error().message;
    ASSERT_TRUE(fromBinary.ok()) << fromBinary.error().message;
    EXPECT_EQ(*fromXml, *fromBinary);
    EXPECT_EQ(*fromXml, *fromOpenStep);
    const Value* services = fromXml->dictionary()->find("services");
    ASSERT_TRUE(services && services->array());
    EXPECT_EQ((*services->array())[1], Value(Data{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(PlistFormats, DetectionFromTheFirstBytes) {
    EXPECT_EQ(detectFormat(asBytes(binaryForm())), Format::Binary);
    EXPECT_EQ(detectFormat(bytesOf(varko::testing::dataFile("one_document.xml"))), Format::Xml);
    EXPECT_EQ(detectFormat(bytesOf("\xEF\xBB\xBF \n\t<!DOCTYPE plist>")), Format::Xml);
    EXPECT_EQ(detectFormat(bytesOf("  <plist>")), Format::Xml);
    EXPECT_EQ(detectFormat(bytesOf("<!-- c --><plist/>")), Format::Xml);
    EXPECT_EQ(detectFormat(bytesOf("<deadbeef>")), Format::OpenStep);
    EXPECT_EQ(detectFormat(bytesOf(varko::testing::dataFile("one_document.openstep"))),
              Format::OpenStep);
    EXPECT_EQ(detectFormat(bytesOf("bplist")), Format::OpenStep);
    EXPECT_EQ(detectFormat({}), Format::OpenStep);
}

TEST(PlistFormats, EmptyInputIsAnError) {
    for (auto r : {parse(std::string_view()), parseXml({}), parseOpenStep({}), parseBinary({})}) {
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().offset, 0u);
        EXPECT_EQ(r.error().code, ErrorCode::truncated);
    }
    EXPECT_EQ(parse(std::string_view()).error().message, "empty property list");
}

TEST(PlistFormats, DictionaryEqualityIgnoresOrder) {
    Dictionary a, b;
    a.set("x", Integer{1});
    a.set("y", "two");
    b.set("y", "two");
    b.set("x", Integer{1});
    EXPECT_EQ(a, b);
    b.set("x", Integer{2});
    EXPECT_NE(Value(a), Value(b));
    EXPECT_EQ(*b.find("x"), Value(Integer{2}));
    EXPECT_EQ(b.begin()->first, "y");
    EXPECT_EQ(b.find("z"), nullptr);
}

}  // namespace
}  // namespace varko::plist
