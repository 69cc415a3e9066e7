#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <string>

#include "casetable.h"
#include "format/macho/machoformat.h"
#include "macho_fixtures.h"

using namespace varko;
using namespace varko::testing;
using examplegen::Arch;

namespace {

TEST(MachOReaderTest, ReadsThinFilesOfEachWidthSignedOrNot) {
    struct Case {
        Arch arch;
        const char* name;
        bool is64;
        std::uint32_t cpuType;
    };
    for (const Case c : {Case{Arch::Arm64, "arm64", true, macho::CPU_TYPE_ARM64},
                         Case{Arch::Arm64e, "arm64e", true, macho::CPU_TYPE_ARM64},
                         Case{Arch::X86_64, "x86_64", true, macho::CPU_TYPE_X86_64},
                         Case{Arch::I386, "i386", false, macho::CPU_TYPE_X86}}) {
        SCOPED_TRACE(c.name);
        const Bytes file = thin(c.arch);
        auto m = parse(file);
        ASSERT_TRUE(m) << m.error().message;
        EXPECT_FALSE(m->isUniversal());
        ASSERT_EQ(m->slices().size(), 1u);
        const auto& s = m->slices()[0];
        EXPECT_EQ(s.archName(), c.name);
        EXPECT_EQ(s.is64, c.is64);
        EXPECT_EQ(s.cpuType, c.cpuType);
        EXPECT_EQ(s.fileType, macho::MH_EXECUTE);
        EXPECT_EQ(s.loadCommands.size(), 4u);
        ASSERT_NE(s.segment("__TEXT"), nullptr);
        ASSERT_NE(s.segment("__LINKEDIT"), nullptr);
        ASSERT_TRUE(s.codeSignature);
        // The signature fills __LINKEDIT, which ends the file.
        EXPECT_EQ(s.codeSignature->dataoff, s.segment("__LINKEDIT")->fileoff);
        EXPECT_EQ(s.codeSignature->dataoff + s.codeSignature->datasize, file.size());
        EXPECT_EQ(s.segment("__TEXT")->filesize, s.codeSignature->dataoff);
        // Unsigned, there is none to read.
        auto bare = parse(thin(c.arch, false));
        ASSERT_TRUE(bare) << bare.error().message;
        EXPECT_FALSE(bare->slices()[0].codeSignature);
        EXPECT_FALSE(
            macho::MachOFile::readCodeSignature(macho::MemorySource(Bytes{}), bare->slices()[0]));
    }
}

TEST(MachOReaderTest, ArchitecturesByNameAndNumberAsCodesignTakesThem) {
    for (const auto& [text, cpuType, cpuSubtype] : caseTable<3>("architectures.txt")) {
        const auto a = macho::parseArchitecture(text);
        ASSERT_EQ(a.ok(), cpuType != "refused") << text;
        if (!a) continue;
        EXPECT_EQ(std::to_string(a->cpuType), cpuType) << text;
        EXPECT_EQ(a->cpuSubtype ? std::to_string(*a->cpuSubtype) : "-", cpuSubtype) << text;
    }
}

TEST(MachOReaderTest, RunningSlicePrefersArm64eThenArm64ThenIntel) {
    const struct {
        std::vector<Arch> slices;
        const char* running;
    } cases[] = {
        {{Arch::X86_64, Arch::Arm64}, "arm64"},
        {{Arch::Arm64, Arch::Arm64e}, "arm64e"},
        {{Arch::I386, Arch::X86_64}, "x86_64"},
        {{Arch::I386}, "i386"},
    };
    for (const auto& c : cases) {
        std::vector<Bytes> parts;
        for (Arch a : c.slices) parts.push_back(thin(a));
        const Bytes file =
            c.slices.size() > 1 ? examplegen::makeUniversal(parts, false) : parts.front();
        auto m = parse(file);
        ASSERT_TRUE(m) << m.error().message;
        EXPECT_EQ(m->runningSlice().archName(), c.running);
    }
}

TEST(MachOReaderTest, UniversalFilePicksTheAskedSliceElseTheFirst) {
    for (bool fat64 : {false, true}) {
        const std::vector<Bytes> parts{thin(Arch::X86_64), thin(Arch::Arm64)};
        const Bytes file = examplegen::makeUniversal(parts, fat64);
        auto m = parse(file);
        ASSERT_TRUE(m) << m.error().message;
        EXPECT_TRUE(m->isUniversal());
        EXPECT_EQ(m->isFat64(), fat64);
        ASSERT_EQ(m->slices().size(), 2u);
        // A current Mac runs the arm64 slice, whatever machine reads the file.
        const auto& arm = m->runningSlice();
        EXPECT_EQ(arm.archName(), "arm64");
        EXPECT_EQ(arm.fileOffset, 16384u);
        EXPECT_EQ(arm.size, parts[1].size());
        EXPECT_EQ(m->findSlice(*macho::parseArchitecture("x86_64"))->archName(), "x86_64");
        EXPECT_EQ(m->findSlice(*macho::parseArchitecture("16777223"))->archName(), "x86_64");
        EXPECT_EQ(m->findSlice(*macho::parseArchitecture("16777228,0"))->archName(), "arm64");
        // arm64e is another subtype, never the arm64 slice in its place; nor x86_64h for x86_64.
        EXPECT_EQ(m->findSlice(*macho::parseArchitecture("arm64e")), nullptr);
        EXPECT_EQ(m->findSlice(*macho::parseArchitecture("x86_64h")), nullptr);
        EXPECT_EQ(m->findSlice(macho::CPU_TYPE_POWERPC), nullptr);
        // Each slice's signature is read from inside that slice.
        auto sig = macho::MachOFile::readCodeSignature(macho::MemorySource(file), arm);
        ASSERT_TRUE(sig);
        EXPECT_EQ(*sig, signatureOf(parts[1]));
    }
}

TEST(MachOReaderTest, TellsOtherFilesApart) {
    const Bytes script = bytesOf("#!/bin/sh\necho hello\n");
    EXPECT_FALSE(macho::looksLikeMachO(script));
    auto m = parse(script);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().message, "not a Mach-O or universal file (magic 0x23212f62)");
    EXPECT_EQ(parse(Bytes(3)).error().message, "not a Mach-O or universal file (3 bytes)");

    Bytes java{std::byte{0xca}, std::byte{0xfe}, std::byte{0xba}, std::byte{0xbe},
               std::byte{0},    std::byte{0},    std::byte{0},    std::byte{52}};
    EXPECT_FALSE(macho::looksLikeMachO(java));
    EXPECT_TRUE(macho::looksLikeMachO(thin(Arch::I386)));
    EXPECT_TRUE(macho::looksLikeMachO(universal()));
}

/// Why a broken file is refused: the error's code, its offset in the file and its message.
std::vector<std::string> refusal(const Bytes& b) {
    auto m = parse(b);
    EXPECT_FALSE(m);
    return m ? std::vector<std::string>{}
             : std::vector{nameOf(m.error().code), std::to_string(m.error().offset),
                           m.error().message};
}

using enum ErrorCode;

/// Puts a 16-byte linkedit_data_command and an 8-byte filler where LC_MAIN was, so that a
/// generated 64-bit file gains one more range in __LINKEDIT.
void replaceMain(Bytes& b, std::uint32_t cmd, std::uint32_t dataoff, std::uint32_t datasize) {
    putWords(b, mainCommand, {cmd, 16, dataoff, datasize, macho::LC_UUID, 8});
    putLE32(b, 16, 5);
}

TEST(MachOReaderTest, RefusesBrokenThinHeadersWithExactReasons) {
    expectErrors(thin(Arch::Arm64), "macho_broken_thin.txt",
                 {
                     {"cmdsize 0", setLE(textCommand + 4, 0)},
                     {"cmdsize past sizeofcmds", setLE(signatureCommand + 4, 0x1000)},
                     {"cmdsize unaligned", setLE(mainCommand + 4, 20)},
                     {"ncmds beyond sizeofcmds", setLE(16, 0xffffffff)},
                     {"more commands than there are", setLE(16, 5)},
                     {"sizeofcmds past the file", setLE(20, 0x100000)},
                     {"sizeofcmds over the cap", setLE(20, (4u << 20) + 8)},
                     {"signature past EOF", setLE(signatureCommand + 8, 0x100000)},
                     {"signature size wraps", setLE(signatureCommand + 12, 0xfffffff0)},
                     {"signature over the header", setLE(signatureCommand + 8, 16)},
                     {"second signature command",
                      [](Bytes& b) {
                          replaceMain(b, macho::LC_CODE_SIGNATURE,
                                      static_cast<std::uint32_t>(b.size() - 16),
                                      getLE32(b, mainCommand + 12));
                      }},
                     {"signature cmdsize", setLE(mainCommand, macho::LC_CODE_SIGNATURE)},
                     {"segment sections", setLE(textCommand + 64, 1000)},
                     {"segment too small", setLE(linkeditCommand + 4, 64)},
                     {"segment past EOF", setLE(linkeditCommand + 48, 0xffff0000)},
                     {"header cut", [](Bytes& b) { b.resize(20); }},
                 },
                 refusal);
}

TEST(MachOReaderTest, RefusesBrokenFatHeadersWithExactReasons) {
    expectErrors(
        universal(), "macho_broken_fat.txt",
        {
            {"huge nfat_arch", setBE(4, 0xffffffff)},
            {"more slices than real files have", setBE(4, 17)},
            {"no arches", setBE(4, 0)},
            {"overlapping slices",
             [](Bytes& b) {
                 putBE32(b, fatArch(1) + 8, 4096);
                 putBE32(b, fatArch(1) + 16, 12);
             }},
            {"slice over the header", setBE(fatArch(0) + 8, 0)},
            {"slice past EOF", setBE(fatArch(1) + 12, 0xffffff00)},
            {"empty slice", setBE(fatArch(1) + 12, 0)},
            {"same arch twice",
             [](Bytes& b) {
                 putBE32(b, fatArch(1), macho::CPU_TYPE_X86_64);
                 putBE32(b, fatArch(1) + 4, macho::CPU_SUBTYPE_X86_64_ALL);
             }},
            {"misaligned", setBE(fatArch(1) + 16, 15)},
            {"huge align", setBE(fatArch(1) + 16, 200)},
            {"table past EOF", [](Bytes& b) { b.resize(20); }},
            {"header cut", [](Bytes& b) { b.resize(6); }},
            {"slice cputype", [](Bytes& b) { putLE32(b, 16384 + 4, macho::CPU_TYPE_X86_64); }},
            {"slice load command", [](Bytes& b) { putLE32(b, 16384 + textCommand + 4, 0); }},
            {"nested fat", setBE(4096, 0xcafebabe)},
        },
        refusal);
}

/// LC_SYMTAB has LC_MAIN's size, so it takes its place whole.
void symtabForMain(Bytes& b, std::uint32_t symoff, std::uint32_t nsyms, std::uint32_t stroff,
                   std::uint32_t strsize) {
    putWords(b, mainCommand, {macho::LC_SYMTAB, 24, symoff, nsyms, stroff, strsize});
}

// Generated layout: load commands end at 296, code runs to the signature at `sig`, and the
// signature fills __LINKEDIT to the end of the file.
TEST(MachOReaderTest, LinkeditRangesStayInsideItAndApart) {
    const Bytes base = thin(Arch::Arm64);
    const std::uint32_t sig = getLE32(base, signatureCommand + 8);
    const std::uint32_t sigSize = getLE32(base, signatureCommand + 12);
    ASSERT_EQ(sig, 368u);
    const auto main = [=](std::uint32_t cmd, std::uint32_t at, std::uint32_t size) {
        return [=](Bytes& b) { replaceMain(b, cmd, at, size); };
    };
    const auto symtab = [](std::uint32_t symoff, std::uint32_t stroff, std::uint32_t strsize) {
        return [=](Bytes& b) { symtabForMain(b, symoff, 2, stroff, strsize); };
    };
    expectErrors(
        base, "macho_broken_linkedit.txt",
        {
            {"signature in __TEXT", setLE(signatureCommand + 8, sig - 64)},
            {"signature past the end of __LINKEDIT", setLE(linkeditCommand + 48, sigSize - 1)},
            {"no __LINKEDIT", [](Bytes& b) { b[linkeditCommand + 17] = std::byte{'X'}; }},
            {"function starts inside the signature", main(macho::LC_FUNCTION_STARTS, sig + 8, 16)},
            {"exports trie over the signature's first byte",
             main(macho::LC_DYLD_EXPORTS_TRIE, sig - 16, 17)},
            {"string table over the symbols", symtab(304, 320, 8)},
            {"symbols over the signature", symtab(sig - 16, 0, 0)},
            {"linkedit command of the wrong size", setLE(mainCommand, macho::LC_DATA_IN_CODE)},
            {"dysymtab of the wrong size", setLE(mainCommand, macho::LC_DYSYMTAB)},
        },
        refusal);

    const Broken accepted[] = {
        {"function starts just before the signature",
         main(macho::LC_FUNCTION_STARTS, sig - 16, 16)},
        {"empty data in code inside the signature", main(macho::LC_DATA_IN_CODE, sig + 8, 0)},
        {"strings right after the symbols", symtab(304, 336, 8)},
        {"signature at the very end of __LINKEDIT",
         [&](Bytes& b) {
             putLE32(b, signatureCommand + 8, sig + 16);
             putLE32(b, signatureCommand + 12, sigSize - 16);
         }},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.what);
        Bytes b = base;
        c.patch(b);
        auto m = parse(b);
        EXPECT_TRUE(m) << m.error().message;
    }
}

/// A big-endian (PowerPC) file of two commands: __LINKEDIT and the signature that fills it.
Bytes bigEndianFile(bool is64) {
    const std::uint32_t header = is64 ? 32 : 28, segment = is64 ? 72 : 56, cs = header + segment;
    Bytes b(0x1100);
    putWords(b, 0,
             {is64 ? macho::MH_MAGIC_64 : macho::MH_MAGIC,
              is64 ? macho::CPU_TYPE_POWERPC64 : macho::CPU_TYPE_POWERPC, 0, macho::MH_EXECUTE, 2,
              segment + 16, macho::MH_PIE},
             true);
    putWords(b, header, {is64 ? macho::LC_SEGMENT_64 : macho::LC_SEGMENT, segment}, true);
    std::memcpy(b.data() + header + 8, "__LINKEDIT", 10);
    // vmaddr, vmsize, fileoff and filesize, of the segment's width.
    const std::uint64_t fields[] = {is64 ? 0x100004000ull : 0x4000ull, 0x4000, 0x1000, 0x100};
    for (std::uint32_t i = 0; i < 4; ++i)
        is64 ? putBE64(b, header + 24 + 8 * i, fields[i])
             : putBE32(b, header + 24 + 4 * i, static_cast<std::uint32_t>(fields[i]));
    putBE32(b, cs - 16, macho::VM_PROT_READ);
    putWords(b, cs, {macho::LC_CODE_SIGNATURE, 16, 0x1000, 0x100}, true);
    return b;
}

TEST(MachOReaderTest, ReadsBigEndianSlicesOfEachWidth) {
    for (bool is64 : {false, true}) {
        SCOPED_TRACE(is64);
        auto m = parse(bigEndianFile(is64));
        ASSERT_TRUE(m) << m.error().message;
        const auto& s = m->slices()[0];
        EXPECT_TRUE(s.bigEndian);
        EXPECT_EQ(s.is64, is64);
        EXPECT_EQ(s.archName(), is64 ? "ppc64" : "ppc");
        EXPECT_EQ(s.fileType, macho::MH_EXECUTE);
        EXPECT_EQ(s.flags, macho::MH_PIE);
        const auto* linkedit = s.segment("__LINKEDIT");
        ASSERT_NE(linkedit, nullptr);
        EXPECT_EQ(linkedit->vmaddr, is64 ? 0x100004000u : 0x4000u);
        EXPECT_EQ(linkedit->fileoff, 0x1000u);
        EXPECT_EQ(linkedit->filesize, 0x100u);
        EXPECT_EQ(linkedit->maxprot, macho::VM_PROT_READ);
        ASSERT_TRUE(s.codeSignature);
        EXPECT_EQ(s.codeSignature->dataoff, 0x1000u);
        EXPECT_EQ(s.codeSignature->datasize, 0x100u);
    }
}

TEST(MachOReaderTest, StructReadsStayInsideTheirBytes) {
    const Bytes bytes(40);
    const struct {
        std::uint64_t offset;
        bool fits;
    } cases[] = {{0, true},   {8, true},      {9, false},         {40, false},
                 {41, false}, {~0ull, false}, {~0ull - 31, false}};
    for (const auto& c : cases) {
        auto read = macho::readStruct<macho::fat_arch_64>(bytes, c.offset, true);
        EXPECT_EQ(read.ok(), c.fits) << c.offset;
        if (!read) {
            EXPECT_EQ(read.error().code, truncated);
        }
    }
}

/// Every prefix of a signed file goes through the whole reader without a fault; only the
/// complete file is accepted, since the signature ends it.
TEST(MachOReaderTest, EveryTruncationIsRefusedWithoutFault) {
    // Every prefix of the thin files; every seventh of the larger universal one.
    for (const auto& [whole, step] : {std::pair{thin(Arch::Arm64), 1},
                                      std::pair{thin(Arch::I386), 1}, std::pair{universal(), 7}}) {
        for (std::size_t n = 0; n < whole.size(); n += step) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            auto m = parse(cut);
            ASSERT_FALSE(m) << n;
            ASSERT_FALSE(m.error().message.empty());
            // Too short to carry a magic is another kind of file; longer is a cut one.
            ASSERT_EQ(m.error().code, n < 4 ? unsupported : truncated) << n;
        }
    }
}

/// Counts what the reader asks of a file.
class CountingSource final : public macho::ByteSource {
public:
    explicit CountingSource(const macho::ByteSource& inner) : inner(inner) {}
    std::uint64_t size() const override { return inner.size(); }
    Expected<void> readInto(std::uint64_t offset, std::span<std::byte> out) const override {
        ++reads;
        bytes += out.size();
        return inner.readInto(offset, out);
    }
    mutable int reads = 0;
    mutable std::uint64_t bytes = 0;

private:
    const macho::ByteSource& inner;
};

TEST(MachOReaderTest, LargeExecutableCostsOnlyHeaderAndSignatureReads) {
    const auto path =
        std::filesystem::temp_directory_path() / ("varko-sparse-" + std::to_string(::getpid()));
    examplegen::MachOOptions o;
    o.arch = Arch::X86_64;
    o.signature = signatureWith(nullptr);
    const std::uint64_t total = 200ull << 20;
    auto codeLimit = examplegen::writeSparseMachO(path, total, o);
    ASSERT_TRUE(codeLimit) << codeLimit.error().message;
    auto file = macho::FileSource::open(path.string());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), total);
    CountingSource counting(*file);
    auto m = macho::MachOFile::create(counting);
    ASSERT_TRUE(m) << m.error().message;
    auto sig = macho::MachOFile::readCodeSignature(counting, m->slices()[0]);
    ASSERT_TRUE(sig);
    EXPECT_LE(counting.reads, 5);
    EXPECT_LT(counting.bytes, 2u << 20);
    auto sb = codesig::SuperBlob::create(std::move(*sig));
    ASSERT_TRUE(sb) << sb.error().message;
    auto cd = sb->codeDirectory();
    ASSERT_TRUE(cd && *cd);
    EXPECT_EQ((*cd)->codeLimit, *codeLimit);
    EXPECT_EQ((*cd)->nCodeSlots, *codeLimit / 4096);
    std::filesystem::remove(path);
}

/// A file of `size` bytes, zeros but for what is put in: big layouts at no cost.
class SparseSource final : public macho::ByteSource {
public:
    explicit SparseSource(std::uint64_t size) : fileSize(size) {}
    void put(std::uint64_t offset, const Bytes& bytes) { parts.emplace_back(offset, bytes); }
    std::uint64_t size() const override { return fileSize; }
    Expected<void> readInto(std::uint64_t offset, std::span<std::byte> out) const override {
        if (offset > fileSize || out.size() > fileSize - offset)
            return Error{offset, "past the end", ErrorCode::truncated};
        std::fill(out.begin(), out.end(), std::byte{0});
        for (const auto& [at, bytes] : parts)
            for (std::size_t i = 0; i < bytes.size(); ++i)
                if (at + i >= offset && at + i < offset + out.size())
                    out[at + i - offset] = bytes[i];
        return {};
    }

private:
    std::uint64_t fileSize;
    std::vector<std::pair<std::uint64_t, Bytes>> parts;
};

/// A universal file of `count` i386 slices, each `sliceSize` bytes of zeros but for a header
/// with `sizeofcmds` and, when `signatureSize` is set, an LC_CODE_SIGNATURE of that size and
/// the __LINKEDIT it fills (sizeofcmds 72).
SparseSource manySlices(std::uint32_t count, std::uint64_t sliceSize, std::uint32_t sizeofcmds,
                        std::uint32_t signatureSize) {
    const std::uint64_t stride = (sliceSize + 4095) / 4096 * 4096;
    SparseSource source(4096 + count * stride);
    Bytes table(8 + 20 * count);
    putWords(table, 0, {macho::FAT_MAGIC, count}, true);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto offset = static_cast<std::uint32_t>(4096 + i * stride);
        putWords(table, 8 + 20 * i,
                 {macho::CPU_TYPE_X86, i, offset, static_cast<std::uint32_t>(sliceSize), 12}, true);
        Bytes header(28 + (signatureSize ? 72 : 0));
        putWords(header, 0,
                 {macho::MH_MAGIC, macho::CPU_TYPE_X86, i, macho::MH_EXECUTE,
                  signatureSize ? 2u : 0u, sizeofcmds});
        if (signatureSize) {
            putWords(header, 28,
                     {macho::LC_CODE_SIGNATURE, 16, 4096, signatureSize, macho::LC_SEGMENT, 56});
            std::memcpy(header.data() + 52, "__LINKEDIT", 10);
            putWords(header, 76, {4096, signatureSize});
        }
        source.put(offset, header);
    }
    source.put(0, table);
    return source;
}

// Each slice within its own bounds, but together more than any real file holds: two such
// slices are read, a third is refused before its bytes are.
TEST(MachOReaderTest, SlicesTogetherAreBoundedAsOneFile) {
    const std::string s2 = "truncated or malformed object (slice 2 (i386): ";
    const struct {
        std::uint64_t sliceSize;
        std::uint32_t sizeofcmds, signatureSize;
        std::string message;
        std::uint64_t offset;  ///< slice 2 starts at 4096 plus two strides
    } cases[] = {
        {4u << 20, 3u << 20, 0,
         s2 + "sizeofcmds 3145728 takes the load commands of all slices past the 8 MiB limit)",
         4096 + (8u << 20) + 20},
        {61u << 20, 72, 60u << 20,
         s2 + "load command 0 LC_CODE_SIGNATURE datasize 62914560 takes the signatures of all "
              "slices past the 128 MiB limit)",
         4096 + (122u << 20) + 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const SparseSource source = manySlices(3, c.sliceSize, c.sizeofcmds, c.signatureSize);
        CountingSource counting(source);
        auto m = macho::MachOFile::create(counting);
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error().message, c.message);
        EXPECT_EQ(m.error().code, tooLarge);
        EXPECT_EQ(m.error().offset, c.offset);
        EXPECT_LT(counting.bytes, 7u << 20);
        auto two =
            macho::MachOFile::create(manySlices(2, c.sliceSize, c.sizeofcmds, c.signatureSize));
        EXPECT_TRUE(two) << two.error().message;
    }
}

}  // namespace
