#include "systools/codesign/codeobject.h"

#include <algorithm>

#include "format/macho/machoformat.h"

namespace varko::codesign {

std::uint32_t hostCpuType() {
#if defined(__aarch64__)
    return macho::CPU_TYPE_ARM64;
#elif defined(__x86_64__)
    return macho::CPU_TYPE_X86_64;
#elif defined(__i386__)
    return macho::CPU_TYPE_X86;
#else
    return 0;
#endif
}

std::variant<CodeObject, LoadError> loadCodeObject(const std::filesystem::path& executable,
                                                   std::uint32_t cpuType) {
    using Kind = LoadError::Kind;
    auto source = macho::FileSource::open(executable.string());
    if (!source) return LoadError{Kind::Unreadable, source.error().message};
    auto head = source->read(0, std::min<std::uint64_t>(source->size(), 8));
    if (!head) return LoadError{Kind::Unreadable, head.error().message};
    if (!macho::looksLikeMachO(*head)) return LoadError{Kind::NotMachO, {}};

    auto file = macho::MachOFile::create(*source);
    if (!file) return LoadError{Kind::MalformedExecutable, file.error().message};
    CodeObject code{executable, file->preferredSlice(cpuType), std::nullopt};
    if (!code.slice.codeSignature) return code;

    auto bytes = macho::MachOFile::readCodeSignature(*source, code.slice);
    if (!bytes) return LoadError{Kind::Unreadable, bytes.error().message};
    auto signature = codesig::SuperBlob::create(std::move(*bytes));
    if (!signature) return LoadError{Kind::MalformedSignature, signature.error().message};
    code.signature = std::move(*signature);
    return code;
}

}  // namespace varko::codesign
