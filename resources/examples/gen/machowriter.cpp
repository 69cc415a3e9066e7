#include "gen/machowriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "format/macho/machoformat.h"
#include "gen/bytebuffer.h"

namespace varko::examplegen {

using namespace macho;

namespace {

constexpr std::uint64_t alignUp(std::uint64_t v, std::uint64_t a) {
    return (v + a - 1) / a * a;
}

bool is64(Arch arch) {
    return arch != Arch::I386;
}

/// Where the parts of a thin file go; everything before codeLimit is hashed.
struct Layout {
    std::uint64_t sectionOffset = 0;
    std::uint64_t sectionSize = 0;
    std::uint64_t textEnd = 0;  ///< = the signature's offset
    std::uint64_t signatureSize = 0;
};

std::uint32_t commandsSize(Arch arch) {
    const std::uint32_t segment = is64(arch) ? sizeof(segment_command_64) : sizeof(segment_command);
    const std::uint32_t sect = is64(arch) ? sizeof(section_64) : sizeof(section);
    return segment + sect + segment + sizeof(entry_point_command) + sizeof(linkedit_data_command);
}

std::uint64_t headerSize(Arch arch) {
    return (is64(arch) ? sizeof(mach_header_64) : sizeof(mach_header)) + commandsSize(arch);
}

void segment(ByteBuffer& b, Arch arch, std::string_view name, std::uint64_t vmaddr,
             std::uint64_t vmsize, std::uint64_t fileoff, std::uint64_t filesize,
             std::uint32_t prot, std::uint32_t nsects) {
    if (is64(arch)) {
        b.le32(LC_SEGMENT_64);
        b.le32(sizeof(segment_command_64) + nsects * sizeof(section_64));
        b.fixedName(name, 16);
        b.le64(vmaddr);
        b.le64(vmsize);
        b.le64(fileoff);
        b.le64(filesize);
    } else {
        b.le32(LC_SEGMENT);
        b.le32(sizeof(segment_command) + nsects * sizeof(section));
        b.fixedName(name, 16);
        b.le32(static_cast<std::uint32_t>(vmaddr));
        b.le32(static_cast<std::uint32_t>(vmsize));
        b.le32(static_cast<std::uint32_t>(fileoff));
        b.le32(static_cast<std::uint32_t>(filesize));
    }
    b.le32(prot);
    b.le32(prot);
    b.le32(nsects);
    b.le32(0);
}

std::vector<std::byte> headerAndCommands(const MachOOptions& o, const Layout& l) {
    const Arch arch = o.arch;
    const bool signedFile = o.signature.has_value();
    const std::uint64_t base = is64(arch) ? 0x100000000ull : 0x1000;
    const std::uint64_t textVmSize = alignUp(l.textEnd, 0x4000);
    const std::uint64_t linkeditSize = signedFile ? l.signatureSize : 0;
    const std::uint32_t ncmds = signedFile ? 4 : 3;
    const std::uint32_t sizeofcmds =
        commandsSize(arch) - (signedFile ? 0 : sizeof(linkedit_data_command));

    ByteBuffer b;
    b.le32(is64(arch) ? MH_MAGIC_64 : MH_MAGIC);
    b.le32(cpuType(arch));
    b.le32(cpuSubtype(arch));
    b.le32(MH_EXECUTE);
    b.le32(ncmds);
    b.le32(sizeofcmds);
    b.le32(MH_NOUNDEFS | MH_DYLDLINK | MH_TWOLEVEL | MH_PIE);
    if (is64(arch)) b.le32(0);

    segment(b, arch, "__TEXT", base, textVmSize, 0, l.textEnd, VM_PROT_READ | VM_PROT_EXECUTE, 1);
    b.fixedName("__text", 16);
    b.fixedName("__TEXT", 16);
    if (is64(arch)) {
        b.le64(base + l.sectionOffset);
        b.le64(l.sectionSize);
    } else {
        b.le32(static_cast<std::uint32_t>(base + l.sectionOffset));
        b.le32(static_cast<std::uint32_t>(l.sectionSize));
    }
    b.le32(static_cast<std::uint32_t>(l.sectionOffset));
    b.le32(4);  // align 2^4
    b.le32(0);
    b.le32(0);
    b.le32(S_ATTR_PURE_INSTRUCTIONS | S_ATTR_SOME_INSTRUCTIONS);
    b.zeros(is64(arch) ? 12 : 8);

    segment(b, arch, "__LINKEDIT", base + textVmSize,
            alignUp(std::max<std::uint64_t>(linkeditSize, 1), 0x4000), l.textEnd, linkeditSize,
            VM_PROT_READ, 0);

    b.le32(LC_MAIN);
    b.le32(sizeof(entry_point_command));
    b.le64(l.sectionOffset);
    b.le64(0);

    if (signedFile) {
        b.le32(LC_CODE_SIGNATURE);
        b.le32(sizeof(linkedit_data_command));
        b.le32(static_cast<std::uint32_t>(l.textEnd));
        b.le32(static_cast<std::uint32_t>(l.signatureSize));
    }
    return std::move(b).take();
}

CodeLayout codeLayout(const Layout& l) {
    CodeLayout c;
    c.codeLimit = l.textEnd;
    c.execSegBase = 0;
    c.execSegLimit = l.textEnd;
    return c;
}

Error ioError(const std::filesystem::path& path, const char* what) {
    return Error{0, path.string() + ": " + what + ": " + std::strerror(errno)};
}

}  // namespace

std::uint32_t cpuType(Arch arch) {
    switch (arch) {
        case Arch::X86_64:
            return CPU_TYPE_X86_64;
        case Arch::Arm64:
        case Arch::Arm64e:
            return CPU_TYPE_ARM64;
        case Arch::I386:
            return CPU_TYPE_X86;
    }
    return 0;
}

std::uint32_t cpuSubtype(Arch arch) {
    switch (arch) {
        case Arch::X86_64:
            return CPU_SUBTYPE_X86_64_ALL;
        case Arch::Arm64:
            return CPU_SUBTYPE_ARM64_ALL;
        case Arch::Arm64e:
            return CPU_SUBTYPE_ARM64E;
        case Arch::I386:
            return CPU_SUBTYPE_I386_ALL;
    }
    return 0;
}

std::vector<std::byte> makeMachO(const MachOOptions& o) {
    Layout l;
    l.sectionOffset = alignUp(headerSize(o.arch), 16);
    l.sectionSize = o.codeSize;
    l.textEnd = alignUp(l.sectionOffset + o.codeSize, 16);
    if (o.signature)
        l.signatureSize = alignUp(signatureSize(*o.signature, l.textEnd) + o.signatureSlack, 16);

    ByteBuffer b;
    b.append(headerAndCommands(o, l));
    b.zeros(l.sectionOffset - b.size());
    // A recognisable instruction pattern rather than zeros, so page hashes differ.
    for (std::size_t i = 0; i < o.codeSize; ++i) b.u8(static_cast<std::uint8_t>(0xc3 ^ (i & 0x7f)));
    b.zeros(l.textEnd - b.size());
    if (o.signature) {
        const auto code = b.bytes();
        b.append(makeSignature(*o.signature, codeLayout(l), memoryPageHasher(code)));
        if (b.size() > l.textEnd + l.signatureSize) std::abort();  // the CMS outgrew its reserve
        b.zeros(l.textEnd + l.signatureSize - b.size());
    }
    return std::move(b).take();
}

std::vector<std::byte> makeUniversal(std::span<const std::vector<std::byte>> slices, bool fat64) {
    struct Placed {
        std::uint32_t cputype, cpusubtype, align;
        std::uint64_t offset;
    };
    std::vector<Placed> placed;
    std::uint64_t offset =
        sizeof(fat_header) + slices.size() * (fat64 ? sizeof(fat_arch_64) : sizeof(fat_arch));
    for (const auto& s : slices) {
        auto le = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
            return v;
        };
        const std::uint32_t type = le(4);
        const std::uint32_t align = (type & 0xff) == CPU_TYPE_ARM ? 14 : 12;
        offset = alignUp(offset, std::uint64_t{1} << align);
        placed.push_back({type, le(8), align, offset});
        offset += s.size();
    }
    ByteBuffer b;
    b.be32(fat64 ? FAT_MAGIC_64 : FAT_MAGIC);
    b.be32(static_cast<std::uint32_t>(slices.size()));
    for (std::size_t i = 0; i < slices.size(); ++i) {
        b.be32(placed[i].cputype);
        b.be32(placed[i].cpusubtype);
        if (fat64) {
            b.be64(placed[i].offset);
            b.be64(slices[i].size());
        } else {
            b.be32(static_cast<std::uint32_t>(placed[i].offset));
            b.be32(static_cast<std::uint32_t>(slices[i].size()));
        }
        b.be32(placed[i].align);
        if (fat64) b.be32(0);
    }
    for (std::size_t i = 0; i < slices.size(); ++i) {
        b.zeros(placed[i].offset - b.size());
        b.append(slices[i]);
    }
    return std::move(b).take();
}

Expected<std::uint64_t> writeSparseMachO(const std::filesystem::path& path, std::uint64_t totalSize,
                                         const MachOOptions& o) {
    Layout l;
    l.sectionOffset = alignUp(headerSize(o.arch), 16);
    const std::uint64_t reserve = o.signature ? signatureSize(*o.signature, totalSize) : 0;
    if (totalSize < reserve + 2 * signaturePageSize)
        return Error{0, "sparse Mach-O of " + std::to_string(totalSize) + " bytes is too small"};
    l.textEnd =
        o.signature ? (totalSize - reserve) / signaturePageSize * signaturePageSize : totalSize;
    if (!is64(o.arch) && totalSize > 0xffffffffu)
        return Error{0, "a 32-bit Mach-O cannot be that large"};
    l.sectionSize = l.textEnd - l.sectionOffset;
    l.signatureSize = totalSize - l.textEnd;
    const auto header = headerAndCommands(o, l);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0) return ioError(path, "cannot create");
    bool ok = ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size());
    if (ok && o.signature) {
        std::vector<std::byte> firstPage(signaturePageSize);
        std::copy(header.begin(), header.end(), firstPage.begin());
        const Sha256Digest first = sha256(firstPage);
        const Sha256Digest zero = sha256(std::vector<std::byte>(signaturePageSize));
        const auto signature = makeSignature(
            *o.signature, codeLayout(l), [&](std::uint64_t i) { return i == 0 ? first : zero; });
        ok = ::pwrite(fd, signature.data(), signature.size(), static_cast<off_t>(l.textEnd)) ==
             static_cast<ssize_t>(signature.size());
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(totalSize)) == 0;
    if (!ok) {
        const Error e = ioError(path, "cannot write");
        ::close(fd);
        return e;
    }
    if (::close(fd) != 0) return ioError(path, "cannot close");
    return l.textEnd;
}

Expected<bool> writeFile(const std::filesystem::path& path, std::span<const std::byte> bytes,
                         bool executable) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, executable ? 0755 : 0644);
    if (fd < 0) return ioError(path, "cannot create");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const Error e = ioError(path, "cannot write");
            ::close(fd);
            return e;
        }
        done += static_cast<std::size_t>(n);
    }
    // An earlier run may have left other modes behind.
    const bool modeSet = ::fchmod(fd, executable ? 0755 : 0644) == 0;
    if (::close(fd) != 0 || !modeSet) return ioError(path, "cannot finish");
    return true;
}

}  // namespace varko::examplegen
