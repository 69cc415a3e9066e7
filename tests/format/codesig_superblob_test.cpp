// The SuperBlob of a code signature and the blobs it holds, generated and broken; and the DER
// form of entitlements against a real file's XML form, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "casetable.h"
#include "fixtures/sha256.h"
#include "fixtures/signaturewriter.h"
#include "format/codesig/csblobs.h"
#include "format/codesig/derentitlements.h"
#include "format/plist/plist.h"
#include "format/visibletext.h"
#include "macho_fixtures.h"
#include "support/errorprint.h"

using namespace varko;
using namespace varko::testing;
using namespace varko::codesig;
using examplegen::Arch;
using varko::codesig::parseDerEntitlements;

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

// Layout of the default fixture signature: index entries at 12 + 8i for slots
// 0 (code directory), 2 (requirements), 5 (entitlements), 0x10000 (CMS wrapper).
std::uint32_t blobOffset(const Bytes& sig, int i) {
    return getBE32(sig, 12 + 8 * i + 4);
}

/// What the data folder's tables say of a broken blob's error: its code and message.
std::vector<std::string> fields(const Error& e) {
    return {nameOf(e.code), e.message};
}

TEST(SuperBlobTest, RefusesBrokenIndexesWithExactReasons) {
    const Bytes sig = signatureOf(signedFile(signatureWith(entitlementsXml)));
    ASSERT_EQ(sig.size(), 656u);
    expectErrors(sig, "superblob_broken_index.txt",
                 {
                     {"magic", setBE(0, 0xfade0c02)},
                     {"detached magic", setBE(0, CSMAGIC_DETACHED_SIGNATURE)},
                     {"length past bytes", setBE(4, 100000)},
                     {"huge count", setBE(8, 0xffffffff)},
                     {"offset outside", setBE(12 + 8 + 4, 99999)},
                     {"offset in the index", setBE(12 + 4, 4)},
                     {"length below 8", setBE(blobOffset(sig, 1) + 4, 4)},
                     {"length outside", setBE(blobOffset(sig, 2) + 4, 99999)},
                     {"repeated slot", setBE(12 + 16, 2)},
                 },
                 [](const Bytes& b) {
                     auto sb = SuperBlob::create(b);
                     EXPECT_FALSE(sb);
                     return fields(sb ? Error{} : sb.error());
                 });
    const auto cut = SuperBlob::create(std::span(sig).first(11));
    EXPECT_EQ(cut.error().code, ErrorCode::truncated);
    EXPECT_EQ(cut.error().message,
              "malformed code signature (the SuperBlob header needs 12 bytes, the signature has "
              "11)");
}

/// A broken blob fails only its own accessor; the rest of the signature still reads.
TEST(SuperBlobTest, BrokenBlobsFailOnlyTheirOwnAccessor) {
    const Bytes sig = signatureOf(signedFile(signatureWith(entitlementsXml)));
    const std::uint32_t cd = blobOffset(sig, 0);
    const std::uint32_t cdLength = getBE32(sig, cd + 4);
    ASSERT_EQ(cdLength, 343u);
    expectErrors(sig, "superblob_broken_code_directory.txt",
                 {
                     {"identifier without NUL",
                      [&](Bytes& b) {
                          putBE32(b, cd + 20, cdLength - 1);
                          b[cd + cdLength - 1] = std::byte{0x41};
                      }},
                     {"identifier outside", setBE(cd + 20, 0xffffffff)},
                     {"team without NUL", setBE(cd + 48, cdLength)},
                     {"hashOffset overflow", setBE(cd + 16, 0xffffffff)},
                     {"code slots overflow", setBE(cd + 28, 0xffffffff)},
                     {"special slots overflow", setBE(cd + 24, 0xffffffff)},
                     {"old version", setBE(cd + 8, 0x10000)},
                     {"hash size", [&](Bytes& b) { b[cd + 36] = std::byte{0}; }},
                     {"hash size for type", [&](Bytes& b) { b[cd + 36] = std::byte{20}; }},
                     {"short for version",
                      [&](Bytes& b) {
                          putBE32(b, cd + 8, CS_SUPPORTSLINKAGE);
                          putBE32(b, cd + 4, 100);
                      }},
                 },
                 [&](const Bytes& b) {
                     auto sb = SuperBlob::create(b);
                     EXPECT_TRUE(sb) << sb.error().message;
                     if (!sb) return fields(sb.error());
                     auto ent = sb->entitlements();
                     EXPECT_TRUE(ent && *ent && text(**ent) == entitlementsXml);
                     auto dir = sb->codeDirectory();
                     EXPECT_FALSE(dir);
                     if (dir) return fields(Error{});
                     EXPECT_GE(dir.error().offset, cd);  // placed within the signature
                     return fields(dir.error());
                 });

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

plist::Dictionary xmlDictionary(const std::string& body) {
    auto v = plist::parse("<plist version=\"1.0\"><dict>" + body + "</dict></plist>");
    return v && v->dictionary() ? *v->dictionary() : plist::Dictionary();
}

// The DER blob of @oven/bun-darwin-x64 1.4.5 (Developer ID, signed by Apple's codesign).
std::vector<std::byte> bunDer() {
    const std::string der = varko::testing::dataFile("bun-darwin-x64-entitlements.der");
    return {reinterpret_cast<const std::byte*>(der.data()),
            reinterpret_cast<const std::byte*>(der.data() + der.size())};
}

TEST(DerEntitlementsTest, ARealFilesDerFormReadsAsItsXmlForm) {
    const auto der = parseDerEntitlements(bunDer());
    ASSERT_TRUE(der) << der.error().message;
    std::string xml;
    for (const char* key :
         {"allow-jit", "allow-unsigned-executable-memory", "disable-executable-page-protection",
          "allow-dyld-environment-variables", "disable-library-validation"})
        xml += "<key>com.apple.security.cs." + std::string(key) + "</key><true/>";
    EXPECT_EQ(*der, xmlDictionary(xml));
}

TEST(DerEntitlementsTest, EveryKindOfValueSurvivesTheWriterAndTheReader) {
    // Each kind of value, integers at the edges of their encodings, and a long text.
    const auto parsed = plist::parse(dataFile("every_kind.plist"));
    ASSERT_TRUE(parsed && parsed->dictionary());
    const plist::Dictionary& every = *parsed->dictionary();
    const auto read = parseDerEntitlements(examplegen::derEntitlements(every));
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(*read, every);
}

TEST(DerEntitlementsTest, MalformedInputGivesItsErrorAndWhere) {
    for (const auto& [what, hex, offset, code, says] :
         caseTable<5>("malformed_der_entitlements.txt")) {
        SCOPED_TRACE(what);
        const auto r = parseDerEntitlements(fromHex(hex));
        ASSERT_FALSE(r);
        EXPECT_EQ(std::to_string(r.error().offset), offset) << r.error().message;
        EXPECT_EQ(nameOf(r.error().code), code) << r.error().message;
        EXPECT_NE(r.error().message.find(says), std::string::npos) << r.error().message;
        EXPECT_TRUE(
            r.error().message.starts_with("malformed DER entitlements (at byte " + offset + ": "));
    }
}

TEST(DerEntitlementsTest, EveryTruncationIsRefusedAsTruncated) {
    const std::vector<std::byte> whole = bunDer();
    ASSERT_EQ(whole.size(), 289u);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const auto r = parseDerEntitlements(std::span(whole).first(n));
        ASSERT_FALSE(r) << n;
        EXPECT_EQ(r.error().code, ErrorCode::truncated) << n << ": " << r.error().message;
    }
}

TEST(DerEntitlementsTest, DepthAndCountAreBounded) {
    const auto holding = [](plist::Value v) {
        plist::Dictionary d;
        d.set("k", std::move(v));
        return parseDerEntitlements(examplegen::derEntitlements(d));
    };
    const auto nested = [](int levels) {
        plist::Value v = plist::Array{};
        for (int i = 1; i < levels; ++i) v = plist::Array{v};
        return v;
    };
    EXPECT_TRUE(holding(nested(codesig::maxDerEntitlementDepth - 1)));
    EXPECT_EQ(holding(nested(codesig::maxDerEntitlementDepth)).error().code, ErrorCode::tooLarge);
    // The key and the array count as two values.
    const std::size_t most = codesig::maxDerEntitlementValues - 2;
    EXPECT_TRUE(holding(plist::Array(most, true)));
    EXPECT_EQ(holding(plist::Array(most + 1, true)).error().code, ErrorCode::tooLarge);
}

TEST(VisibleControlsTest, NothingAStrangerWritesCanStartALine) {
    for (const auto& [in, out] : caseTable<2>("visible_controls.txt"))
        EXPECT_EQ(visibleControls(in), out) << in;
}

}  // namespace
