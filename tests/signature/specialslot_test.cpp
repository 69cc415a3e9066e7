// A blob the code directory binds that was changed or dropped is named for what it holds.
#include <gtest/gtest.h>

#include <memory>

#include "fixtures/machowriter.h"
#include "format/codesig/csblobs.h"
#include "format/macho/bytesource.h"
#include "format/macho/machofile.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "support/bytes.h"

using namespace varko;
using namespace varko::codesign;

namespace {

using varko::testing::Bytes;
using varko::testing::getBE32;
using varko::testing::putBE32;

TEST(SpecialSlotTest, ABoundBlobThatChangedOrWentIsNamed) {
    examplegen::MachOOptions o;
    o.signature->entitlements = "<plist><dict/></plist>\n";
    o.signature->derEntitlements = Bytes{std::byte{0x70}, std::byte{0}};
    const Bytes file = examplegen::makeMachO(o);
    const std::size_t sig =
        macho::MachOFile::create(macho::MemorySource(file))->slices()[0].codeSignature->dataoff;
    const auto entryOf = [&](std::uint32_t slot) {
        for (std::uint32_t i = 0; i < getBE32(file, sig + 8); ++i)
            if (getBE32(file, sig + 12 + 8 * i) == slot) return sig + 12 + 8 * i;
        ADD_FAILURE() << "no slot " << slot;
        return std::size_t{0};
    };
    const auto verify = [](const Bytes& bytes) {
        auto source = std::make_shared<macho::MemorySource>(bytes);
        auto m = macho::MachOFile::create(*source);
        const auto& slice = m->slices()[0];
        auto read = readSignature(*source, slice.codeSignature->dataoff,
                                  static_cast<std::uint32_t>(slice.codeSignature->datasize),
                                  SignatureRead::Whole);
        EXPECT_TRUE(read);
        CodeObject code{"code", slice, std::move(read->superBlob), false, {}, {}, source};
        return verifySlice(code, CodeLocation{});
    };
    ASSERT_TRUE(verify(file));

    const struct {
        std::uint32_t slot;
        const char* name;
    } cases[] = {{codesig::CSSLOT_REQUIREMENTS, "the requirements"},
                 {codesig::CSSLOT_ENTITLEMENTS, "the entitlements"},
                 {codesig::CSSLOT_DER_ENTITLEMENTS, "the DER entitlements"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes changed = file;
        changed[sig + getBE32(file, entryOf(c.slot) + 4) + 8] ^= std::byte{1};
        auto e = verify(changed);
        ASSERT_FALSE(e);
        EXPECT_EQ(e.error().message, "invalid signature: " + std::string(c.name) +
                                         " do not match their hash in the code directory");
        EXPECT_EQ(e.error().code, ErrorCode::invalidSignature);

        Bytes dropped = file;
        putBE32(dropped, entryOf(c.slot), 0x6666);  // an unknown slot, kept as it is
        e = verify(dropped);
        ASSERT_FALSE(e);
        EXPECT_EQ(e.error().message, "invalid signature: " + std::string(c.name) +
                                         " that the code directory binds are not in the signature");
        EXPECT_EQ(e.error().code, ErrorCode::missing);
    }
}

}  // namespace
