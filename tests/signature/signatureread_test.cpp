// Reading a signature without its page hashes must show exactly what reading it whole
// shows, and anything it can't read that way must fall back to the whole read.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
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
    std::size_t entry(std::uint32_t slot) const {
        for (std::uint32_t i = 0; i < getBE32(bytes, 8); ++i)
            if (getBE32(bytes, 12 + 8 * i) == slot) return 12 + 8 * i;
        ADD_FAILURE() << "no slot " << slot;
        return 0;
    }
};

Signature generated() {
    const Bytes file = examplegen::makeMachO(options());
    const macho::MemorySource source(file);
    auto m = macho::MachOFile::create(source);
    const auto& loc = *m->slices()[0].codeSignature;
    Signature s;
    s.bytes = Bytes(file.begin() + loc.dataoff, file.begin() + loc.dataoff + loc.datasize);
    s.cd = getBE32(s.bytes, s.entry(codesig::CSSLOT_CODEDIRECTORY) + 4);
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

TEST(SignatureReadTest, LayoutsThatReachIntoThePageHashesAreReadWhole) {
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
             putBE32(b, s.entry(codesig::CSSLOT_ENTITLEMENTS) + 4, s.hashes);
         }},
        {"a blob running into the page hashes",
         [&](Bytes& b) {
             const std::uint32_t at = s.hashes - 8;
             putBE32(b, at, codesig::CSMAGIC_EMBEDDED_ENTITLEMENTS);
             putBE32(b, at + 4, 24);
             putBE32(b, s.entry(codesig::CSSLOT_ENTITLEMENTS) + 4, at);
         }},
        {"the identifier among the page hashes",
         [&](Bytes& b) {
             b[s.hashes] = std::byte{'x'};
             b[s.hashes + 1] = std::byte{0};
             putBE32(b, s.cd + 20, s.hashes - s.cd);
         }},
        {"two code directories in one blob",
         [&](Bytes& b) {
             const std::size_t e = s.entry(codesig::CSSLOT_REQUIREMENTS);
             putBE32(b, e, codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES);
             putBE32(b, e + 4, s.cd);
         }},
        {"page hashes over the header", [&](Bytes& b) { putBE32(b, s.cd + 16, 40); }},
        {"page hashes past the blob", [&](Bytes& b) { putBE32(b, s.cd + 28, 0x7fffffff); }},
        {"an alternate slot that is no code directory",
         [&](Bytes& b) {
             putBE32(b, s.entry(codesig::CSSLOT_REQUIREMENTS),
                     codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES);
         }},
        {"an unknown hash type", [&](Bytes& b) { b[s.cd + 37] = std::byte{9}; }},
        {"a count in the billions", [&](Bytes& b) { putBE32(b, 8, 0xffffffff); }},
        {"a longer index than real signatures have", [&](Bytes& b) { putBE32(b, 8, 65); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = s.bytes;
        c.patch(b);
        const Shown whole = show(b, SignatureRead::Whole);
        const Shown streamed = show(b, SignatureRead::WithoutPageHashes);
        EXPECT_EQ(streamed.text, whole.text);
        EXPECT_TRUE(streamed.pageHashesRead);
    }
}

TEST(SignatureReadTest, AFileShorterThanItsSignatureFailsAsTheWholeReadDoes) {
    const Signature s = generated();
    for (const std::size_t cut :
         {std::size_t{20}, std::size_t{s.hashes + 10}, s.bytes.size() - 1}) {
        SCOPED_TRACE(cut);
        const auto part = std::span(s.bytes).first(cut);
        const Shown whole = show(part, s.bytes.size(), SignatureRead::Whole);
        EXPECT_TRUE(whole.text.starts_with("error read of ")) << whole.text;
        const auto read =
            readSignature(macho::MemorySource(part), 0, static_cast<std::uint32_t>(s.bytes.size()),
                          SignatureRead::Whole);
        EXPECT_EQ(read.error().code, ErrorCode::unreadable);
        EXPECT_EQ(show(part, s.bytes.size(), SignatureRead::WithoutPageHashes).text, whole.text);
    }
}

TEST(SignatureReadTest, CodeWhosePageHashesWereNotReadIsNeverTakenAsVerified) {
    const auto path =
        std::filesystem::temp_directory_path() / ("varko-streamed-" + std::to_string(::getpid()));
    const Bytes file = examplegen::makeMachO(options());
    ASSERT_TRUE(examplegen::writeFile(path, file));
    const CodeLocation location{path, std::nullopt, std::nullopt, false, std::nullopt};
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

}  // namespace
