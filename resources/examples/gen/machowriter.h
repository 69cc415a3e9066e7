#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"
#include "gen/signaturewriter.h"

namespace varko::examplegen {

enum class Arch { X86_64, Arm64, Arm64e, I386 };

[[nodiscard]] std::uint32_t cpuType(Arch arch);
[[nodiscard]] std::uint32_t cpuSubtype(Arch arch);

/// A small executable: header, __TEXT (with a __text section), __LINKEDIT, LC_MAIN and,
/// when signed, LC_CODE_SIGNATURE pointing at the signature at the end of the file.
struct MachOOptions {
    Arch arch = Arch::Arm64;
    std::size_t codeSize = 64;  ///< bytes of __text after the load commands
    std::optional<SignatureOptions> signature = SignatureOptions{};  ///< none: unsigned
    std::uint32_t signatureSlack = 0;  ///< zero bytes left after the SuperBlob, as codesign does
};

[[nodiscard]] std::vector<std::byte> makeMachO(const MachOOptions& options);

/// A universal file of thin files (each made by makeMachO), slices aligned as the
/// platform does: 2^14 for arm, 2^12 otherwise.
[[nodiscard]] std::vector<std::byte> makeUniversal(std::span<const std::vector<std::byte>> slices,
                                                   bool fat64 = false);

/// A thin executable of exactly `totalSize` bytes whose __text is a hole, so a large file
/// costs no disk and little time: zero pages are hashed once. Returns the code limit.
[[nodiscard]] Expected<std::uint64_t> writeSparseMachO(const std::filesystem::path& path,
                                                       std::uint64_t totalSize,
                                                       const MachOOptions& options);

/// Writes (replacing) a file; executable files get mode 0755.
[[nodiscard]] Expected<bool> writeFile(const std::filesystem::path& path,
                                       std::span<const std::byte> bytes, bool executable = false);

}  // namespace varko::examplegen
