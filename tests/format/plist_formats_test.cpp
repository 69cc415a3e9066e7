#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "casetable.h"
#include "format/plist/plist.h"
#include "plist_bplist_builder.h"
#include "plist_print.h"
#include "support/errorprint.h"

namespace varko::plist {
namespace {

using testing::asBytes;
using testing::BplistBuilder;
using testing::bytesOf;

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
