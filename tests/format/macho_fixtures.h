#pragma once

// Fixture files from the example generator, and byte patches that break them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "casetable.h"
#include "fixtures/machowriter.h"
#include "format/codesig/superblob.h"
#include "format/macho/machofile.h"
#include "support/bytes.h"

namespace varko::testing {

inline examplegen::SignatureOptions signatureWith(const char* entitlements) {
    examplegen::SignatureOptions s;
    s.identifier = "com.example.fixture";
    s.teamId = "ABCDE12345";
    if (entitlements) s.entitlements = entitlements;
    return s;
}

inline Bytes thin(examplegen::Arch arch, bool withSignature = true) {
    examplegen::MachOOptions o;
    o.arch = arch;
    if (withSignature)
        o.signature = signatureWith("<plist><dict/></plist>\n");
    else
        o.signature.reset();
    return examplegen::makeMachO(o);
}

inline Bytes universal() {
    const std::vector<Bytes> slices{thin(examplegen::Arch::X86_64), thin(examplegen::Arch::Arm64)};
    return examplegen::makeUniversal(slices);
}

inline Expected<macho::MachOFile> parse(const Bytes& b) {
    return macho::MachOFile::create(macho::MemorySource(b));
}

/// The signature bytes of a thin file's only slice (empty when there are none).
inline Bytes signatureOf(const Bytes& file) {
    auto m = parse(file);
    if (!m || !m->slices()[0].codeSignature) return {};
    auto sig = macho::MachOFile::readCodeSignature(macho::MemorySource(file), m->slices()[0]);
    return sig ? *sig : Bytes{};
}

/// Puts 32-bit words one after another from `at`, little-endian unless `bigEndian`.
inline void putWords(Bytes& b, std::size_t at, std::initializer_list<std::uint32_t> words,
                     bool bigEndian = false) {
    for (const std::uint32_t w : words) {
        bigEndian ? putBE32(b, at, w) : putLE32(b, at, w);
        at += 4;
    }
}

// Layout of a generated thin 64-bit file: header, then these load commands.
inline constexpr std::size_t textCommand = 32;        // LC_SEGMENT_64 __TEXT, one section
inline constexpr std::size_t linkeditCommand = 184;   // LC_SEGMENT_64 __LINKEDIT
inline constexpr std::size_t mainCommand = 256;       // LC_MAIN
inline constexpr std::size_t signatureCommand = 280;  // LC_CODE_SIGNATURE
// Fat arch table entry i starts at 8 + 20 * i.
inline constexpr std::size_t fatArch(std::size_t i) {
    return 8 + 20 * i;
}

/// A way to break a fixture file: what the data folder's tables call it, and the patch.
struct Broken {
    const char* what;
    std::function<void(Bytes&)> patch;
};

/// Patches that put a 32-bit value at an offset, little- or big-endian.
inline auto setLE(std::size_t at, std::uint32_t v) {
    return [=](Bytes& b) { putLE32(b, at, v); };
}
inline auto setBE(std::size_t at, std::uint32_t v) {
    return [=](Bytes& b) { putBE32(b, at, v); };
}

/// Each case breaks a copy of `base`; the error fields that `fails` gives for it must be as
/// the data folder's `table` says.
template <class Fails>
void expectErrors(const Bytes& base, const char* table, const std::vector<Broken>& cases,
                  Fails fails) {
    auto expected = outcomes(table);
    EXPECT_EQ(expected.size(), cases.size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = base;
        c.patch(b);
        EXPECT_EQ(fails(b), expected[c.what]);
    }
}

}  // namespace varko::testing
