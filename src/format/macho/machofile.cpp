#include "format/macho/machofile.h"

#include <algorithm>
#include <cstdio>

#include "format/macho/machoformat.h"

namespace varko::macho {

namespace {

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

Error malformedObject(std::uint64_t offset, const std::string& context, const std::string& what) {
    return Error{offset, "truncated or malformed object (" + context + what + ")"};
}

Error malformedFat(std::uint64_t offset, const std::string& what) {
    return Error{offset, "truncated or malformed fat file (" + what + ")"};
}

bool fits(std::uint64_t off, std::uint64_t len, std::uint64_t size) {
    return off <= size && len <= size - off;
}

/// Reads the slice's integers in its own byte order.
struct Reader {
    ByteReader bytes;
    bool bigEndian;
    std::optional<std::uint32_t> u32(std::uint64_t off) const {
        return bigEndian ? bytes.u32be(off) : bytes.u32le(off);
    }
    std::optional<std::uint64_t> u64(std::uint64_t off) const {
        return bigEndian ? bytes.u64be(off) : bytes.u64le(off);
    }
};

std::string commandName(std::uint32_t cmd) {
    switch (cmd) {
        case LC_SEGMENT:
            return "LC_SEGMENT";
        case LC_SEGMENT_64:
            return "LC_SEGMENT_64";
        case LC_CODE_SIGNATURE:
            return "LC_CODE_SIGNATURE";
        default:
            return hex(cmd);
    }
}

/// Checks one segment command and widens it; errors name the command.
Expected<Segment> parseSegment(const Reader& r, const LoadCommand& lc, const Slice& slice,
                               std::uint64_t at, const std::string& context) {
    const bool wide = lc.cmd == LC_SEGMENT_64;
    const std::uint64_t fixed = wide ? sizeof(segment_command_64) : sizeof(segment_command);
    const std::uint64_t sectionSize = wide ? sizeof(section_64) : sizeof(section);
    const std::string name = "load command " + std::to_string(lc.index) + " " + commandName(lc.cmd);
    if (lc.cmdsize < fixed)
        return malformedObject(at, context,
                               name + " cmdsize " + std::to_string(lc.cmdsize) + " is too small");
    Segment s;
    const std::uint64_t o = lc.offset;
    if (auto text = r.bytes.text(o + 8, 16))
        s.name = std::string(text->substr(0, text->find('\0')));
    if (wide) {
        s.vmaddr = *r.u64(o + 24);
        s.vmsize = *r.u64(o + 32);
        s.fileoff = *r.u64(o + 40);
        s.filesize = *r.u64(o + 48);
    } else {
        s.vmaddr = *r.u32(o + 24);
        s.vmsize = *r.u32(o + 28);
        s.fileoff = *r.u32(o + 32);
        s.filesize = *r.u32(o + 36);
    }
    const std::uint64_t tail = o + fixed - 16;
    s.maxprot = *r.u32(tail);
    s.initprot = *r.u32(tail + 4);
    s.nsects = *r.u32(tail + 8);
    s.flags = *r.u32(tail + 12);
    s.commandIndex = lc.index;
    if (static_cast<std::uint64_t>(s.nsects) * sectionSize > lc.cmdsize - fixed)
        return malformedObject(at, context,
                               name + " cmdsize " + std::to_string(lc.cmdsize) +
                                   " cannot hold its " + std::to_string(s.nsects) + " sections");
    if (!fits(s.fileoff, s.filesize, slice.size))
        return malformedObject(at, context,
                               name + " fileoff plus filesize extends past the end of the file");
    return s;
}

/// What the slices of one file may still take, all together.
struct Budget {
    std::uint64_t loadCommands = maxTotalLoadCommandsSize;
    std::uint64_t signatures = maxTotalCodeSignatureSize;
};

Expected<Slice> parseSlice(const ByteSource& source, std::uint64_t sliceOffset,
                           std::uint64_t sliceSize, const std::string& context, Budget& budget) {
    Slice slice;
    slice.fileOffset = sliceOffset;
    slice.size = sliceSize;
    if (sliceSize < 4)
        return malformedObject(sliceOffset, context, "file too small for a Mach-O header");
    auto magicBytes = source.read(sliceOffset, 4);
    if (!magicBytes) return magicBytes.error();
    const std::uint32_t magic = *ByteReader(*magicBytes).u32le(0);
    switch (magic) {
        case MH_MAGIC:
            break;
        case MH_CIGAM:
            slice.bigEndian = true;
            break;
        case MH_MAGIC_64:
            slice.is64 = true;
            break;
        case MH_CIGAM_64:
            slice.is64 = slice.bigEndian = true;
            break;
        default:
            return malformedObject(
                sliceOffset, context,
                "not a Mach-O file (magic " + hex(*ByteReader(*magicBytes).u32be(0)) + ")");
    }
    const std::uint64_t headerSize = slice.is64 ? sizeof(mach_header_64) : sizeof(mach_header);
    if (sliceSize < headerSize)
        return malformedObject(sliceOffset, context,
                               "the mach header extends past the end of the file");
    auto headerBytes = source.read(sliceOffset, headerSize);
    if (!headerBytes) return headerBytes.error();
    const Reader header{ByteReader(*headerBytes), slice.bigEndian};
    slice.cpuType = *header.u32(4);
    slice.cpuSubtype = *header.u32(8);
    slice.fileType = *header.u32(12);
    const std::uint32_t ncmds = *header.u32(16);
    const std::uint32_t sizeofcmds = *header.u32(20);
    slice.flags = *header.u32(24);

    if (sizeofcmds > maxLoadCommandsSize)
        return malformedObject(sliceOffset + 20, context,
                               "sizeofcmds " + std::to_string(sizeofcmds) + " is larger than the " +
                                   std::to_string(maxLoadCommandsSize >> 20) + " MiB limit");
    if (sizeofcmds > budget.loadCommands)
        return malformedObject(sliceOffset + 20, context,
                               "sizeofcmds " + std::to_string(sizeofcmds) +
                                   " takes the load commands of all slices past the " +
                                   std::to_string(maxTotalLoadCommandsSize >> 20) + " MiB limit");
    budget.loadCommands -= sizeofcmds;
    if (!fits(headerSize, sizeofcmds, sliceSize))
        return malformedObject(sliceOffset + 20, context,
                               "load commands extend past the end of the file");
    if (ncmds > sizeofcmds / sizeof(load_command))
        return malformedObject(sliceOffset + 16, context,
                               "ncmds " + std::to_string(ncmds) + " cannot fit in sizeofcmds " +
                                   std::to_string(sizeofcmds));
    auto commands = source.read(sliceOffset + headerSize, sizeofcmds);
    if (!commands) return commands.error();
    slice.commandBytes = std::make_shared<const std::vector<std::byte>>(std::move(*commands));
    const Reader r{ByteReader(*slice.commandBytes), slice.bigEndian};

    const std::uint32_t alignment = slice.is64 ? 8 : 4;
    std::uint64_t offset = 0;
    slice.loadCommands.reserve(ncmds);
    for (std::uint32_t i = 0; i < ncmds; ++i) {
        const std::uint64_t at = sliceOffset + headerSize + offset;
        const std::string name = "load command " + std::to_string(i);
        if (!fits(offset, sizeof(load_command), sizeofcmds))
            return malformedObject(at, context,
                                   name + " extends past the end of the load commands");
        LoadCommand lc{i, *r.u32(offset), *r.u32(offset + 4), offset};
        if (lc.cmdsize < sizeof(load_command))
            return malformedObject(
                at, context,
                name + " cmdsize " + std::to_string(lc.cmdsize) + " is less than 8 bytes");
        if (lc.cmdsize % alignment != 0)
            return malformedObject(at, context,
                                   name + " cmdsize " + std::to_string(lc.cmdsize) +
                                       " is not a multiple of " + std::to_string(alignment));
        if (!fits(offset, lc.cmdsize, sizeofcmds))
            return malformedObject(at, context,
                                   name + " extends past the end of the load commands");

        if (lc.cmd == LC_SEGMENT || lc.cmd == LC_SEGMENT_64) {
            auto segment = parseSegment(r, lc, slice, at, context);
            if (!segment) return segment.error();
            slice.segments.push_back(std::move(*segment));
        } else if (lc.cmd == LC_CODE_SIGNATURE) {
            const std::string cs = name + " LC_CODE_SIGNATURE";
            if (lc.cmdsize != sizeof(linkedit_data_command))
                return malformedObject(
                    at, context, cs + " cmdsize " + std::to_string(lc.cmdsize) + " is not 16");
            if (slice.codeSignature)
                return malformedObject(at, context, name + " is a second LC_CODE_SIGNATURE");
            CodeSignatureLocation loc{*r.u32(offset + 8), *r.u32(offset + 12), i};
            if (!fits(loc.dataoff, loc.datasize, sliceSize))
                return malformedObject(
                    at, context, cs + " dataoff plus datasize extends past the end of the file");
            if (loc.dataoff < headerSize + sizeofcmds)
                return malformedObject(at, context, cs + " data overlaps the load commands");
            if (loc.datasize > maxCodeSignatureSize)
                return malformedObject(
                    at, context,
                    cs + " datasize " + std::to_string(loc.datasize) + " is larger than the " +
                        std::to_string(maxCodeSignatureSize >> 20) + " MiB limit");
            if (loc.datasize > budget.signatures)
                return malformedObject(at, context,
                                       cs + " datasize " + std::to_string(loc.datasize) +
                                           " takes the signatures of all slices past the " +
                                           std::to_string(maxTotalCodeSignatureSize >> 20) +
                                           " MiB limit");
            budget.signatures -= loc.datasize;
            slice.codeSignature = loc;
        }
        slice.loadCommands.push_back(lc);
        offset += lc.cmdsize;
    }
    return slice;
}

Expected<MachOFile> noneOf(std::uint32_t magic) {
    return Error{0, "not a Mach-O or universal file (magic " + hex(magic) + ")"};
}

}  // namespace

std::string archName(std::uint32_t cpuType, std::uint32_t cpuSubtype) {
    const std::uint32_t sub = cpuSubtype & ~CPU_SUBTYPE_MASK;
    switch (cpuType) {
        case CPU_TYPE_X86:
            return "i386";
        case CPU_TYPE_X86_64:
            return sub == CPU_SUBTYPE_X86_64_H ? "x86_64h" : "x86_64";
        case CPU_TYPE_ARM64:
            return sub == CPU_SUBTYPE_ARM64E ? "arm64e" : "arm64";
        case CPU_TYPE_ARM64_32:
            return "arm64_32";
        case CPU_TYPE_ARM:
            switch (sub) {
                case CPU_SUBTYPE_ARM_V7:
                    return "armv7";
                case CPU_SUBTYPE_ARM_V7S:
                    return "armv7s";
                case CPU_SUBTYPE_ARM_V7K:
                    return "armv7k";
                default:
                    return "arm";
            }
        case CPU_TYPE_POWERPC:
            return "ppc";
        case CPU_TYPE_POWERPC64:
            return "ppc64";
        default:
            return "cputype " + hex(cpuType) + " cpusubtype " + hex(cpuSubtype);
    }
}

bool looksLikeMachO(std::span<const std::byte> firstBytes) {
    const ByteReader r(firstBytes);
    const auto le = r.u32le(0);
    if (!le) return false;
    if (*le == MH_MAGIC || *le == MH_CIGAM || *le == MH_MAGIC_64 || *le == MH_CIGAM_64) return true;
    const std::uint32_t be = *r.u32be(0);
    if (be == FAT_MAGIC_64) return true;
    // Java class files carry a major version of 45 or more where nfat_arch would be.
    if (be == FAT_MAGIC) return r.u32be(4).value_or(0) < 43;
    return false;
}

const Segment* Slice::segment(std::string_view name) const {
    for (const auto& s : segments)
        if (s.name == name) return &s;
    return nullptr;
}

ByteReader Slice::commandReader(const LoadCommand& command) const {
    if (!commandBytes) return {};
    const ByteReader all(*commandBytes);
    return ByteReader(
        all.slice(command.offset, command.cmdsize).value_or(std::span<const std::byte>{}));
}

Expected<MachOFile> MachOFile::create(const ByteSource& source) {
    const std::uint64_t size = source.size();
    if (size < 4)
        return Error{0, "not a Mach-O or universal file (" + std::to_string(size) + " bytes)"};
    auto head = source.read(0, std::min<std::uint64_t>(size, sizeof(fat_header)));
    if (!head) return head.error();
    const ByteReader h(*head);
    const std::uint32_t be = *h.u32be(0);
    MachOFile file;
    Budget budget;
    if (be == FAT_CIGAM || be == FAT_CIGAM_64) return noneOf(be);
    if (be != FAT_MAGIC && be != FAT_MAGIC_64) {
        const std::uint32_t le = *h.u32le(0);
        if (le != MH_MAGIC && le != MH_CIGAM && le != MH_MAGIC_64 && le != MH_CIGAM_64)
            return noneOf(be);
        auto slice = parseSlice(source, 0, size, "", budget);
        if (!slice) return slice.error();
        file.sliceList.push_back(std::move(*slice));
        return file;
    }

    file.universal = true;
    file.fat64 = be == FAT_MAGIC_64;
    if (size < sizeof(fat_header))
        return malformedFat(0, "the fat header extends past the end of the file");
    const std::uint32_t count = *h.u32be(4);
    if (count == 0) return malformedFat(4, "nfat_arch is 0");
    if (count > maxFatArchs)
        return malformedFat(4, "nfat_arch " + std::to_string(count) + " is more than " +
                                   std::to_string(maxFatArchs));
    const std::uint64_t entrySize = file.fat64 ? sizeof(fat_arch_64) : sizeof(fat_arch);
    const std::uint64_t tableEnd = sizeof(fat_header) + count * entrySize;
    if (tableEnd > size)
        return malformedFat(8, "the fat_arch table extends past the end of the file");
    auto table = source.read(sizeof(fat_header), count * entrySize);
    if (!table) return table.error();
    const ByteReader t(*table);

    struct Arch {
        std::uint32_t cputype, cpusubtype, align;
        std::uint64_t offset, size;
        std::string label;
    };
    std::vector<Arch> archs;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t e = i * entrySize;
        Arch a{*t.u32be(e), *t.u32be(e + 4), 0, 0, 0, {}};
        if (file.fat64) {
            a.offset = *t.u64be(e + 8);
            a.size = *t.u64be(e + 16);
            a.align = *t.u32be(e + 24);
        } else {
            a.offset = *t.u32be(e + 8);
            a.size = *t.u32be(e + 12);
            a.align = *t.u32be(e + 16);
        }
        a.label = "fat_arch " + std::to_string(i) + " (" + archName(a.cputype, a.cpusubtype) + ")";
        const std::uint64_t at = sizeof(fat_header) + e;
        if (!fits(a.offset, a.size, size))
            return malformedFat(at, a.label + " offset plus size extends past the end of the file");
        if (a.size == 0) return malformedFat(at, a.label + " size is 0");
        if (a.offset < tableEnd)
            return malformedFat(at, a.label + " overlaps the fat header and arch table");
        if (a.align > 15)
            return malformedFat(
                at, a.label + " align 2^" + std::to_string(a.align) + " is more than 2^15");
        if (a.offset % (std::uint64_t{1} << a.align) != 0)
            return malformedFat(at, a.label + " offset " + std::to_string(a.offset) +
                                        " is not aligned to 2^" + std::to_string(a.align));
        for (std::uint32_t j = 0; j < i; ++j) {
            const Arch& b = archs[j];
            if (a.cputype == b.cputype &&
                (a.cpusubtype & ~CPU_SUBTYPE_MASK) == (b.cpusubtype & ~CPU_SUBTYPE_MASK))
                return malformedFat(
                    at, a.label + " has the same architecture as fat_arch " + std::to_string(j));
            if (a.offset < b.offset + b.size && b.offset < a.offset + a.size)
                return malformedFat(at, a.label + " overlaps " + b.label);
        }
        archs.push_back(std::move(a));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const Arch& a = archs[i];
        const std::string context =
            "slice " + std::to_string(i) + " (" + archName(a.cputype, a.cpusubtype) + "): ";
        auto slice = parseSlice(source, a.offset, a.size, context, budget);
        if (!slice) return slice.error();
        if (slice->cpuType != a.cputype)
            return malformedObject(a.offset + 4, context,
                                   "cputype " + hex(slice->cpuType) +
                                       " in the mach header does not match the fat_arch");
        file.sliceList.push_back(std::move(*slice));
    }
    return file;
}

const Slice* MachOFile::findSlice(std::uint32_t cpuType) const {
    for (const auto& s : sliceList)
        if (s.cpuType == cpuType) return &s;
    return nullptr;
}

const Slice* MachOFile::findSlice(const Architecture& architecture) const {
    for (const auto& s : sliceList)
        if (architecture.matches(s.cpuType, s.cpuSubtype)) return &s;
    return nullptr;
}

const Slice& MachOFile::runningSlice() const {
    // Apple silicon prefers its own subtype, as the loader does; Intel Macs run x86_64.
    for (const Architecture& a : {Architecture{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
                                  Architecture{CPU_TYPE_ARM64, std::nullopt},
                                  Architecture{CPU_TYPE_X86_64, std::nullopt}})
        if (const Slice* s = findSlice(a)) return *s;
    return sliceList.front();
}

bool Architecture::matches(std::uint32_t type, std::uint32_t subtype) const {
    return type == cpuType && (!cpuSubtype || (subtype & ~CPU_SUBTYPE_MASK) == *cpuSubtype);
}

std::optional<Architecture> parseArchitecture(std::string_view text) {
    static constexpr struct {
        std::string_view name;
        std::uint32_t type, subtype;
    } names[] = {
        {"i386", CPU_TYPE_X86, CPU_SUBTYPE_I386_ALL},
        {"x86_64", CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL},
        {"x86_64h", CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H},
        {"arm64", CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64_ALL},
        {"arm64e", CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
        {"arm64_32", CPU_TYPE_ARM64_32, CPU_SUBTYPE_ARM64_32_V8},
        {"armv7", CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7},
        {"armv7s", CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7S},
        {"armv7k", CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7K},
        {"ppc", CPU_TYPE_POWERPC, 0},
        {"ppc64", CPU_TYPE_POWERPC64, 0},
    };
    for (const auto& n : names)
        if (text == n.name) return Architecture{n.type, n.subtype};
    // Numbers in decimal, as codesign's own output gives them; anything else is no number.
    const auto number = [](std::string_view digits) -> std::optional<std::uint32_t> {
        if (digits.empty() || digits.size() > 10) return std::nullopt;
        std::uint64_t v = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        return v <= 0xffffffffu ? std::optional(static_cast<std::uint32_t>(v)) : std::nullopt;
    };
    const auto comma = text.find(',');
    const auto type = number(text.substr(0, comma));
    if (!type) return std::nullopt;
    if (comma == std::string_view::npos) return Architecture{*type, std::nullopt};
    const auto subtype = number(text.substr(comma + 1));
    if (!subtype) return std::nullopt;
    return Architecture{*type, *subtype & ~CPU_SUBTYPE_MASK};
}

Expected<std::vector<std::byte>> MachOFile::readCodeSignature(const ByteSource& source,
                                                              const Slice& slice) {
    if (!slice.codeSignature) return Error{slice.fileOffset, "the slice has no LC_CODE_SIGNATURE"};
    const auto& loc = *slice.codeSignature;
    // create() checked the region against the slice; the slice lies inside the file.
    return source.read(slice.fileOffset + loc.dataoff, loc.datasize);
}

}  // namespace varko::macho
