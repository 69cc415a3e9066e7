
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "casetable.h"
#include "format/plist/plist.h"
#include "plist_print.h"

namespace varko::plist {
namespace {

using testing::dict;
using varko::testing::dataFile;
const std::string header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

Value sample() {
    return dict({{"zeta", Array{"a<b>&c", Integer{~0ull, true}, Integer{~0ull}, true, false}},
                 {"alpha", dict({{"date", Date{639512526.5}},
                                 {"real", 0.1},
                                 {"whole", 3.0},
                                 {"zero", 0.0},
                                 {"uid", Uid{12}},
                                 {"bytes", Data{0, 1, 2, 3, 4}}})},
                 {"empty", Array{}}});
}

TEST(PlistWrite, GoldenDocuments) {
    EXPECT_EQ(writeXml(Dictionary{}), header + "<dict/>\n</plist>\n");
    EXPECT_EQ(writeXml(sample()), dataFile("sample.plist"));
}

TEST(PlistWrite, DataLinesShrinkWithIndentation) {
    const Data bytes(100, 0xAB);
    const std::string top = writeXml(bytes);
    // 76 columns at the top level: lines of 76 characters, then the rest.
    EXPECT_THAT(top, ::testing::HasSubstr("<data>\n" + testing::repeat("q6ur", 19) + "\n"));
    Value nested = bytes;
    for (int i = 0; i < 10; ++i) nested = Array{nested};
    const std::string deep = writeXml(nested);
    // Indentation is capped at eight tabs for the line length: 76 - 64 = 12.
    EXPECT_THAT(deep, ::testing::HasSubstr("\n\t\t\t\t\t\t\t\tq6urq6urq6ur\n"));
    EXPECT_THAT(writeXml(Data{}), ::testing::HasSubstr("<data>\n</data>\n"));
}

TEST(PlistWrite, RoundTripsThroughTheReader) {
    const Value v = sample();
    auto back = parse(writeXml(v));
    ASSERT_TRUE(back.ok()) << back.error().message;
    // Dates lose their fraction of a second in XML.
    const Dictionary& alpha = *back->dictionary()->find("alpha")->dictionary();
    EXPECT_EQ(*alpha.find("date"), Value(Date{639512526.0}));
    EXPECT_EQ(*back->dictionary()->find("zeta"), *v.dictionary()->find("zeta"));
    EXPECT_EQ(*alpha.find("uid"), Value(Uid{12}));
    EXPECT_EQ(*alpha.find("bytes"), Value(Data{0, 1, 2, 3, 4}));

    for (double d : {0.1, -1e300, 5e-324, 1.0 / 3, 123456789.0, HUGE_VAL, -HUGE_VAL}) {
        auto r = parse(writeXml(d));
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(*r, Value(d)) << d;
    }
    for (Data d : {Data{}, Data(57, 7), Data(1000, 0xFF)}) {
        Value nested = d;
        for (int i = 0; i < 12; ++i) nested = Array{nested};
        auto r = parse(writeXml(nested));
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(*r, nested);
    }
    for (double s : {-63113904000.0, 0.0, 1e11, -1e11}) {
        auto r = parse(writeXml(Date{s}));
        ASSERT_TRUE(r.ok()) << writeXml(Date{s});
        EXPECT_EQ(*r, Value(Date{s}));
    }
}

TEST(PlistDescribe, TopLevelValues) {
    EXPECT_EQ(describe("a b"), "a b");
    EXPECT_EQ(describe(true), "1");
    EXPECT_EQ(describe(false), "0");
    EXPECT_EQ(describe(Integer{static_cast<std::uint64_t>(-7)}), "-7");
    EXPECT_EQ(describe(Integer{~0ull, true}), "18446744073709551615");
    EXPECT_EQ(describe(1.5), "1.5");
    EXPECT_EQ(describe(3.0), "3");
    EXPECT_EQ(describe(0.1), "0.1");
    EXPECT_EQ(describe(1e20), "1e+20");
    EXPECT_EQ(describe(Date{639512526}), "2021-04-07 18:22:06 +0000");
    EXPECT_EQ(describe(Data{}), "{length = 0, bytes = 0x}");
    EXPECT_EQ(describe(Data{1, 2, 0xAB}), "{length = 3, bytes = 0x0102ab}");
    Data d24(24, 0x11), d25(25);
    for (std::size_t i = 0; i < d25.size(); ++i) d25[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(describe(d24), "{length = 24, bytes = 0x" + std::string(48, '1') + "}");
    EXPECT_EQ(describe(d25),
              "{length = 25, bytes = 0x000102030405060708090a0b0c0d0e0f ... 1112131415161718}");
}

TEST(PlistDescribe, Collections) {
    EXPECT_EQ(describe(Array{"kTCCServiceCamera", "kTCCServiceLiverpool"}),
              "(\n    kTCCServiceCamera,\n    kTCCServiceLiverpool\n)");
    EXPECT_EQ(describe(Array{}), "(\n)");
    EXPECT_EQ(describe(Dictionary{}), "{\n}");
    EXPECT_EQ(describe(dict({{"a", Integer{1}}})), "{\n    a = 1;\n}");
    EXPECT_EQ(describe(Array{"", "a b", "x\"y\\z\nw", "com.apple", "caf\xC3\xA9", Integer{~0ull},
                             1.5, Date{0}, Data{9}, true}),
              dataFile("described_array.txt"));
    EXPECT_EQ(
        describe(
            dict({{"z key", Array{"x", Dictionary{}}}, {"b", dict({{"c", Array{}}})}, {"a", "v"}})),
        dataFile("described_nested.txt"));
}

}  // namespace
}  // namespace varko::plist
