#pragma once

// On-disk layouts and constants of Mach-O and fat files, with the platform's own
// spellings (mach-o/loader.h, mach-o/fat.h, mach/machine.h), and the one way to read them:
// readStruct, a bounds-checked copy put into the host's byte order. Logic lives elsewhere.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

#include "format/expected.h"

namespace varko::macho {

inline constexpr std::uint32_t MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;
inline constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
inline constexpr std::uint32_t FAT_CIGAM = 0xbebafeca;
inline constexpr std::uint32_t FAT_MAGIC_64 = 0xcafebabf;
inline constexpr std::uint32_t FAT_CIGAM_64 = 0xbfbafeca;

inline constexpr std::uint32_t MH_OBJECT = 0x1;
inline constexpr std::uint32_t MH_EXECUTE = 0x2;
inline constexpr std::uint32_t MH_DYLIB = 0x6;
inline constexpr std::uint32_t MH_BUNDLE = 0x8;

inline constexpr std::uint32_t MH_NOUNDEFS = 0x1;
inline constexpr std::uint32_t MH_DYLDLINK = 0x4;
inline constexpr std::uint32_t MH_TWOLEVEL = 0x80;
inline constexpr std::uint32_t MH_PIE = 0x200000;

inline constexpr std::uint32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr std::uint32_t CPU_ARCH_ABI64_32 = 0x02000000;
inline constexpr std::uint32_t CPU_TYPE_X86 = 7;
inline constexpr std::uint32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr std::uint32_t CPU_TYPE_ARM = 12;
inline constexpr std::uint32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr std::uint32_t CPU_TYPE_ARM64_32 = CPU_TYPE_ARM | CPU_ARCH_ABI64_32;
inline constexpr std::uint32_t CPU_TYPE_POWERPC = 18;
inline constexpr std::uint32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;

inline constexpr std::uint32_t CPU_SUBTYPE_MASK = 0xff000000;  ///< capability bits, not the model
inline constexpr std::uint32_t CPU_SUBTYPE_LIB64 = 0x80000000;
inline constexpr std::uint32_t CPU_SUBTYPE_I386_ALL = 3;
inline constexpr std::uint32_t CPU_SUBTYPE_X86_64_ALL = 3;
inline constexpr std::uint32_t CPU_SUBTYPE_X86_64_H = 8;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64_ALL = 0;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64_V8 = 1;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64E = 2;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64_32_V8 = 1;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM_V7 = 9;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM_V7S = 11;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM_V7K = 12;

inline constexpr std::uint32_t LC_REQ_DYLD = 0x80000000;
inline constexpr std::uint32_t LC_SEGMENT = 0x1;
inline constexpr std::uint32_t LC_SYMTAB = 0x2;
inline constexpr std::uint32_t LC_UNIXTHREAD = 0x5;
inline constexpr std::uint32_t LC_DYSYMTAB = 0xb;
inline constexpr std::uint32_t LC_LOAD_DYLIB = 0xc;
inline constexpr std::uint32_t LC_ID_DYLIB = 0xd;
inline constexpr std::uint32_t LC_LOAD_DYLINKER = 0xe;
inline constexpr std::uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr std::uint32_t LC_UUID = 0x1b;
inline constexpr std::uint32_t LC_CODE_SIGNATURE = 0x1d;
inline constexpr std::uint32_t LC_SEGMENT_SPLIT_INFO = 0x1e;
inline constexpr std::uint32_t LC_FUNCTION_STARTS = 0x26;
inline constexpr std::uint32_t LC_DATA_IN_CODE = 0x29;
inline constexpr std::uint32_t LC_DYLIB_CODE_SIGN_DRS = 0x2b;
inline constexpr std::uint32_t LC_LINKER_OPTIMIZATION_HINT = 0x2e;
inline constexpr std::uint32_t LC_ENCRYPTION_INFO = 0x21;
inline constexpr std::uint32_t LC_ENCRYPTION_INFO_64 = 0x2c;
inline constexpr std::uint32_t LC_MAIN = 0x28 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_BUILD_VERSION = 0x32;
inline constexpr std::uint32_t LC_DYLD_EXPORTS_TRIE = 0x33 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_DYLD_CHAINED_FIXUPS = 0x34 | LC_REQ_DYLD;

inline constexpr std::uint32_t VM_PROT_READ = 0x1;
inline constexpr std::uint32_t VM_PROT_WRITE = 0x2;
inline constexpr std::uint32_t VM_PROT_EXECUTE = 0x4;

inline constexpr std::uint32_t S_ATTR_PURE_INSTRUCTIONS = 0x80000000;
inline constexpr std::uint32_t S_ATTR_SOME_INSTRUCTIONS = 0x00000400;

struct fat_header {
    std::uint32_t magic;
    std::uint32_t nfat_arch;
};
static_assert(sizeof(fat_header) == 8);

struct fat_arch {
    std::uint32_t cputype;
    std::uint32_t cpusubtype;
    std::uint32_t offset;
    std::uint32_t size;
    std::uint32_t align;  ///< log2 of the slice's alignment
};
static_assert(sizeof(fat_arch) == 20);

struct fat_arch_64 {
    std::uint32_t cputype;
    std::uint32_t cpusubtype;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t align;
    std::uint32_t reserved;
};
static_assert(sizeof(fat_arch_64) == 32);

struct mach_header {
    std::uint32_t magic;
    std::uint32_t cputype;
    std::uint32_t cpusubtype;
    std::uint32_t filetype;
    std::uint32_t ncmds;
    std::uint32_t sizeofcmds;
    std::uint32_t flags;
};
static_assert(sizeof(mach_header) == 28);

struct mach_header_64 {
    std::uint32_t magic;
    std::uint32_t cputype;
    std::uint32_t cpusubtype;
    std::uint32_t filetype;
    std::uint32_t ncmds;
    std::uint32_t sizeofcmds;
    std::uint32_t flags;
    std::uint32_t reserved;
};
static_assert(sizeof(mach_header_64) == 32);

struct load_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
};
static_assert(sizeof(load_command) == 8);

struct segment_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    char segname[16];
    std::uint32_t vmaddr;
    std::uint32_t vmsize;
    std::uint32_t fileoff;
    std::uint32_t filesize;
    std::uint32_t maxprot;
    std::uint32_t initprot;
    std::uint32_t nsects;
    std::uint32_t flags;
};
static_assert(sizeof(segment_command) == 56);

struct segment_command_64 {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    char segname[16];
    std::uint64_t vmaddr;
    std::uint64_t vmsize;
    std::uint64_t fileoff;
    std::uint64_t filesize;
    std::uint32_t maxprot;
    std::uint32_t initprot;
    std::uint32_t nsects;
    std::uint32_t flags;
};
static_assert(sizeof(segment_command_64) == 72);

struct section {
    char sectname[16];
    char segname[16];
    std::uint32_t addr;
    std::uint32_t size;
    std::uint32_t offset;
    std::uint32_t align;
    std::uint32_t reloff;
    std::uint32_t nreloc;
    std::uint32_t flags;
    std::uint32_t reserved1;
    std::uint32_t reserved2;
};
static_assert(sizeof(section) == 68);

struct section_64 {
    char sectname[16];
    char segname[16];
    std::uint64_t addr;
    std::uint64_t size;
    std::uint32_t offset;
    std::uint32_t align;
    std::uint32_t reloff;
    std::uint32_t nreloc;
    std::uint32_t flags;
    std::uint32_t reserved1;
    std::uint32_t reserved2;
    std::uint32_t reserved3;
};
static_assert(sizeof(section_64) == 80);

/// LC_CODE_SIGNATURE and the other commands that point into __LINKEDIT.
struct linkedit_data_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t dataoff;
    std::uint32_t datasize;
};
static_assert(sizeof(linkedit_data_command) == 16);

struct entry_point_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint64_t entryoff;
    std::uint64_t stacksize;
};
static_assert(sizeof(entry_point_command) == 24);

struct symtab_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t symoff;
    std::uint32_t nsyms;  ///< of nlist or nlist_64, by the header's width
    std::uint32_t stroff;
    std::uint32_t strsize;
};
static_assert(sizeof(symtab_command) == 24);

struct dysymtab_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t ilocalsym;
    std::uint32_t nlocalsym;
    std::uint32_t iextdefsym;
    std::uint32_t nextdefsym;
    std::uint32_t iundefsym;
    std::uint32_t nundefsym;
    std::uint32_t tocoff;
    std::uint32_t ntoc;
    std::uint32_t modtaboff;
    std::uint32_t nmodtab;
    std::uint32_t extrefsymoff;
    std::uint32_t nextrefsyms;
    std::uint32_t indirectsymoff;
    std::uint32_t nindirectsyms;
    std::uint32_t extreloff;
    std::uint32_t nextrel;
    std::uint32_t locreloff;
    std::uint32_t nlocrel;
};
static_assert(sizeof(dysymtab_command) == 80);

/// Entry sizes of the tables that LC_SYMTAB and LC_DYSYMTAB count (nlist, nlist_64,
/// dylib_table_of_contents, dylib_module(_64), dylib_reference, relocation_info). Only
/// their extent is checked, so their layouts are not spelled out.
inline constexpr std::uint64_t nlistSize = 12;
inline constexpr std::uint64_t nlist64Size = 16;
inline constexpr std::uint64_t tocEntrySize = 8;
inline constexpr std::uint64_t moduleSize = 52;
inline constexpr std::uint64_t module64Size = 56;
inline constexpr std::uint64_t referenceSize = 4;
inline constexpr std::uint64_t indirectSymbolSize = 4;
inline constexpr std::uint64_t relocationSize = 8;

// A structure in the other byte order has each field turned around after the copy, as
// LLVM's MachO::swapStruct does; names are bytes and have no order.
inline void swapField(std::uint32_t& v) {
    v = __builtin_bswap32(v);
}
inline void swapField(std::uint64_t& v) {
    v = __builtin_bswap64(v);
}
template <std::size_t N>
void swapField(char (&)[N]) {}
template <class... Field>
void swapFields(Field&... fields) {
    (swapField(fields), ...);
}

inline void swapStruct(std::uint32_t& magic) {
    swapField(magic);
}
inline void swapStruct(fat_header& h) {
    swapFields(h.magic, h.nfat_arch);
}
inline void swapStruct(fat_arch& a) {
    swapFields(a.cputype, a.cpusubtype, a.offset, a.size, a.align);
}
inline void swapStruct(fat_arch_64& a) {
    swapFields(a.cputype, a.cpusubtype, a.offset, a.size, a.align, a.reserved);
}
inline void swapStruct(mach_header& h) {
    swapFields(h.magic, h.cputype, h.cpusubtype, h.filetype, h.ncmds, h.sizeofcmds, h.flags);
}
inline void swapStruct(mach_header_64& h) {
    swapFields(h.magic, h.cputype, h.cpusubtype, h.filetype, h.ncmds, h.sizeofcmds, h.flags,
               h.reserved);
}
inline void swapStruct(load_command& c) {
    swapFields(c.cmd, c.cmdsize);
}
inline void swapStruct(segment_command& c) {
    swapFields(c.cmd, c.cmdsize, c.vmaddr, c.vmsize, c.fileoff, c.filesize, c.maxprot, c.initprot,
               c.nsects, c.flags);
}
inline void swapStruct(segment_command_64& c) {
    swapFields(c.cmd, c.cmdsize, c.vmaddr, c.vmsize, c.fileoff, c.filesize, c.maxprot, c.initprot,
               c.nsects, c.flags);
}
inline void swapStruct(section& s) {
    swapFields(s.addr, s.size, s.offset, s.align, s.reloff, s.nreloc, s.flags, s.reserved1,
               s.reserved2);
}
inline void swapStruct(section_64& s) {
    swapFields(s.addr, s.size, s.offset, s.align, s.reloff, s.nreloc, s.flags, s.reserved1,
               s.reserved2, s.reserved3);
}
inline void swapStruct(linkedit_data_command& c) {
    swapFields(c.cmd, c.cmdsize, c.dataoff, c.datasize);
}
inline void swapStruct(entry_point_command& c) {
    swapFields(c.cmd, c.cmdsize, c.entryoff, c.stacksize);
}
inline void swapStruct(symtab_command& c) {
    swapFields(c.cmd, c.cmdsize, c.symoff, c.nsyms, c.stroff, c.strsize);
}
inline void swapStruct(dysymtab_command& c) {
    swapFields(c.cmd, c.cmdsize, c.ilocalsym, c.nlocalsym, c.iextdefsym, c.nextdefsym, c.iundefsym,
               c.nundefsym, c.tocoff, c.ntoc, c.modtaboff, c.nmodtab, c.extrefsymoff, c.nextrefsyms,
               c.indirectsymoff, c.nindirectsyms, c.extreloff, c.nextrel, c.locreloff, c.nlocrel);
}

/// The structure at `offset` in `bytes`, every field in the host's order: the file's order
/// is big-endian when `bigEndian` is set (fat headers always, MH_CIGAM slices). One check
/// that cannot overflow, then a copy, as LLVM's getStructOrErr; callers turn a failure
/// into their own words.
template <class T>
[[nodiscard]] Expected<T> readStruct(std::span<const std::byte> bytes, std::uint64_t offset,
                                     bool bigEndian) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (offset > bytes.size() || sizeof(T) > bytes.size() - offset)
        return Error{offset,
                     "a " + std::to_string(sizeof(T)) + "-byte structure at offset " +
                         std::to_string(offset) + " extends past the end of " +
                         std::to_string(bytes.size()) + " bytes",
                     ErrorCode::truncated};
    T out;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    if (bigEndian != (std::endian::native == std::endian::big)) swapStruct(out);
    return out;
}

}  // namespace varko::macho
