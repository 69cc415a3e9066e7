#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/bytereader.h"
#include "format/expected.h"
#include "format/macho/bytesource.h"

namespace varko::macho {

/// Bounds on what a file can make us hold, each well above what real files need. Universal
/// files carry at most seven or so architectures. Load commands of even the largest apps,
/// hundreds of linked libraries and segments, take a few hundred KiB. A signature holds a
/// hash or two per 4 KiB page: about 30 MiB for a 2 GiB slice.
inline constexpr std::uint32_t maxFatArchs = 16;
inline constexpr std::uint64_t maxLoadCommandsSize = 4u << 20;
inline constexpr std::uint64_t maxTotalLoadCommandsSize = 8u << 20;  ///< of every slice together
inline constexpr std::uint64_t maxCodeSignatureSize = 64u << 20;
inline constexpr std::uint64_t maxTotalCodeSignatureSize = 128u << 20;  ///< of every slice together

/// The platform's name of an architecture (x86_64, arm64e, i386, …), or a numeric form.
[[nodiscard]] std::string archName(std::uint32_t cpuType, std::uint32_t cpuSubtype);

/// An architecture as codesign's -a names it: by name (i386, x86_64, x86_64h, arm64, arm64e,
/// armv7, …) or by number, a CPU type optionally followed by a comma and a subtype. A name
/// fixes the subtype; a bare number matches any subtype of its CPU type.
struct Architecture {
    std::uint32_t cpuType = 0;
    std::optional<std::uint32_t> cpuSubtype;  ///< without the capability bits

    [[nodiscard]] bool matches(std::uint32_t type, std::uint32_t subtype) const;
};

/// Nullopt for a name or number that names no architecture.
[[nodiscard]] Expected<Architecture> parseArchitecture(std::string_view text);

/// Whether the first bytes of a file are a Mach-O or universal magic. A Java class file
/// shares the universal magic; its version number tells it apart, as the linker does.
[[nodiscard]] bool looksLikeMachO(std::span<const std::byte> firstBytes);

/// One load command; its bytes are bounded by the load-command area.
struct LoadCommand {
    std::uint32_t index = 0;
    std::uint32_t cmd = 0;
    std::uint32_t cmdsize = 0;
    std::uint64_t offset = 0;  ///< from the start of the load commands
};

/// LC_SEGMENT or LC_SEGMENT_64, widened; file range checked against the slice.
struct Segment {
    std::string name;
    std::uint64_t vmaddr = 0;
    std::uint64_t vmsize = 0;
    std::uint64_t fileoff = 0;  ///< from the start of the slice
    std::uint64_t filesize = 0;
    std::uint32_t maxprot = 0;
    std::uint32_t initprot = 0;
    std::uint32_t nsects = 0;
    std::uint32_t flags = 0;
    std::uint32_t commandIndex = 0;
};

/// Where LC_CODE_SIGNATURE puts the signature; checked to lie inside the slice.
struct CodeSignatureLocation {
    std::uint64_t dataoff = 0;  ///< from the start of the slice
    std::uint64_t datasize = 0;
    std::uint32_t commandIndex = 0;
};

/// One architecture's Mach-O image: the whole file when thin, a fat_arch's range otherwise.
struct Slice {
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;  ///< with its capability bits
    std::uint32_t fileType = 0;
    std::uint32_t flags = 0;
    bool is64 = false;
    bool bigEndian = false;        ///< header had a byte-swapped magic
    std::uint64_t fileOffset = 0;  ///< of the slice within the file
    std::uint64_t size = 0;
    std::vector<LoadCommand> loadCommands;
    std::vector<Segment> segments;
    std::optional<CodeSignatureLocation> codeSignature;
    /// The load-command area, sizeofcmds long; shared by copies of the slice.
    std::shared_ptr<const std::vector<std::byte>> commandBytes;

    [[nodiscard]] std::string archName() const { return macho::archName(cpuType, cpuSubtype); }
    [[nodiscard]] const Segment* segment(std::string_view name) const;
    /// A load command's own bytes (cmdsize long), read in the slice's byte order.
    [[nodiscard]] ByteReader commandReader(const LoadCommand& command) const;
};

/// A thin or universal Mach-O file. create() reads only the headers, checks every size
/// and offset in them once, and keeps the load commands; signatures are read on demand.
class MachOFile final {
public:
    [[nodiscard]] static Expected<MachOFile> create(const ByteSource& source);

    [[nodiscard]] bool isUniversal() const { return universal; }
    [[nodiscard]] bool isFat64() const { return fat64; }
    [[nodiscard]] const std::vector<Slice>& slices() const { return sliceList; }

    /// The first slice of this CPU type (any subtype), or null.
    [[nodiscard]] const Slice* findSlice(std::uint32_t cpuType) const;
    /// The first slice that `architecture` matches, or null.
    [[nodiscard]] const Slice* findSlice(const Architecture& architecture) const;
    /// The slice a current Mac runs: arm64e, else arm64, else x86_64, else the first.
    [[nodiscard]] const Slice& runningSlice() const;

    /// The signature region of a slice of this file, from the same source.
    [[nodiscard]] static Expected<std::vector<std::byte>> readCodeSignature(
        const ByteSource& source, const Slice& slice);

private:
    bool universal = false;
    bool fat64 = false;
    std::vector<Slice> sliceList;
};

}  // namespace varko::macho
