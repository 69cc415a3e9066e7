// Reading a signature: without its page hashes it must show exactly what reading it whole
// shows, and anything it can't read that way must fall back to the whole read. Checking one:
// code is hashed in bounded reads whatever the page size, and a bound blob that changed or
// went is named for what it holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "fixtures/machowriter.h"
#include "format/codesig/csblobs.h"
#include "format/macho/bytesource.h"
#include "format/macho/machoformat.h"
#include "signature/bundlelocator.h"
#include "signature/codehash.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "support/bytes.h"

using namespace varko;
using namespace varko::codesign;
using varko::codesig::CodeSlots;

namespace {

using varko::testing::Bytes;
using varko::testing::getBE32;
using varko::testing::putBE32;

/// Where a thin file's signature starts.
std::size_t signatureAt(const Bytes& file) {
    return macho::MachOFile::create(macho::MemorySource(file))->slices()[0].codeSignature->dataoff;
}

/// The SuperBlob index entry of `slot`, in the signature at `sig`.
std::size_t entryOf(const Bytes& b, std::size_t sig, std::uint32_t slot) {
    for (std::uint32_t i = 0; i < getBE32(b, sig + 8); ++i)
        if (getBE32(b, sig + 12 + 8 * i) == slot) return sig + 12 + 8 * i;
    ADD_FAILURE() << "no slot " << slot;
    return 0;
}

/// Checks the first slice's code and bound blobs against its signature.
Expected<void> verifyFirstSlice(const std::shared_ptr<const macho::ByteSource>& source) {
    auto m = macho::MachOFile::create(*source);
    const auto& slice = m->slices()[0];
    auto read = readSignature(*source, slice.codeSignature->dataoff,
                              static_cast<std::uint32_t>(slice.codeSignature->datasize),
                              SignatureRead::Whole);
    EXPECT_TRUE(read);
    CodeObject code{"code", slice, std::move(read->superBlob), false, {}, {}, source};
    return verifySlice(code, CodeLocation{});
}

examplegen::MachOOptions options() {
    examplegen::MachOOptions o;
    o.arch = examplegen::Arch::X86_64;
    o.codeSize = 40000;  // ten pages: the page hashes are far from the headers
    o.signature->identifier = "com.example.streamed";
    o.signature->teamId = "ABCDE12345";
    o.signature->entitlements = "<plist><dict><key>k</key><true/></dict></plist>\n";
    return o;
}

/// A generated signature and where its parts are: the SuperBlob's index lists the code
/// directory first, then requirements, entitlements and the CMS wrapper.
struct Signature {
    Bytes bytes;
    std::uint32_t cd = 0;      ///< the code directory's offset
    std::uint32_t hashes = 0;  ///< its first page hash, from the SuperBlob's start
};

Signature generated() {
    const Bytes file = examplegen::makeMachO(options());
    Signature s;
    s.bytes = Bytes(file.begin() + std::ptrdiff_t(signatureAt(file)), file.end());
    s.cd = getBE32(s.bytes, entryOf(s.bytes, 0, codesig::CSSLOT_CODEDIRECTORY) + 4);
    s.hashes = s.cd + getBE32(s.bytes, s.cd + 16);
    return s;
}

/// Everything -dvvv takes from a signature, in words, so that two reads compare as one.
struct Shown {
    std::string text;
    bool pageHashesRead = true;
};

Shown show(std::span<const std::byte> bytes, std::uint64_t size, SignatureRead how) {
    const macho::MemorySource source(bytes);
    auto read = readSignature(source, 0, static_cast<std::uint32_t>(size), how);
    if (!read) return {"error " + read.error().message, true};
    CodeObject code;
    code.signature = std::move(read->superBlob);
    code.directoryDigests = std::move(read->digests);
    std::ostringstream out;
    auto directories = codeDirectories(*code.signature);
    if (!directories) return {"directories " + directories.error().message, true};
    Shown shown;
    for (std::size_t i = 0; i < directories->all.size(); ++i) {
        const auto& cd = directories->all[i];
        shown.pageHashesRead = shown.pageHashesRead && cd.codeSlots == CodeSlots::Read;
        out << "slot " << directories->slotNumbers[i] << " id " << cd.identifier << " team "
            << cd.teamId.value_or("-") << " flags " << cd.flags << " slots " << cd.nCodeSlots << '+'
            << cd.nSpecialSlots << " digest "
            << hex(directoryDigest(code, directories->slotNumbers[i], cd));
        for (std::uint32_t slot = 1; slot <= cd.nSpecialSlots; ++slot) {
            const auto* h =
                reinterpret_cast<const unsigned char*>(cd.specialSlotHash(slot)->data());
            out << " special " << hex(std::vector<unsigned char>(h, h + 32));
        }
        out << '\n';
    }
    // Each blob's accessor: its error, or what it holds when there is one.
    const auto put = [&](const char* name, const auto& blob, const auto& what) {
        if (!blob)
            out << name << " " << blob.error().message << '\n';
        else if (*blob)
            out << name << " " << what(**blob) << '\n';
    };
    put("entitlements", code.signature->entitlements(), [](const auto& b) {
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    });
    put("requirements", code.signature->requirements(),
        [](const auto& r) { return r.entries.size(); });
    put("cms", code.signature->cmsSignature(), [](const auto& b) { return b.size(); });
    shown.text = out.str();
    return shown;
}

Shown show(const Bytes& bytes, SignatureRead how) {
    return show(bytes, bytes.size(), how);
}

TEST(SignatureReadTest, WithoutPageHashesShowsWhatTheWholeReadShows) {
    const Signature s = generated();
    const Shown whole = show(s.bytes, SignatureRead::Whole);
    const Shown streamed = show(s.bytes, SignatureRead::WithoutPageHashes);
    EXPECT_TRUE(whole.pageHashesRead);
    EXPECT_FALSE(streamed.pageHashesRead);
    EXPECT_EQ(streamed.text, whole.text);
    EXPECT_TRUE(whole.text.find("id com.example.streamed team ABCDE12345") != std::string::npos)
        << whole.text;

    // The digest is the code directory's own: its page hashes count.
    const auto cdLength = getBE32(s.bytes, s.cd + 4);
    const auto expected =
        digest(*hashKind(codesig::CS_HASHTYPE_SHA256), std::span(s.bytes).subspan(s.cd, cdLength));
    EXPECT_TRUE(streamed.text.find("digest " + hex(expected)) != std::string::npos)
        << streamed.text;
    Bytes changed = s.bytes;
    changed[s.hashes + 5] ^= std::byte{1};
    EXPECT_NE(show(changed, SignatureRead::WithoutPageHashes).text, streamed.text);

    // The page hashes' memory is never taken for hashes.
    auto read =
        readSignature(macho::MemorySource(s.bytes), 0, static_cast<std::uint32_t>(s.bytes.size()),
                      SignatureRead::WithoutPageHashes);
    auto cd = read->superBlob.codeDirectory();
    ASSERT_TRUE(cd && *cd);
    EXPECT_FALSE((*cd)->codeSlotHash(0));
    EXPECT_TRUE((*cd)->specialSlotHash(codesig::CSSLOT_ENTITLEMENTS));
}

TEST(SignatureReadTest, WhatTheStreamedReadCantTakeIsReadWhole) {
    const Signature s = generated();
    struct Case {
        const char* name;
        std::function<void(Bytes&)> patch;
    };
    const Case cases[] = {
        {"a blob inside the page hashes",
         [&](Bytes& b) {
             putBE32(b, s.hashes, codesig::CSMAGIC_EMBEDDED_ENTITLEMENTS);
             putBE32(b, s.hashes + 4, 16);
             putBE32(b, entryOf(s.bytes, 0, codesig::CSSLOT_ENTITLEMENTS) + 4, s.hashes);
         }},
        {"a blob running into the page hashes",
         [&](Bytes& b) {
             const std::uint32_t at = s.hashes - 8;
             putBE32(b, at, codesig::CSMAGIC_EMBEDDED_ENTITLEMENTS);
             putBE32(b, at + 4, 24);
             putBE32(b, entryOf(s.bytes, 0, codesig::CSSLOT_ENTITLEMENTS) + 4, at);
         }},
        {"the identifier among the page hashes",
         [&](Bytes& b) {
             b[s.hashes] = std::byte{'x'};
             b[s.hashes + 1] = std::byte{0};
             putBE32(b, s.cd + 20, s.hashes - s.cd);
         }},
        {"two code directories in one blob",
         [&](Bytes& b) {
             const std::size_t e = entryOf(s.bytes, 0, codesig::CSSLOT_REQUIREMENTS);
             putBE32(b, e, codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES);
             putBE32(b, e + 4, s.cd);
         }},
        {"page hashes over the header", [&](Bytes& b) { putBE32(b, s.cd + 16, 40); }},
        {"page hashes past the blob", [&](Bytes& b) { putBE32(b, s.cd + 28, 0x7fffffff); }},
        {"an alternate slot that is no code directory",
         [&](Bytes& b) {
             putBE32(b, entryOf(s.bytes, 0, codesig::CSSLOT_REQUIREMENTS),
                     codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES);
         }},
        {"an unknown hash type", [&](Bytes& b) { b[s.cd + 37] = std::byte{9}; }},
        {"a count in the billions", [&](Bytes& b) { putBE32(b, 8, 0xffffffff); }},
        {"a longer index than real signatures have", [&](Bytes& b) { putBE32(b, 8, 65); }},
        // A file shorter than its signature fails as the whole read does.
        {"cut in the header", [](Bytes& b) { b.resize(20); }},
        {"cut in the page hashes", [&](Bytes& b) { b.resize(s.hashes + 10); }},
        {"one byte short", [](Bytes& b) { b.pop_back(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = s.bytes;
        c.patch(b);
        const Shown whole = show(b, s.bytes.size(), SignatureRead::Whole);
        const Shown streamed = show(b, s.bytes.size(), SignatureRead::WithoutPageHashes);
        EXPECT_EQ(streamed.text, whole.text);
        EXPECT_TRUE(streamed.pageHashesRead);
        if (b.size() < s.bytes.size()) {
            EXPECT_TRUE(whole.text.starts_with("error read of "));
        }
    }
}

TEST(SignatureReadTest, CodeWhosePageHashesWereNotReadIsNeverTakenAsVerified) {
    const auto path =
        std::filesystem::temp_directory_path() / ("varko-streamed-" + std::to_string(::getpid()));
    const Bytes file = examplegen::makeMachO(options());
    ASSERT_TRUE(examplegen::writeFile(path, file));
    const CodeLocation location{path, {}, {}, false, {}};
    const macho::Architecture intel{macho::CPU_TYPE_X86_64, {}};
    auto whole = loadCodeObject(path, intel, SignatureRead::Whole);
    auto streamed = loadCodeObject(path, intel, SignatureRead::WithoutPageHashes);
    ASSERT_TRUE(whole);
    ASSERT_TRUE(streamed);
    EXPECT_TRUE(verifyCode(*whole, location));
    const auto unverified = verifyCode(*streamed, location);
    ASSERT_FALSE(unverified);
    EXPECT_EQ(unverified.error().message, "invalid signature: the page hashes were not read");
    EXPECT_EQ(unverified.error().code, ErrorCode::unsupported);
    std::filesystem::remove(path);
}

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
    Bytes file = examplegen::makeMachO(
        {examplegen::Arch::X86_64, 3u << 20, examplegen::SignatureOptions{}, 0});
    const std::size_t sig = signatureAt(file);
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

TEST(PageHashTest, PagesLargerThanABatchStreamThroughTheirDigest) {
    for (const std::uint8_t log2 : {0, 21, 12}) {
        SCOPED_TRACE(int(log2));
        auto source = std::make_shared<RecordingSource>(withPageSize(log2));
        EXPECT_TRUE(verifyFirstSlice(source));
        EXPECT_LE(source->largest.load(), 1u << 20);

        // The last byte of code belongs to the last page, short as it may be.
        const std::size_t lastCode = signatureAt(source->bytes) - 1;
        source->bytes[lastCode] ^= std::byte{1};
        const std::uint32_t lastPage = log2 == 0    ? 0
                                       : log2 == 21 ? 1
                                                    : static_cast<std::uint32_t>(lastCode >> 12);
        const auto changed = verifyFirstSlice(source);
        ASSERT_FALSE(changed);
        EXPECT_EQ(changed.error().message, "invalid signature: page " + std::to_string(lastPage) +
                                               " of the code does not match its hash");
        EXPECT_EQ(changed.error().code, ErrorCode::invalidSignature);
    }
}

TEST(SpecialSlotTest, ABoundBlobThatChangedOrWentIsNamed) {
    examplegen::MachOOptions o;
    o.signature->entitlements = "<plist><dict/></plist>\n";
    o.signature->derEntitlements = Bytes{std::byte{0x70}, std::byte{0}};
    const Bytes file = examplegen::makeMachO(o);
    const std::size_t sig = signatureAt(file);
    const auto verify = [](const Bytes& bytes) {
        return verifyFirstSlice(std::make_shared<macho::MemorySource>(bytes));
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
        changed[sig + getBE32(file, entryOf(file, sig, c.slot) + 4) + 8] ^= std::byte{1};
        auto e = verify(changed);
        ASSERT_FALSE(e);
        EXPECT_EQ(e.error().message, "invalid signature: " + std::string(c.name) +
                                         " do not match their hash in the code directory");
        EXPECT_EQ(e.error().code, ErrorCode::invalidSignature);

        Bytes dropped = file;
        putBE32(dropped, entryOf(file, sig, c.slot), 0x6666);  // an unknown slot, kept as it is
        e = verify(dropped);
        ASSERT_FALSE(e);
        EXPECT_EQ(e.error().message, "invalid signature: " + std::string(c.name) +
                                         " that the code directory binds are not in the signature");
        EXPECT_EQ(e.error().code, ErrorCode::missing);
    }
}

}  // namespace
