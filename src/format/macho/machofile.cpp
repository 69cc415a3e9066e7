#include "format/macho/machofile.h"
#include "format/hex.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "format/macho/machoformat.h"

namespace varko::macho {

namespace {

Error malformedObject(std::uint64_t offset, const std::string& context, const std::string& what,
                      ErrorCode code) {
    return Error{offset, "truncated or malformed object (" + context + what + ")", code};
}

Error malformedFat(std::uint64_t offset, const std::string& what, ErrorCode code) {
    return Error{offset, "truncated or malformed fat file (" + what + ")", code};
}

bool fits(std::uint64_t off, std::uint64_t len, std::uint64_t size) {
    return off <= size && len <= size - off;
}

std::string commandName(std::uint32_t cmd) {
    switch (cmd) {
        case LC_SEGMENT:
            return "LC_SEGMENT";
        case LC_SEGMENT_64:
            return "LC_SEGMENT_64";
        case LC_SYMTAB:
            return "LC_SYMTAB";
        case LC_DYSYMTAB:
            return "LC_DYSYMTAB";
        case LC_CODE_SIGNATURE:
            return "LC_CODE_SIGNATURE";
        case LC_SEGMENT_SPLIT_INFO:
            return "LC_SEGMENT_SPLIT_INFO";
        case LC_FUNCTION_STARTS:
            return "LC_FUNCTION_STARTS";
        case LC_DATA_IN_CODE:
            return "LC_DATA_IN_CODE";
        case LC_DYLIB_CODE_SIGN_DRS:
            return "LC_DYLIB_CODE_SIGN_DRS";
        case LC_LINKER_OPTIMIZATION_HINT:
            return "LC_LINKER_OPTIMIZATION_HINT";
        case LC_DYLD_EXPORTS_TRIE:
            return "LC_DYLD_EXPORTS_TRIE";
        case LC_DYLD_CHAINED_FIXUPS:
            return "LC_DYLD_CHAINED_FIXUPS";
        default:
            return hex(cmd);
    }
}

/// The commands whose linkedit_data_command points at a range of __LINKEDIT.
bool isLinkeditData(std::uint32_t cmd) {
    switch (cmd) {
        case LC_CODE_SIGNATURE:
        case LC_SEGMENT_SPLIT_INFO:
        case LC_FUNCTION_STARTS:
        case LC_DATA_IN_CODE:
        case LC_DYLIB_CODE_SIGN_DRS:
        case LC_LINKER_OPTIMIZATION_HINT:
        case LC_DYLD_EXPORTS_TRIE:
        case LC_DYLD_CHAINED_FIXUPS:
            return true;
        default:
            return false;
    }
}

/// A range of the slice that a load command claims for itself; no two may share a byte.
struct LinkeditRange {
    std::uint64_t offset = 0;  ///< from the start of the slice
    std::uint64_t size = 0;
    std::uint32_t command = 0;  ///< index of the load command
    std::uint32_t order = 0;    ///< of the claim, so that the later of two can be named
    const char* table = "";     ///< which of the command's ranges
};

/// A command of one fixed size, such as linkedit_data_command; any other cmdsize is refused.
template <class Command>
Expected<Command> fixedCommand(const Slice& slice, const LoadCommand& lc, std::uint64_t at,
                               const std::string& context) {
    auto command = readStruct<Command>(slice.commandReader(lc).all(), 0, slice.bigEndian);
    if (!command || lc.cmdsize != sizeof(Command))
        return malformedObject(at, context,
                               "load command " + std::to_string(lc.index) + " " +
                                   commandName(lc.cmd) + " cmdsize " + std::to_string(lc.cmdsize) +
                                   " is not " + std::to_string(sizeof(Command)),
                               ErrorCode::malformed);
    return command;
}

/// Checks one segment command and widens it; errors name the command. Both widths share
/// their field names, so one body reads either.
template <class Command, class Section>
Expected<Segment> parseSegment(const Slice& slice, const LoadCommand& lc, std::uint64_t at,
                               const std::string& context) {
    const std::string name = "load command " + std::to_string(lc.index) + " " + commandName(lc.cmd);
    auto c = readStruct<Command>(slice.commandReader(lc).all(), 0, slice.bigEndian);
    if (!c)
        return malformedObject(at, context,
                               name + " cmdsize " + std::to_string(lc.cmdsize) + " is too small",
                               ErrorCode::malformed);
    Segment s{std::string(c->segname, strnlen(c->segname, sizeof c->segname)),
              c->vmaddr,
              c->vmsize,
              c->fileoff,
              c->filesize,
              c->maxprot,
              c->initprot,
              c->nsects,
              c->flags,
              lc.index};
    if (static_cast<std::uint64_t>(s.nsects) * sizeof(Section) > lc.cmdsize - sizeof(Command))
        return malformedObject(at, context,
                               name + " cmdsize " + std::to_string(lc.cmdsize) +
                                   " cannot hold its " + std::to_string(s.nsects) + " sections",
                               ErrorCode::malformed);
    if (!fits(s.fileoff, s.filesize, slice.size))
        return malformedObject(at, context,
                               name + " fileoff plus filesize extends past the end of the file",
                               ErrorCode::truncated);
    return s;
}

/// What the slices of one file may still take, all together.
struct Budget {
    std::uint64_t loadCommands = maxTotalLoadCommandsSize;
    std::uint64_t signatures = maxTotalCodeSignatureSize;
};

/// Reads the load commands of a slice whose header has been read, one after another.
class CommandWalk {
public:
    CommandWalk(Slice& slice, std::uint64_t headerSize, const std::string& context, Budget& budget)
        : slice(slice), headerSize(headerSize), context(context), budget(budget) {}

    Expected<void> run(std::uint32_t ncmds);

private:
    Expected<void> command(const LoadCommand& lc, std::uint64_t at);
    Expected<void> codeSignature(const LoadCommand& lc, const linkedit_data_command& c,
                                 std::uint64_t at);
    Expected<void> symbolTables(const LoadCommand& lc, std::uint64_t at);
    Expected<void> signatureInLinkedit() const;
    Expected<void> rangesApart();
    void claim(const LoadCommand& lc, const char* table, std::uint64_t offset, std::uint64_t count,
               std::uint64_t entrySize) {
        ranges.push_back({offset, count * entrySize, lc.index,
                          static_cast<std::uint32_t>(ranges.size()), table});
    }
    /// Where a load command that has been read starts in the file.
    std::uint64_t commandAt(std::uint32_t index) const {
        return slice.fileOffset + headerSize + slice.loadCommands[index].offset;
    }
    std::string describe(const LinkeditRange& r) const {
        return "load command " + std::to_string(r.command) + " " +
               commandName(slice.loadCommands[r.command].cmd) + " " + r.table + " at offset " +
               std::to_string(r.offset) + " with a size of " + std::to_string(r.size);
    }

    Slice& slice;
    std::uint64_t headerSize;
    const std::string& context;
    Budget& budget;
    std::vector<LinkeditRange> ranges;
};

Expected<void> CommandWalk::run(std::uint32_t ncmds) {
    const std::span<const std::byte> area(*slice.commandBytes);
    const std::uint32_t alignment = slice.is64 ? 8 : 4;
    std::uint64_t offset = 0;
    slice.loadCommands.reserve(ncmds);
    for (std::uint32_t i = 0; i < ncmds; ++i) {
        const std::uint64_t at = slice.fileOffset + headerSize + offset;
        const std::string name = "load command " + std::to_string(i);
        auto header = readStruct<load_command>(area, offset, slice.bigEndian);
        if (!header)
            return malformedObject(at, context, name + " extends past the end of the load commands",
                                   ErrorCode::malformed);
        const LoadCommand lc{i, header->cmd, header->cmdsize, offset};
        if (lc.cmdsize < sizeof(load_command))
            return malformedObject(
                at, context,
                name + " cmdsize " + std::to_string(lc.cmdsize) + " is less than 8 bytes",
                ErrorCode::malformed);
        if (lc.cmdsize % alignment != 0)
            return malformedObject(at, context,
                                   name + " cmdsize " + std::to_string(lc.cmdsize) +
                                       " is not a multiple of " + std::to_string(alignment),
                                   ErrorCode::malformed);
        if (!fits(offset, lc.cmdsize, area.size()))
            return malformedObject(at, context, name + " extends past the end of the load commands",
                                   ErrorCode::malformed);
        if (auto checked = command(lc, at); !checked) return checked;
        slice.loadCommands.push_back(lc);
        offset += lc.cmdsize;
    }
    if (auto inside = signatureInLinkedit(); !inside) return inside;
    return rangesApart();
}

Expected<void> CommandWalk::command(const LoadCommand& lc, std::uint64_t at) {
    if (lc.cmd == LC_SEGMENT || lc.cmd == LC_SEGMENT_64) {
        auto segment = lc.cmd == LC_SEGMENT_64
                           ? parseSegment<segment_command_64, section_64>(slice, lc, at, context)
                           : parseSegment<segment_command, section>(slice, lc, at, context);
        if (!segment) return segment.error();
        slice.segments.push_back(std::move(*segment));
    } else if (isLinkeditData(lc.cmd)) {
        auto c = fixedCommand<linkedit_data_command>(slice, lc, at, context);
        if (!c) return c.error();
        if (lc.cmd == LC_CODE_SIGNATURE)
            if (auto checked = codeSignature(lc, *c, at); !checked) return checked;
        claim(lc, "data", c->dataoff, c->datasize, 1);
    } else if (lc.cmd == LC_SYMTAB || lc.cmd == LC_DYSYMTAB) {
        return symbolTables(lc, at);
    }
    return {};
}

Expected<void> CommandWalk::codeSignature(const LoadCommand& lc, const linkedit_data_command& c,
                                          std::uint64_t at) {
    const std::string name = "load command " + std::to_string(lc.index);
    const std::string cs = name + " LC_CODE_SIGNATURE";
    if (slice.codeSignature)
        return malformedObject(at, context, name + " is a second LC_CODE_SIGNATURE",
                               ErrorCode::malformed);
    const CodeSignatureLocation loc{c.dataoff, c.datasize, lc.index};
    if (!fits(loc.dataoff, loc.datasize, slice.size))
        return malformedObject(at, context,
                               cs + " dataoff plus datasize extends past the end of the file",
                               ErrorCode::truncated);
    if (loc.dataoff < headerSize + slice.commandBytes->size())
        return malformedObject(at, context, cs + " data overlaps the load commands",
                               ErrorCode::malformed);
    if (loc.datasize > maxCodeSignatureSize)
        return malformedObject(at, context,
                               cs + " datasize " + std::to_string(loc.datasize) +
                                   " is larger than the " +
                                   std::to_string(maxCodeSignatureSize >> 20) + " MiB limit",
                               ErrorCode::tooLarge);
    if (loc.datasize > budget.signatures)
        return malformedObject(at, context,
                               cs + " datasize " + std::to_string(loc.datasize) +
                                   " takes the signatures of all slices past the " +
                                   std::to_string(maxTotalCodeSignatureSize >> 20) + " MiB limit",
                               ErrorCode::tooLarge);
    budget.signatures -= loc.datasize;
    slice.codeSignature = loc;
    return {};
}

/// Only the extent of each table is read: enough to see that none overlaps another.
Expected<void> CommandWalk::symbolTables(const LoadCommand& lc, std::uint64_t at) {
    if (lc.cmd == LC_SYMTAB) {
        auto c = fixedCommand<symtab_command>(slice, lc, at, context);
        if (!c) return c.error();
        claim(lc, "symbol table", c->symoff, c->nsyms, slice.is64 ? nlist64Size : nlistSize);
        claim(lc, "string table", c->stroff, c->strsize, 1);
        return {};
    }
    auto c = fixedCommand<dysymtab_command>(slice, lc, at, context);
    if (!c) return c.error();
    claim(lc, "table of contents", c->tocoff, c->ntoc, tocEntrySize);
    claim(lc, "module table", c->modtaboff, c->nmodtab, slice.is64 ? module64Size : moduleSize);
    claim(lc, "reference table", c->extrefsymoff, c->nextrefsyms, referenceSize);
    claim(lc, "indirect symbol table", c->indirectsymoff, c->nindirectsyms, indirectSymbolSize);
    claim(lc, "external relocation table", c->extreloff, c->nextrel, relocationSize);
    claim(lc, "local relocation table", c->locreloff, c->nlocrel, relocationSize);
    return {};
}

/// The linker and codesign put the signature last in __LINKEDIT, after all that it seals;
/// anywhere else it would sit among the code and data that the loader maps.
Expected<void> CommandWalk::signatureInLinkedit() const {
    if (!slice.codeSignature) return {};
    const CodeSignatureLocation& loc = *slice.codeSignature;
    const std::uint64_t at = commandAt(loc.commandIndex);
    const std::string cs =
        "load command " + std::to_string(loc.commandIndex) + " LC_CODE_SIGNATURE";
    const Segment* linkedit = slice.segment("__LINKEDIT");
    if (!linkedit)
        return malformedObject(at, context, cs + " has no __LINKEDIT segment to lie in",
                               ErrorCode::malformed);
    // Both ranges were checked to lie inside the slice, so neither end overflows.
    if (loc.dataoff < linkedit->fileoff ||
        loc.dataoff + loc.datasize > linkedit->fileoff + linkedit->filesize)
        return malformedObject(at, context, cs + " data lies outside the __LINKEDIT segment",
                               ErrorCode::malformed);
    return {};
}

/// As LLVM's checkOverlappingElement, but sorted rather than pairwise, since a hostile file
/// can hold half a million commands.
Expected<void> CommandWalk::rangesApart() {
    // Empty ranges share no byte, whatever offset they give.
    std::erase_if(ranges, [](const LinkeditRange& r) { return r.size == 0; });
    std::sort(ranges.begin(), ranges.end(), [](const LinkeditRange& a, const LinkeditRange& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.order < b.order;
    });
    // Offsets and sizes come from 32-bit fields times small entry sizes: no sum overflows.
    const auto end = [](const LinkeditRange& r) { return r.offset + r.size; };
    const LinkeditRange* reach = nullptr;  // of those before, the one that ends last
    for (const LinkeditRange& r : ranges) {
        if (reach && r.offset < end(*reach)) {
            const auto& [later, earlier] =
                r.order > reach->order ? std::pair(&r, reach) : std::pair(reach, &r);
            return malformedObject(commandAt(later->command), context,
                                   describe(*later) + ", overlaps " + describe(*earlier),
                                   ErrorCode::malformed);
        }
        if (!reach || end(r) > end(*reach)) reach = &r;
    }
    return {};
}

Expected<Slice> parseSlice(const ByteSource& source, std::uint64_t sliceOffset,
                           std::uint64_t sliceSize, const std::string& context, Budget& budget) {
    Slice slice;
    slice.fileOffset = sliceOffset;
    slice.size = sliceSize;
    if (sliceSize < 4)
        return malformedObject(sliceOffset, context, "file too small for a Mach-O header",
                               ErrorCode::truncated);
    auto magicBytes = source.read(sliceOffset, 4);
    if (!magicBytes) return magicBytes.error();
    const auto magic = readStruct<std::uint32_t>(*magicBytes, 0, false);
    if (!magic)
        return malformedObject(sliceOffset, context, "file too small for a Mach-O header",
                               ErrorCode::truncated);
    switch (*magic) {
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
            // Shown as it reads in a hex dump, whatever the host.
            return malformedObject(
                sliceOffset, context,
                "not a Mach-O file (magic " + hex(__builtin_bswap32(*magic)) + ")",
                ErrorCode::unsupported);
    }
    const std::uint64_t headerSize = slice.is64 ? sizeof(mach_header_64) : sizeof(mach_header);
    const auto cut = [&] {
        return malformedObject(sliceOffset, context,
                               "the mach header extends past the end of the file",
                               ErrorCode::truncated);
    };
    if (sliceSize < headerSize) return cut();
    auto headerBytes = source.read(sliceOffset, headerSize);
    if (!headerBytes) return headerBytes.error();
    // mach_header_64 only adds a reserved word, so the narrow layout reads both.
    const auto header = readStruct<mach_header>(*headerBytes, 0, slice.bigEndian);
    if (!header) return cut();
    slice.cpuType = header->cputype;
    slice.cpuSubtype = header->cpusubtype;
    slice.fileType = header->filetype;
    slice.flags = header->flags;
    const std::uint32_t ncmds = header->ncmds;
    const std::uint32_t sizeofcmds = header->sizeofcmds;

    if (sizeofcmds > maxLoadCommandsSize)
        return malformedObject(sliceOffset + offsetof(mach_header, sizeofcmds), context,
                               "sizeofcmds " + std::to_string(sizeofcmds) + " is larger than the " +
                                   std::to_string(maxLoadCommandsSize >> 20) + " MiB limit",
                               ErrorCode::tooLarge);
    if (sizeofcmds > budget.loadCommands)
        return malformedObject(sliceOffset + offsetof(mach_header, sizeofcmds), context,
                               "sizeofcmds " + std::to_string(sizeofcmds) +
                                   " takes the load commands of all slices past the " +
                                   std::to_string(maxTotalLoadCommandsSize >> 20) + " MiB limit",
                               ErrorCode::tooLarge);
    budget.loadCommands -= sizeofcmds;
    if (!fits(headerSize, sizeofcmds, sliceSize))
        return malformedObject(sliceOffset + offsetof(mach_header, sizeofcmds), context,
                               "load commands extend past the end of the file",
                               ErrorCode::truncated);
    if (ncmds > sizeofcmds / sizeof(load_command))
        return malformedObject(sliceOffset + offsetof(mach_header, ncmds), context,
                               "ncmds " + std::to_string(ncmds) + " cannot fit in sizeofcmds " +
                                   std::to_string(sizeofcmds),
                               ErrorCode::malformed);
    auto commands = source.read(sliceOffset + headerSize, sizeofcmds);
    if (!commands) return commands.error();
    slice.commandBytes = std::make_shared<const std::vector<std::byte>>(std::move(*commands));
    if (auto walked = CommandWalk(slice, headerSize, context, budget).run(ncmds); !walked)
        return walked.error();
    return slice;
}

Expected<MachOFile> noneOf(std::uint32_t magic) {
    return Error{0, "not a Mach-O or universal file (magic " + hex(magic) + ")",
                 ErrorCode::unsupported};
}

/// One fat_arch or fat_arch_64, widened; `label` names it in errors.
struct Arch {
    std::uint32_t cputype = 0, cpusubtype = 0, align = 0;
    std::uint64_t offset = 0, size = 0;
    std::string label;
};

template <class Entry>
Expected<Arch> readArch(std::span<const std::byte> table, std::uint32_t index) {
    // Fat headers are big-endian on every host.
    auto e = readStruct<Entry>(table, std::uint64_t{index} * sizeof(Entry), true);
    if (!e)
        return malformedFat(sizeof(fat_header),
                            "the fat_arch table extends past the end of the file",
                            ErrorCode::truncated);
    return Arch{
        e->cputype,
        e->cpusubtype,
        e->align,
        e->offset,
        e->size,
        "fat_arch " + std::to_string(index) + " (" + archName(e->cputype, e->cpusubtype) + ")"};
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
    const auto le = readStruct<std::uint32_t>(firstBytes, 0, false);
    const auto be = readStruct<std::uint32_t>(firstBytes, 0, true);
    if (!le || !be) return false;
    if (*le == MH_MAGIC || *le == MH_CIGAM || *le == MH_MAGIC_64 || *le == MH_CIGAM_64) return true;
    if (*be == FAT_MAGIC_64) return true;
    if (*be != FAT_MAGIC) return false;
    // Java class files carry a major version of 45 or more where nfat_arch would be.
    const auto fat = readStruct<fat_header>(firstBytes, 0, true);
    return !fat || fat->nfat_arch < 43;
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
        return Error{0, "not a Mach-O or universal file (" + std::to_string(size) + " bytes)",
                     ErrorCode::unsupported};
    auto head = source.read(0, std::min<std::uint64_t>(size, sizeof(fat_header)));
    if (!head) return head.error();
    const auto be = readStruct<std::uint32_t>(*head, 0, true);
    const auto le = readStruct<std::uint32_t>(*head, 0, false);
    if (!be || !le)
        return Error{0, "not a Mach-O or universal file (" + std::to_string(size) + " bytes)",
                     ErrorCode::unsupported};
    MachOFile file;
    Budget budget;
    if (*be == FAT_CIGAM || *be == FAT_CIGAM_64) return noneOf(*be);
    if (*be != FAT_MAGIC && *be != FAT_MAGIC_64) {
        if (*le != MH_MAGIC && *le != MH_CIGAM && *le != MH_MAGIC_64 && *le != MH_CIGAM_64)
            return noneOf(*be);
        auto slice = parseSlice(source, 0, size, "", budget);
        if (!slice) return slice.error();
        file.sliceList.push_back(std::move(*slice));
        return file;
    }

    file.universal = true;
    file.fat64 = *be == FAT_MAGIC_64;
    const auto header = readStruct<fat_header>(*head, 0, true);
    if (!header)
        return malformedFat(0, "the fat header extends past the end of the file",
                            ErrorCode::truncated);
    const std::uint32_t count = header->nfat_arch;
    if (count == 0)
        return malformedFat(offsetof(fat_header, nfat_arch), "nfat_arch is 0",
                            ErrorCode::malformed);
    if (count > maxFatArchs)
        return malformedFat(
            offsetof(fat_header, nfat_arch),
            "nfat_arch " + std::to_string(count) + " is more than " + std::to_string(maxFatArchs),
            ErrorCode::tooLarge);
    const std::uint64_t entrySize = file.fat64 ? sizeof(fat_arch_64) : sizeof(fat_arch);
    const std::uint64_t tableEnd = sizeof(fat_header) + count * entrySize;
    if (tableEnd > size)
        return malformedFat(sizeof(fat_header),
                            "the fat_arch table extends past the end of the file",
                            ErrorCode::truncated);
    auto table = source.read(sizeof(fat_header), count * entrySize);
    if (!table) return table.error();

    std::vector<Arch> archs;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto read = file.fat64 ? readArch<fat_arch_64>(*table, i) : readArch<fat_arch>(*table, i);
        if (!read) return read.error();
        const Arch& a = *read;
        const std::uint64_t at = sizeof(fat_header) + i * entrySize;
        if (!fits(a.offset, a.size, size))
            return malformedFat(at, a.label + " offset plus size extends past the end of the file",
                                ErrorCode::truncated);
        if (a.size == 0) return malformedFat(at, a.label + " size is 0", ErrorCode::malformed);
        if (a.offset < tableEnd)
            return malformedFat(at, a.label + " overlaps the fat header and arch table",
                                ErrorCode::malformed);
        if (a.align > 15)
            return malformedFat(
                at, a.label + " align 2^" + std::to_string(a.align) + " is more than 2^15",
                ErrorCode::malformed);
        if (a.offset % (std::uint64_t{1} << a.align) != 0)
            return malformedFat(at,
                                a.label + " offset " + std::to_string(a.offset) +
                                    " is not aligned to 2^" + std::to_string(a.align),
                                ErrorCode::malformed);
        for (std::uint32_t j = 0; j < i; ++j) {
            const Arch& b = archs[j];
            if (a.cputype == b.cputype &&
                (a.cpusubtype & ~CPU_SUBTYPE_MASK) == (b.cpusubtype & ~CPU_SUBTYPE_MASK))
                return malformedFat(
                    at, a.label + " has the same architecture as fat_arch " + std::to_string(j),
                    ErrorCode::malformed);
            if (a.offset < b.offset + b.size && b.offset < a.offset + a.size)
                return malformedFat(at, a.label + " overlaps " + b.label, ErrorCode::malformed);
        }
        archs.push_back(std::move(*read));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const Arch& a = archs[i];
        const std::string context =
            "slice " + std::to_string(i) + " (" + archName(a.cputype, a.cpusubtype) + "): ";
        auto slice = parseSlice(source, a.offset, a.size, context, budget);
        if (!slice) return slice.error();
        if (slice->cpuType != a.cputype)
            return malformedObject(a.offset + offsetof(mach_header, cputype), context,
                                   "cputype " + hex(slice->cpuType) +
                                       " in the mach header does not match the fat_arch",
                                   ErrorCode::malformed);
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
    for (const Architecture& a :
         {Architecture{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
          Architecture{CPU_TYPE_ARM64, std::nullopt}, Architecture{CPU_TYPE_X86_64, std::nullopt}})
        if (const Slice* s = findSlice(a)) return *s;
    return sliceList.front();
}

bool Architecture::matches(std::uint32_t type, std::uint32_t subtype) const {
    return type == cpuType && (!cpuSubtype || (subtype & ~CPU_SUBTYPE_MASK) == *cpuSubtype);
}

Expected<Architecture> parseArchitecture(std::string_view text) {
    const Error unknown{0, "unknown architecture \"" + std::string(text) + "\"",
                        ErrorCode::unsupported};
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
    if (!type) return unknown;
    if (comma == std::string_view::npos) return Architecture{*type, std::nullopt};
    const auto subtype = number(text.substr(comma + 1));
    if (!subtype) return unknown;
    return Architecture{*type, *subtype & ~CPU_SUBTYPE_MASK};
}

Expected<std::vector<std::byte>> MachOFile::readCodeSignature(const ByteSource& source,
                                                              const Slice& slice) {
    if (!slice.codeSignature)
        return Error{slice.fileOffset, "the slice has no LC_CODE_SIGNATURE", ErrorCode::missing};
    const auto& loc = *slice.codeSignature;
    // create() checked the region against the slice; the slice lies inside the file.
    return source.read(slice.fileOffset + loc.dataoff, loc.datasize);
}

}  // namespace varko::macho
