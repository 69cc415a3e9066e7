#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "fixtures/sha256.h"
#include "format/codesig/csblobs.h"
#include "macho_fixtures.h"
#include "support/errorprint.h"

using namespace varko;
using namespace varko::testing;
using namespace varko::codesig;
using examplegen::Arch;

namespace {

constexpr const char* entitlementsXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
    "\t<key>com.apple.security.app-sandbox</key>\n\t<true/>\n</dict>\n</plist>\n";

Bytes signedFile(const examplegen::SignatureOptions& s, Arch arch = Arch::Arm64) {
    examplegen::MachOOptions o;
    o.arch = arch;
    o.codeSize = 5000;  // two pages, the second short
    o.signature = s;
    o.signatureSlack = 100;
    return examplegen::makeMachO(o);
}

std::string_view text(std::span<const std::byte> b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

TEST(SuperBlobTest, ReadsEveryBlobOfAGeneratedSignature) {
    auto options = signatureWith(entitlementsXml);
    options.flags = CS_RUNTIME;
    options.derEntitlements = Bytes{std::byte{0x70}, std::byte{0x00}};
    const Bytes file = signedFile(options);
    const Bytes sigBytes = signatureOf(file);
    auto sb = SuperBlob::create(sigBytes);
    ASSERT_TRUE(sb) << sb.error().message;
    EXPECT_EQ(sb->magic(), CSMAGIC_EMBEDDED_SIGNATURE);
    EXPECT_LT(sb->length(), sigBytes.size());  // codesign's slack is not part of it
    std::vector<std::uint32_t> slots;
    for (const auto& e : sb->entries()) slots.push_back(e.type);
    EXPECT_EQ(slots, (std::vector<std::uint32_t>{CSSLOT_CODEDIRECTORY, CSSLOT_REQUIREMENTS,
                                                 CSSLOT_ENTITLEMENTS, CSSLOT_DER_ENTITLEMENTS,
                                                 CSSLOT_SIGNATURESLOT}));

    auto cdResult = sb->codeDirectory();
    ASSERT_TRUE(cdResult && *cdResult) << cdResult.error().message;
    const CodeDirectory& cd = **cdResult;
    EXPECT_EQ(cd.version, CS_SUPPORTSEXECSEG);
    EXPECT_EQ(cd.flags, CS_RUNTIME);
    EXPECT_EQ(cd.hashType, CS_HASHTYPE_SHA256);
    EXPECT_EQ(cd.hashSize, 32);
    EXPECT_EQ(cd.pageBytes(), 4096u);
    EXPECT_EQ(cd.identifier, "com.example.fixture");
    EXPECT_EQ(cd.teamId, "ABCDE12345");
    EXPECT_EQ(cd.nSpecialSlots, CSSLOT_DER_ENTITLEMENTS);
    EXPECT_EQ(cd.nCodeSlots, 2u);
    EXPECT_FALSE(cd.runtime);  // a 0x20500 field
    ASSERT_TRUE(cd.execSegment);
    EXPECT_EQ(cd.execSegment->flags, CS_EXECSEG_MAIN_BINARY);
    EXPECT_EQ(cd.effectiveCodeLimit(), cd.execSegment->limit);

    auto ent = sb->entitlements();
    ASSERT_TRUE(ent && *ent);
    EXPECT_EQ(text(**ent), entitlementsXml);
    auto der = sb->derEntitlements();
    ASSERT_TRUE(der && *der);
    EXPECT_EQ((*der)->size(), 2u);
    auto req = sb->requirements();
    ASSERT_TRUE(req && *req);
    EXPECT_TRUE((*req)->entries.empty());
    auto cms = sb->cmsSignature();
    ASSERT_TRUE(cms && *cms);
    EXPECT_TRUE((*cms)->empty());
    EXPECT_TRUE(sb->alternateCodeDirectories().empty());

    // The stored hashes are those of the blobs and pages they stand for.
    for (std::uint32_t slot : {CSSLOT_REQUIREMENTS, CSSLOT_ENTITLEMENTS, CSSLOT_DER_ENTITLEMENTS}) {
        const auto digest = examplegen::sha256(sb->blob(*sb->find(slot)));
        EXPECT_TRUE(std::ranges::equal(*cd.specialSlotHash(slot), digest)) << slot;
    }
    const auto page1 = examplegen::sha256(std::span(file).subspan(4096, cd.codeLimit - 4096));
    EXPECT_TRUE(std::ranges::equal(*cd.codeSlotHash(1), page1));
    EXPECT_FALSE(cd.codeSlotHash(2));
    EXPECT_FALSE(cd.specialSlotHash(8));
    EXPECT_FALSE(cd.specialSlotHash(0));
}

TEST(SuperBlobTest, AbsentBlobsAreEmptyNotErrors) {
    auto options = signatureWith(nullptr);
    options.teamId.reset();
    options.requirements = false;
    options.cmsWrapper = false;
    auto sb = SuperBlob::create(signatureOf(signedFile(options, Arch::I386)));
    ASSERT_TRUE(sb);
    EXPECT_EQ(sb->entries().size(), 1u);
    for (auto r : {sb->entitlements(), sb->derEntitlements(), sb->cmsSignature()}) {
        ASSERT_TRUE(r);
        EXPECT_FALSE(*r);
    }
    auto req = sb->requirements();
    ASSERT_TRUE(req);
    EXPECT_FALSE(*req);
    auto cd = sb->codeDirectory();
    ASSERT_TRUE(cd && *cd);
    EXPECT_FALSE((*cd)->teamId);
}

struct Broken {
    const char* what;
    std::function<void(Bytes&)> patch;
    ErrorCode code;
    std::string message;
};

// Layout of the default fixture signature: index entries at 12 + 8i for slots
// 0 (code directory), 2 (requirements), 5 (entitlements), 0x10000 (CMS wrapper).
std::uint32_t blobOffset(const Bytes& sig, int i) {
    return getBE32(sig, 12 + 8 * i + 4);
}

TEST(SuperBlobTest, RefusesBrokenIndexesWithExactReasons) {
    using enum ErrorCode;
    const Bytes sig = signatureOf(signedFile(signatureWith(entitlementsXml)));
    const std::uint32_t length = getBE32(sig, 4);
    const std::string m = "malformed code signature (";
    const std::vector<Broken> cases{
        {"magic", [](Bytes& b) { putBE32(b, 0, 0xfade0c02); }, unsupported,
         m + "magic 0xfade0c02 is not an embedded signature)"},
        {"length past bytes", [](Bytes& b) { putBE32(b, 4, 100000); }, truncated,
         m + "SuperBlob length 100000 does not fit the " + std::to_string(sig.size()) +
             " bytes of the signature)"},
        {"huge count", [](Bytes& b) { putBE32(b, 8, 0xffffffff); }, truncated,
         m + "SuperBlob count 4294967295 does not fit in its length " + std::to_string(length) +
             ")"},
        {"offset outside", [](Bytes& b) { putBE32(b, 12 + 8 + 4, 99999); }, truncated,
         m + "blob 1 (slot 0x2) at offset 99999 extends past the end of the SuperBlob)"},
        {"offset in the index", [](Bytes& b) { putBE32(b, 12 + 4, 4); }, malformed,
         m + "blob 0 (slot 0x0) at offset 4 lies inside the SuperBlob's index)"},
        {"length below 8", [](Bytes& b) { putBE32(b, blobOffset(b, 1) + 4, 4); }, malformed,
         m + "blob 1 (slot 0x2) length 4 is less than 8)"},
        {"length outside", [](Bytes& b) { putBE32(b, blobOffset(b, 2) + 4, 99999); }, truncated,
         m + "blob 2 (slot 0x5) length 99999 extends past the end of the SuperBlob)"},
        {"repeated slot", [](Bytes& b) { putBE32(b, 12 + 16, 2); }, malformed,
         m + "blob 2 (slot 0x2) repeats the slot of blob 1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = sig;
        c.patch(b);
        auto sb = SuperBlob::create(b);
        ASSERT_FALSE(sb);
        EXPECT_EQ(sb.error().code, c.code);
        EXPECT_EQ(sb.error().message, c.message);
    }
    const auto cut = SuperBlob::create(std::span(sig).first(11));
    EXPECT_EQ(cut.error().code, ErrorCode::truncated);
    EXPECT_EQ(cut.error().message,
              m + "the SuperBlob header needs 12 bytes, the signature has 11)");
}

/// A broken blob fails only its own accessor; the rest of the signature still reads.
TEST(SuperBlobTest, BrokenBlobsFailOnlyTheirOwnAccessor) {
    using enum ErrorCode;
    const Bytes sig = signatureOf(signedFile(signatureWith(entitlementsXml)));
    const std::uint32_t cd = blobOffset(sig, 0);
    const std::uint32_t cdLength = getBE32(sig, cd + 4);
    const std::string m = "malformed code directory (";
    const std::vector<Broken> cases{
        {"identifier without NUL",
         [&](Bytes& b) {
             putBE32(b, cd + 20, cdLength - 1);
             b[cd + cdLength - 1] = std::byte{0x41};
         },
         malformed,
         m + "identifier at offset " + std::to_string(cdLength - 1) +
             " is not NUL-terminated inside the code directory)"},
        {"identifier outside", [&](Bytes& b) { putBE32(b, cd + 20, 0xffffffff); }, malformed,
         m + "identifier at offset 4294967295 is not NUL-terminated inside the code directory)"},
        {"team without NUL", [&](Bytes& b) { putBE32(b, cd + 48, cdLength); }, malformed,
         m + "team identifier at offset " + std::to_string(cdLength) +
             " is not NUL-terminated inside the code directory)"},
        {"hashOffset overflow", [&](Bytes& b) { putBE32(b, cd + 16, 0xffffffff); }, truncated,
         m +
             "hashOffset 4294967295 plus 2 code slots of 32 bytes extends past the end of the code "
             "directory of " +
             std::to_string(cdLength) + " bytes)"},
        {"code slots overflow", [&](Bytes& b) { putBE32(b, cd + 28, 0xffffffff); }, truncated,
         m + "hashOffset " + std::to_string(getBE32(sig, cd + 16)) +
             " plus 4294967295 code slots of 32 bytes extends past the end of the code directory "
             "of " +
             std::to_string(cdLength) + " bytes)"},
        {"special slots overflow", [&](Bytes& b) { putBE32(b, cd + 24, 0xffffffff); }, malformed,
         m + "4294967295 special slots start before the code directory)"},
        {"old version", [&](Bytes& b) { putBE32(b, cd + 8, 0x10000); }, unsupported,
         m + "unsupported version 0x10000)"},
        {"hash size", [&](Bytes& b) { b[cd + 36] = std::byte{0}; }, malformed,
         m + "hashSize 0 is not between 1 and 48)"},
        {"hash size for type", [&](Bytes& b) { b[cd + 36] = std::byte{20}; }, malformed,
         m + "hashSize 20 does not match hash type 2)"},
        {"short for version",
         [&](Bytes& b) {
             putBE32(b, cd + 8, CS_SUPPORTSLINKAGE);
             putBE32(b, cd + 4, 100);
         },
         truncated, m + "version 0x20600 needs 108 bytes of header, the blob has 100)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = sig;
        c.patch(b);
        auto sb = SuperBlob::create(b);
        ASSERT_TRUE(sb) << sb.error().message;
        auto dir = sb->codeDirectory();
        ASSERT_FALSE(dir);
        EXPECT_EQ(dir.error().code, c.code);
        EXPECT_EQ(dir.error().message, c.message);
        EXPECT_GE(dir.error().offset, cd);  // placed within the signature
        auto ent = sb->entitlements();
        ASSERT_TRUE(ent && *ent);
        EXPECT_EQ(text(**ent), entitlementsXml);
    }

    Bytes wrongMagic = sig;
    putBE32(wrongMagic, blobOffset(sig, 2), CSMAGIC_REQUIREMENTS);
    auto sb = SuperBlob::create(wrongMagic);
    ASSERT_TRUE(sb);
    EXPECT_EQ(sb->entitlements().error().code, ErrorCode::malformed);
    EXPECT_EQ(sb->entitlements().error().message,
              "malformed code signature (entitlements blob has magic 0xfade0c01, not 0xfade7171)");
    EXPECT_TRUE(sb->codeDirectory());

    Bytes badRequirements = sig;
    putBE32(badRequirements, blobOffset(sig, 1) + 8, 0x10000000);
    auto sr = SuperBlob::create(badRequirements);
    ASSERT_TRUE(sr);
    EXPECT_EQ(sr->requirements().error().code, ErrorCode::truncated);
    EXPECT_EQ(sr->requirements().error().message,
              "malformed code signature (requirement count does not fit in the requirements blob)");
}

}  // namespace
