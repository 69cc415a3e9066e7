#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "format/codesig/superblob.h"
#include "format/macho/machofile.h"

namespace varko::codesign {

/// The CPU type of the machine we run on, whose slice codesign shows by default.
[[nodiscard]] std::uint32_t hostCpuType();

/// One slice of a main executable and its signature, if it has one.
struct CodeObject {
    std::filesystem::path executable;
    macho::Slice slice;
    std::optional<codesig::SuperBlob> signature;  ///< empty: not signed at all
    bool universal = false;
    std::vector<std::string> architectures;  ///< of every slice, in file order
};

struct LoadError {
    enum class Kind { NotMachO, MalformedExecutable, MalformedSignature, Unreadable, NoSuchArchitecture } kind;
    std::string message;
};

/// Reads the headers of `executable`, picks the slice of `cpuType` (else the first, unless
/// `exactCpuType`), and reads and checks its SuperBlob. Blobs inside are left for their
/// accessors. With `onlySlots`, the signature holds only the blobs of those slots (at new
/// offsets).
[[nodiscard]] std::variant<CodeObject, LoadError> loadCodeObject(
    const std::filesystem::path& executable, std::uint32_t cpuType,
    std::span<const std::uint32_t> onlySlots = {}, bool exactCpuType = false);

}  // namespace varko::codesign
