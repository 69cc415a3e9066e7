#include <chrono>
#include <cstring>

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
using ::testing::HasSubstr;
using varko::testing::caseTable;
using varko::testing::fromHex;

Value readOk(BplistBuilder& b) {
    const auto bytes = b.build();
    auto r = parseBinary(asBytes(bytes));
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    return r.ok() ? r.value() : Value();
}

Error readError(BplistBuilder& b, ErrorCode code) {
    const auto bytes = b.build();
    auto r = parseBinary(asBytes(bytes));
    EXPECT_FALSE(r.ok());
    if (r.ok()) return Error{};
    EXPECT_EQ(r.error().code, code) << r.error().message;
    return r.error();
}

std::vector<std::uint8_t> sampleFile() {
    BplistBuilder b;
    const auto k1 = b.ascii("name"), v1 = b.utf16(u"Caf\u00e9 \U0001F600");
    const auto k2 = b.ascii("list"), v2 = b.array({b.integer(1, 1), b.add({0x09}), b.add({0x08})});
    const auto k3 = b.ascii("blob"), v3 = b.data({1, 2, 3});
    b.top = b.dict({k1, k2, k3}, {v1, v2, v3});
    return b.build();
}

TEST(PlistBinary, ReadsEveryObjectType) {
    BplistBuilder b;
    std::vector<std::uint64_t> refs;
    Array expected;
    for (const auto& [hex, kind, value] : caseTable<3>("bplist_scalars.txt")) {
        refs.push_back(b.add(fromHex<std::uint8_t>(hex)));
        expected.push_back(testing::scalar(kind, value));
    }
    refs.push_back(b.add({0xC1}, {b.ascii("in a set")}));
    expected.push_back(Array{"in a set"});
    refs.push_back(b.ascii(std::string(20, 'x')));  // length in a following integer
    expected.push_back(std::string(20, 'x'));
    b.top = b.array(refs);
    EXPECT_EQ(readOk(b), Value(expected));
}

TEST(PlistBinary, Utf16StringsBecomeUtf8) {
    BplistBuilder b;
    b.top = b.array({b.utf16(u"\U0001F600 ok"), b.utf16(u"\xD83D lone"), b.utf16(u"end \xDE00"),
                     b.utf16(u"\xDC00\xD800")});
    const Value v = readOk(b);
    EXPECT_EQ(v, Value(Array{"\xF0\x9F\x98\x80 ok", "\xEF\xBF\xBD lone", "end \xEF\xBF\xBD",
                             "\xEF\xBF\xBD\xEF\xBF\xBD"}));
}

TEST(PlistBinary, WideOffsetsAndReferences) {
    for (unsigned width : {1u, 2u, 3u, 4u, 8u}) {
        BplistBuilder b;
        b.offsetSize = width;
        b.refSize = width;
        const auto k = b.ascii("k");
        const auto v = b.array({b.ascii("v")});
        b.top = b.dict({k}, {v});
        EXPECT_EQ(readOk(b), Value([] {
                      Dictionary d;
                      d.set("k", Array{"v"});
                      return d;
                  }()))
            << width;
    }
}

TEST(PlistBinary, DuplicateKeysKeepFirstPositionAndLastValue) {
    BplistBuilder b;
    const auto a = b.ascii("a"), z = b.ascii("z");
    b.top = b.dict({a, z, a}, {b.integer(1), b.integer(2), b.integer(3)});
    const Value v = readOk(b);
    const Dictionary& d = *v.dictionary();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.begin()->first, "a");
    EXPECT_EQ(*d.find("a"), Value(Integer{3}));
}

TEST(PlistBinary, RefusesCycles) {
    {
        BplistBuilder b;
        b.add(BplistBuilder::marker(0xA, 1), {0});  // an array holding itself
        const Error e = readError(b, ErrorCode::malformed);
        EXPECT_THAT(e.message, HasSubstr("cycle"));
        EXPECT_THAT(e.message, HasSubstr("object 0"));
    }
    {
        BplistBuilder b;
        // dict 0 = { k = array 2 }, array 2 = ( dict 0 )
        b.add(BplistBuilder::marker(0xD, 1), {1, 2});
        b.ascii("k");
        b.add(BplistBuilder::marker(0xA, 1), {0});
        EXPECT_THAT(readError(b, ErrorCode::malformed).message, HasSubstr("cycle"));
    }
    {
        // The same object twice side by side is sharing, not a cycle.
        BplistBuilder b;
        const auto s = b.ascii("shared");
        b.top = b.array({s, s, b.array({s})});
        EXPECT_EQ(readOk(b), Value(Array{"shared", "shared", Array{"shared"}}));
    }
}

TEST(PlistBinary, SharedSubtreesCannotExplode) {
    // Each array holds its predecessor sixteen times: 16^40 values if expanded.
    BplistBuilder b;
    b.offsetSize = 2;
    std::uint64_t prev = b.ascii("lol");
    for (int i = 0; i < 40; ++i) prev = b.array(std::vector<std::uint64_t>(16, prev));
    b.top = prev;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(readError(b, ErrorCode::tooLarge).message, HasSubstr("too many objects"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(PlistBinary, ReferencesToOneLargeStringCountAgainstTheOutputBound) {
    // 250 keys naming one 1 MB text: 250 MB of output from a file of 1 MB.
    BplistBuilder b;
    b.offsetSize = 4;
    b.refSize = 2;
    const auto text = b.ascii(std::string(1 << 20, 'x'));
    std::vector<std::uint64_t> keys;
    for (int i = 0; i < 250; ++i)
        keys.push_back(b.ascii("NSKey" + std::to_string(i) + "UsageDescription"));
    b.top = b.dict(keys, std::vector<std::uint64_t>(keys.size(), text));
    EXPECT_THAT(readError(b, ErrorCode::tooLarge).message,
                HasSubstr("expand past what the file's size allows"));

    // Sharing as real files do it, a short text under many keys, still reads.
    BplistBuilder real;
    real.offsetSize = 4;
    real.refSize = 2;
    const auto yes = real.ascii("This app uses the camera to scan documents.");
    std::vector<std::uint64_t> realKeys;
    for (int i = 0; i < 2000; ++i) realKeys.push_back(real.ascii("Key" + std::to_string(i)));
    real.top = real.dict(realKeys, std::vector<std::uint64_t>(realKeys.size(), yes));
    EXPECT_EQ(readOk(real).dictionary()->size(), 2000u);
}

TEST(PlistBinary, RefusesDeepNesting) {
    for (const int depth : {1001, maxDepth}) {
        BplistBuilder b;
        b.refSize = 2;
        b.offsetSize = 2;
        for (int i = 0; i < depth; ++i)
            b.top = b.array(i ? std::vector{b.top} : std::vector<std::uint64_t>{});
        if (depth == maxDepth)
            readOk(b);
        else
            EXPECT_THAT(readError(b, ErrorCode::tooLarge).message,
                        HasSubstr("nesting is too deep"));
    }
}

TEST(PlistBinary, RefusesHugeCountsBeforeAllocating) {
    const std::uint64_t huge = 1ull << 60;
    for (std::uint8_t kind : {0x4, 0x5, 0x6, 0xA, 0xC, 0xD}) {
        BplistBuilder b;
        b.add(BplistBuilder::marker(kind, huge));
        EXPECT_THAT(readError(b, ErrorCode::truncated).message, HasSubstr("runs past the end"))
            << int(kind);
    }
    BplistBuilder b;
    b.ascii("x");
    auto bytes = b.build();
    BplistBuilder::Bytes count;
    BplistBuilder::appendBE(count, huge, 8);
    std::memcpy(bytes.data() + bytes.size() - 24, count.data(), 8);
    auto r = parseBinary(asBytes(bytes));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::truncated);
    EXPECT_THAT(r.error().message, HasSubstr("offset table runs into the trailer"));
}

struct Corruption {
    const char* name;
    std::size_t fromEnd;  // byte counted from the end of the file, 0 = none
    std::uint8_t value;
    std::uint64_t offset;  // expected error offset, counted from the end
    ErrorCode code;
    const char* message;
};

TEST(PlistBinary, MalformedTrailersAndObjects) {
    using enum ErrorCode;
    // sampleFile(): 32-byte trailer at the end; its fields count back from there.
    const auto good = sampleFile();
    const std::size_t n = good.size();
    const Corruption cases[] = {
        {"not bplist00", n - 7, '1', n, unsupported, "missing bplist00 header"},
        {"offset size 0", 26, 0, 26, malformed, "offset size must be 1 to 8 bytes"},
        {"offset size 9", 26, 9, 26, malformed, "offset size must be 1 to 8 bytes"},
        {"ref size 0", 25, 0, 25, malformed, "object reference size must be 1 to 8 bytes"},
        {"no objects", 17, 0, 24, malformed, "no objects"},
        {"top object out of range", 9, 99, 16, malformed, "top object is not among the objects"},
        {"offset table in the trailer", 1, 0xF0, 8, malformed, "offset table lies outside"},
        {"offset table in the header", 1, 4, 8, malformed, "offset table lies outside"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = good;
        bytes[n - c.fromEnd] = c.value;
        auto r = parseBinary(asBytes(bytes));
        ASSERT_FALSE(r.ok());
        EXPECT_THAT(r.error().message, HasSubstr(c.message));
        EXPECT_EQ(r.error().code, c.code);
        EXPECT_EQ(r.error().offset, n - c.offset);
        EXPECT_THAT(r.error().message, HasSubstr("malformed binary property list"));
    }
}

TEST(PlistBinary, MalformedObjects) {
    for (const auto& [name, hex, code, message] : caseTable<4>("malformed_bplist_objects.txt")) {
        SCOPED_TRACE(name);
        BplistBuilder b;
        b.add(fromHex<std::uint8_t>(hex));
        auto r = parseBinary(asBytes(b.build()));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(nameOf(r.error().code), code) << r.error().message;
        EXPECT_THAT(r.error().message, HasSubstr(message));
        EXPECT_THAT(r.error().message, HasSubstr("object 0 at byte"));
    }
    BplistBuilder b;
    const auto intKey = b.integer(1);
    const auto intValue = b.integer(2);
    b.top = b.dict({intKey}, {intValue});
    const auto bytes = b.build();
    auto r = parseBinary(asBytes(bytes));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::malformed);
    EXPECT_EQ(r.error().message, "malformed binary property list (object 2 at byte " +
                                     std::to_string(b.offsets[2] + 1) +
                                     ": dictionary key (object 0) is not a string)");
}

TEST(PlistBinary, ObjectOffsetsMustLieInTheObjectArea) {
    BplistBuilder b;
    b.ascii("x");
    auto bytes = b.build();
    for (std::uint8_t bad : {std::uint8_t(0), std::uint8_t(7), std::uint8_t(b.tableOffset)}) {
        bytes[b.tableOffset] = bad;
        auto r = parseBinary(asBytes(bytes));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, ErrorCode::malformed);
        EXPECT_THAT(r.error().message, HasSubstr("lies outside the object area"));
        EXPECT_EQ(r.error().offset, b.tableOffset);
    }
}

TEST(PlistBinary, EveryTruncationFailsCleanly) {
    const auto good = sampleFile();
    ASSERT_TRUE(parseBinary(asBytes(good)).ok());
    for (std::size_t len = 0; len < good.size(); ++len) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + len);
        auto r = parseBinary(asBytes(cut));
        EXPECT_FALSE(r.ok()) << len;
        if (!r.ok()) {
            EXPECT_LE(r.error().offset, len) << len;
        }
    }
}

TEST(PlistBinary, EverySingleByteCorruptionIsHandled) {
    // Not every change is an error, but none may crash, hang or escape the buffer.
    const auto good = sampleFile();
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (std::uint8_t v : {0x00, 0x0F, 0x7F, 0x80, 0xFF}) {
            auto bytes = good;
            bytes[i] = v;
            auto r = parseBinary(asBytes(bytes));
            if (!r.ok()) {
                EXPECT_LE(r.error().offset, bytes.size());
            }
        }
    }
}

}  // namespace
}  // namespace varko::plist
