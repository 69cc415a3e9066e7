// Code is hashed in bounded reads whatever its code directory's page size: with none, the
// whole code is one page, which may be gigabytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "fixtures/machowriter.h"
#include "format/codesig/csblobs.h"
#include "format/macho/bytesource.h"
#include "format/macho/machofile.h"
#include "signature/codehash.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "support/bytes.h"

using namespace varko;
using namespace varko::codesign;

namespace {

using varko::testing::Bytes;
using varko::testing::getBE32;
using varko::testing::putBE32;

/// File bytes in memory that remember the largest single read.
class RecordingSource final : public macho::ByteSource {
public:
    explicit RecordingSource(Bytes bytes) : bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes.size(); }
    Expected<void> readInto(std::uint64_t offset, std::span<std::byte> out) const override {
        std::uint64_t seen = largest.load();
        while (out.size() > seen && !largest.compare_exchange_weak(seen, out.size())) {
        }
        return macho::MemorySource(bytes).readInto(offset, out);
    }
    Bytes bytes;
    mutable std::atomic<std::uint64_t> largest{0};
};

/// An ad hoc executable of 3 MiB of code whose code directory has pages of 2^`log2` bytes
/// (none for 0), each page hash right.
Bytes withPageSize(std::uint8_t log2) {
    examplegen::MachOOptions o;
    o.arch = examplegen::Arch::X86_64;
    o.codeSize = 3u << 20;
    Bytes file = examplegen::makeMachO(o);
    auto m = macho::MachOFile::create(macho::MemorySource(file));
    const std::size_t sig = m->slices()[0].codeSignature->dataoff;
    const std::size_t cd = sig + getBE32(file, sig + 16);  // the first index entry's offset
    const std::uint32_t limit = getBE32(file, cd + 32);
    const std::uint64_t page = log2 ? std::uint64_t{1} << log2 : limit;
    const std::uint32_t pages = static_cast<std::uint32_t>((limit + page - 1) / page);
    putBE32(file, cd + 28, pages);
    file[cd + 39] = std::byte{log2};
    const std::size_t hashes = cd + getBE32(file, cd + 16);
    for (std::uint32_t i = 0; i < pages; ++i) {
        const auto code =
            std::span(file).subspan(i * page, std::min<std::uint64_t>(page, limit - i * page));
        const auto h = digest(*hashKind(codesig::CS_HASHTYPE_SHA256), code);
        std::transform(h.begin(), h.end(), file.begin() + hashes + 32 * i,
                       [](unsigned char c) { return std::byte(c); });
    }
    return file;
}

Expected<void> verify(const std::shared_ptr<RecordingSource>& source) {
    auto m = macho::MachOFile::create(*source);
    const auto& slice = m->slices()[0];
    auto read = readSignature(*source, slice.codeSignature->dataoff,
                              static_cast<std::uint32_t>(slice.codeSignature->datasize),
                              SignatureRead::Whole);
    CodeObject code{"code", slice, std::move(read->superBlob), false, {}, {}, source};
    return verifySlice(code, CodeLocation{});
}

TEST(PageHashTest, PagesLargerThanABatchStreamThroughTheirDigest) {
    for (const std::uint8_t log2 : {0, 21, 12}) {
        SCOPED_TRACE(int(log2));
        auto source = std::make_shared<RecordingSource>(withPageSize(log2));
        EXPECT_TRUE(verify(source));
        EXPECT_LE(source->largest.load(), 1u << 20);

        // The last byte of code belongs to the last page, short as it may be.
        auto m = macho::MachOFile::create(*source);
        const std::size_t lastCode = m->slices()[0].codeSignature->dataoff - 1;
        source->bytes[lastCode] ^= std::byte{1};
        const std::uint32_t lastPage = log2 == 0    ? 0
                                       : log2 == 21 ? 1
                                                    : static_cast<std::uint32_t>(lastCode >> 12);
        const auto changed = verify(source);
        ASSERT_FALSE(changed);
        EXPECT_EQ(changed.error().message, "invalid signature: page " + std::to_string(lastPage) +
                                               " of the code does not match its hash");
        EXPECT_EQ(changed.error().code, ErrorCode::invalidSignature);
    }
}

}  // namespace
