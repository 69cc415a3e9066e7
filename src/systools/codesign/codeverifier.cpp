#include "systools/codesign/codeverifier.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "format/codesig/csblobs.h"
#include "format/macho/bytesource.h"
#include "format/plist/plist.h"
#include "systools/codesign/codehash.h"
#include "systools/codesign/resourceseal.h"

namespace varko::codesign {

namespace {

using codesig::CodeDirectory;

// Pages are hashed in batches read at once, so the file is read in big steps.
constexpr std::uint64_t batchBytes = 1u << 20;
constexpr std::uintmax_t maxBoundFileBytes = 64u << 20;

bool sameHash(std::span<const std::byte> stored, const std::vector<unsigned char>& computed) {
    return computed.size() >= stored.size() &&
           std::equal(stored.begin(), stored.end(), computed.begin(),
                      [](std::byte a, unsigned char b) { return std::to_integer<unsigned char>(a) == b; });
}

bool isZero(std::span<const std::byte> hash) {
    return std::all_of(hash.begin(), hash.end(), [](std::byte b) { return b == std::byte{0}; });
}

std::optional<std::string> verifyPages(const CodeDirectory& cd, const HashKind& kind, const CodeObject& code) {
    auto source = macho::FileSource::open(code.executable.string());
    if (!source) return source.error().message;
    const std::uint64_t limit = cd.effectiveCodeLimit();
    if (limit > code.slice.size) return "the code limit lies past the end of the code";
    const std::uint64_t page = cd.pageBytes() ? cd.pageBytes() : std::max<std::uint64_t>(limit, 1);
    const std::uint64_t pages = limit == 0 ? 0 : (limit + page - 1) / page;
    if (pages != cd.nCodeSlots) return "the code directory's page count does not match its code limit";
    const std::uint64_t perBatch = std::max<std::uint64_t>(1, batchBytes / page);
    for (std::uint64_t first = 0; first < pages; first += perBatch) {
        const std::uint64_t start = first * page;
        const std::uint64_t length = std::min(limit - start, perBatch * page);
        auto bytes = source->read(code.slice.fileOffset + start, length);
        if (!bytes) return bytes.error().message;
        for (std::uint64_t i = first; i < std::min(pages, first + perBatch); ++i) {
            const std::uint64_t at = (i - first) * page;
            const auto chunk = std::span(*bytes).subspan(at, std::min(page, length - at));
            if (!sameHash(*cd.codeSlotHash(static_cast<std::uint32_t>(i)), digest(kind, chunk)))
                return "page " + std::to_string(i) + " of the code does not match its hash";
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::byte>> readBoundFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxBoundFileBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return std::nullopt;
    std::vector<std::byte> out(chars.size());
    std::transform(chars.begin(), chars.end(), out.begin(), [](char c) { return std::byte(c); });
    return out;
}

std::optional<std::string> verifySpecialSlots(const CodeDirectory& cd, const HashKind& kind,
                                              const codesig::SuperBlob& sb, const CodeLocation& location,
                                              int depth) {
    for (std::uint32_t slot = 1; slot <= cd.nSpecialSlots; ++slot) {
        const auto stored = cd.specialSlotHash(slot);
        if (!stored || isZero(*stored)) continue;
        std::optional<std::vector<std::byte>> bytes;
        std::string what;
        if (slot == codesig::CSSLOT_INFOSLOT) {
            what = "the Info.plist";
            if (location.infoPlist) bytes = readBoundFile(*location.infoPlist);
        } else if (slot == codesig::CSSLOT_RESOURCEDIR) {
            what = "the sealed resources";
            if (location.root) bytes = readBoundFile(*location.root / "_CodeSignature" / "CodeResources");
        } else if (const codesig::BlobEntry* e = sb.find(slot)) {
            what = "blob " + std::to_string(slot);
            const auto blob = sb.blob(*e);
            bytes.emplace(blob.begin(), blob.end());
        } else {
            return "the signature lacks blob " + std::to_string(slot) + " that its code directory binds";
        }
        if (!bytes) return what + " that the signature binds is missing or unreadable";
        if (!sameHash(*stored, digest(kind, *bytes))) {
            if (slot == codesig::CSSLOT_RESOURCEDIR) return std::string(sealBroken) + " (the seal itself was modified)";
            return what + " does not match the signature";
        }
        if (slot == codesig::CSSLOT_RESOURCEDIR) {
            auto seal = plist::parse(std::span<const std::byte>(*bytes));
            const plist::Dictionary* dict = seal ? seal->dictionary() : nullptr;
            if (!dict) return std::string(sealBroken) + " (the seal is unreadable)";
            if (auto problem = verifyResourceSeal(*location.root, *dict, location.executable, depth))
                return problem;
        }
    }
    return std::nullopt;
}

}  // namespace

Expected<CodeDirectories> codeDirectories(const codesig::SuperBlob& signature) {
    auto primary = signature.codeDirectory();
    if (!primary) return primary.error();
    if (!*primary) return Error{0, "the signature has no code directory"};
    CodeDirectories out;
    out.all.push_back(std::move(**primary));
    out.slots.push_back(codesig::CSSLOT_CODEDIRECTORY);
    for (std::uint32_t slot = codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES;
         slot < codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES + codesig::CSSLOT_ALTERNATE_CODEDIRECTORY_MAX; ++slot) {
        auto alt = signature.codeDirectory(slot);
        if (!alt) return alt.error();
        if (!*alt) continue;
        out.all.push_back(std::move(**alt));
        out.slots.push_back(slot);
    }
    for (std::size_t i = 0; i < out.all.size(); ++i) {
        const HashKind* kind = hashKind(out.all[i].hashType);
        if (!kind) return Error{0, "unsupported hash type " + std::to_string(out.all[i].hashType)};
        if (kind->rank > hashKind(out.all[out.best].hashType)->rank) out.best = i;
    }
    return out;
}

std::optional<std::string> verifyCode(const CodeObject& code, const CodeLocation& location, int depth) {
    if (!code.signature) return "code object is not signed at all";
    auto directories = codeDirectories(*code.signature);
    if (!directories) return directories.error().message;
    const CodeDirectory& cd = directories->chosen();
    if (cd.codeSlots == codesig::CodeSlots::LeftUnread) return "the page hashes were not read";
    const HashKind& kind = *hashKind(cd.hashType);
    if (auto problem = verifyPages(cd, kind, code)) return problem;
    return verifySpecialSlots(cd, kind, *code.signature, location, depth);
}

}  // namespace varko::codesign
