// Mach-O headers, then every slice's signature through every blob accessor.
#include <cstddef>
#include <cstdint>
#include <span>

#include "format/codesig/superblob.h"
#include "format/macho/machofile.h"

namespace {

void touch(const varko::codesig::CodeDirectory& cd) {
    volatile std::uint64_t sink = cd.effectiveCodeLimit() + cd.pageBytes() + cd.identifier.size();
    for (std::uint32_t i = 0; i < cd.nCodeSlots && i < 64; ++i)
        if (auto h = cd.codeSlotHash(i)) sink = sink + static_cast<std::uint8_t>((*h)[0]);
    for (std::uint32_t i = 0; i <= cd.nSpecialSlots && i < 16; ++i)
        if (auto h = cd.specialSlotHash(i)) sink = sink + static_cast<std::uint8_t>((*h)[0]);
}

void signature(std::span<const std::byte> bytes) {
    auto sb = varko::codesig::SuperBlob::create(bytes);
    if (!sb) return;
    for (const auto& e : sb->entries()) (void)sb->blob(e).size();
    if (auto cd = sb->codeDirectory(); cd && *cd) touch(**cd);
    for (const auto& alt : sb->alternateCodeDirectories())
        if (alt) touch(*alt);
    (void)sb->entitlements();
    (void)sb->derEntitlements();
    if (auto req = sb->requirements(); req && *req)
        for (const auto& r : (*req)->entries) (void)r.blob.size();
    (void)sb->cmsSignature();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    const varko::macho::MemorySource source(bytes);
    (void)varko::macho::looksLikeMachO(bytes);
    auto file = varko::macho::MachOFile::create(source);
    // The same bytes also go straight to the signature reader, so its paths get
    // exercised without having to find a valid Mach-O first.
    signature(bytes);
    if (!file) return 0;
    for (const auto& slice : file->slices()) {
        (void)slice.archName();
        for (const auto& lc : slice.loadCommands) (void)slice.commandReader(lc).size();
        if (!slice.codeSignature) continue;
        auto sig = varko::macho::MachOFile::readCodeSignature(source, slice);
        if (sig) signature(*sig);
    }
    return 0;
}
