#include "signature/codeverifier.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "concurrency/work.h"
#include "format/codesig/csblobs.h"
#include "format/macho/bytesource.h"
#include "format/macho/machoformat.h"
#include "format/plist/plist.h"
#include "signature/codehash.h"
#include "signature/hashbudget.h"
#include "signature/resourceseal.h"
#include "signing/cms.h"

namespace varko::codesign {

namespace {

using codesig::CodeDirectory;
namespace fs = std::filesystem;

// Pages are hashed in batches read at once, so the file is read in big steps.
constexpr std::uint64_t batchBytes = 1u << 20;
// Threads pay off only for code of a few megabytes; four saturate a disk's reads.
constexpr std::uint64_t parallelFrom = 4u << 20;
constexpr unsigned maxHashThreads = 4;
// A bundle's root holds a handful of entries; a flood of them is refused, not listed.
constexpr std::size_t maxRootEntries = 10000;
constexpr std::uint64_t maxBoundFileBytes = 64u << 20;

bool sameHash(std::span<const std::byte> stored, std::span<const unsigned char> computed) {
    return computed.size() >= stored.size() &&
           std::equal(
               stored.begin(), stored.end(), computed.begin(),
               [](std::byte a, unsigned char b) { return std::to_integer<unsigned char>(a) == b; });
}

bool isZero(std::span<const std::byte> hash) {
    return std::all_of(hash.begin(), hash.end(), [](std::byte b) { return b == std::byte{0}; });
}

/// Checked between batches: a called-off check of gigabytes ends within one, as a tool's
/// process would have been ended.
std::optional<Error> calledOff() {
    if (!Work::current().cancelled()) return std::nullopt;
    return Error{0, "the check was called off", ErrorCode::refused};
}

Error pageMismatch(std::uint64_t index) {
    return Error{0, "page " + std::to_string(index) + " of the code does not match its hash",
                 ErrorCode::invalidSignature};
}

/// A page larger than a batch, hashed as it streams past: a code directory with no page
/// size has the whole code as one page, gigabytes of it.
Expected<void> verifyLargePage(const CodeDirectory& cd, const HashKind& kind,
                               const macho::ByteSource& source, const CodeObject& code,
                               std::uint64_t index, std::uint64_t start, std::uint64_t end) {
    Digester digester(kind);
    std::vector<std::byte> bytes(static_cast<std::size_t>(std::min(batchBytes, end - start)));
    for (std::uint64_t at = start; at < end;) {
        if (auto off = calledOff()) return *off;
        const auto part = std::span(bytes).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), end - at)));
        if (auto read = source.readInto(code.slice.fileOffset + at, part); !read)
            return read.error();
        digester.update(part);
        at += part.size();
    }
    if (!sameHash(*cd.codeSlotHash(static_cast<std::uint32_t>(index)), digester.finish()))
        return pageMismatch(index);
    return {};
}

/// The pages [first, last) against their hashes; the first mismatch in that range, if any.
Expected<void> verifyPageRange(const CodeDirectory& cd, const HashKind& kind,
                               const macho::ByteSource& source, const CodeObject& code,
                               std::uint64_t page, std::uint64_t first, std::uint64_t last) {
    const std::uint64_t limit = cd.effectiveCodeLimit();
    if (page > batchBytes) {
        for (std::uint64_t i = first; i < last; ++i)
            if (auto pageOk = verifyLargePage(cd, kind, source, code, i, i * page,
                                              i * page + std::min(page, limit - i * page));
                !pageOk)
                return pageOk;
        return {};
    }
    const std::uint64_t perBatch = batchBytes / page;
    std::vector<std::byte> bytes;
    PageHasher hasher(kind);
    for (std::uint64_t batch = first; batch < last; batch += perBatch) {
        if (auto off = calledOff()) return *off;
        const std::uint64_t start = batch * page;
        const std::uint64_t end = std::min(limit, std::min(last, batch + perBatch) * page);
        bytes.resize(static_cast<std::size_t>(end - start));
        if (auto read = source.readInto(code.slice.fileOffset + start, bytes); !read)
            return read.error();
        for (std::uint64_t i = batch; i < std::min(last, batch + perBatch); ++i) {
            const std::uint64_t at = (i - batch) * page;
            const auto chunk = std::span(bytes).subspan(at, std::min(page, bytes.size() - at));
            if (!sameHash(*cd.codeSlotHash(static_cast<std::uint32_t>(i)), hasher.hash(chunk)))
                return pageMismatch(i);
        }
    }
    return {};
}

/// Large code is hashed on every core, each thread with its own contiguous run of pages.
Expected<void> hashPages(const CodeDirectory& cd, const HashKind& kind, const CodeObject& code,
                         const std::shared_ptr<const macho::ByteSource>& source) {
    const std::uint64_t limit = cd.effectiveCodeLimit();
    if (limit > code.slice.size)
        return Error{0, "the code limit lies past the end of the code", ErrorCode::malformed};
    // No page size: the whole code is one page.
    const std::uint64_t page = cd.pageBytes() ? cd.pageBytes() : std::max<std::uint64_t>(limit, 1);
    const std::uint64_t pages = limit == 0 ? 0 : (limit - 1) / page + 1;
    if (pages != cd.nCodeSlots)
        return Error{0, "the code directory's page count does not match its code limit",
                     ErrorCode::malformed};

    const std::uint64_t workers =
        std::clamp<std::uint64_t>(maxHashThreads, 1, limit / parallelFrom + 1);
    const std::uint64_t share = (pages + workers - 1) / workers;
    const std::uint64_t ranges = pages == 0 ? 0 : (pages + share - 1) / share;
    // A range that was never hashed (the work was called off) is no match.
    std::vector<std::optional<Expected<void>>> results(ranges);
    forEachShared(Work::current(), ranges, unsigned(workers), [&](std::size_t w) {
        results[w] = verifyPageRange(cd, kind, *source, code, page, w * share,
                                     std::min(pages, (w + 1) * share));
    });
    // The first range's mismatch is the one to report, as a serial check would.
    for (auto& result : results) {
        if (!result) return Error{0, "the check was called off", ErrorCode::refused};
        if (!*result) return std::move(*result);
    }
    return {};
}

/// The pages of a slice, hashed once per item whatever number of links and nesting levels
/// lead to them, and only while the item's budget lasts.
Expected<void> verifyPages(const CodeDirectory& cd, const HashKind& kind, const CodeObject& code) {
    std::shared_ptr<const macho::ByteSource> source = code.source;
    if (!source) {
        auto opened = macho::FileSource::open(code.executable.string());
        if (!opened) return opened.error();
        source = std::make_shared<const macho::FileSource>(std::move(*opened));
    }
    // What the file can't hold is malformed, not too much to hash: checked before the budget.
    if (cd.effectiveCodeLimit() > code.slice.size)
        return Error{0, "the code limit lies past the end of the code", ErrorCode::malformed};
    HashBudget* budget = HashBudget::current();
    const auto file = budget ? fileIdentity(source->descriptor()) : Expected<FileIdentity>(Error{});
    if (!file) return hashPages(cd, kind, code, source);
    const std::string how = "pages at " + std::to_string(code.slice.fileOffset) + " of " +
                            hex(digest(kind, directoryBytes(cd)));
    auto hashed = budget->hashOnce(*file, how, cd.effectiveCodeLimit(),
                                   [&]() -> Expected<std::vector<unsigned char>> {
                                       if (auto pages = hashPages(cd, kind, code, source); !pages)
                                           return pages.error();
                                       return std::vector<unsigned char>();
                                   });
    if (!hashed) return hashed.error();
    return {};
}

/// A file the signature binds. A missing one is told apart, as the platform's words differ.
std::optional<Expected<std::vector<std::byte>>> readBoundFile(const fs::path& path,
                                                              const CodeLocation& location) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return std::nullopt;
    return readSmallFile(path, maxBoundFileBytes, location.within ? &*location.within : nullptr);
}

/// The platform's wording for a signature that does not hold; the code stays the cause's.
Error invalidSignature(const Error& cause) {
    return Error{cause.offset, "invalid signature: " + cause.message, cause.code};
}

Error invalidSignature(std::string what, ErrorCode code) {
    return Error{0, "invalid signature: " + std::move(what), code};
}

/// A file or blob the signature binds that is not what it bound.
Error modified(const char* platformText) {
    return Error{0, platformText, ErrorCode::invalidSignature};
}

/// What a special slot holds, for messages; every name is plural, to share one verb.
std::string slotContents(std::uint32_t slot) {
    switch (slot) {
        case codesig::CSSLOT_REQUIREMENTS:
            return "the requirements";
        case codesig::CSSLOT_APPLICATION:
            return "the application-specific data";
        case codesig::CSSLOT_ENTITLEMENTS:
            return "the entitlements";
        case codesig::CSSLOT_DER_ENTITLEMENTS:
            return "the DER entitlements";
        case codesig::CSSLOT_LAUNCH_CONSTRAINT_SELF:
            return "the launch constraints on the code itself";
        case codesig::CSSLOT_LAUNCH_CONSTRAINT_PARENT:
            return "the launch constraints on its parent";
        case codesig::CSSLOT_LAUNCH_CONSTRAINT_RESPONSIBLE:
            return "the launch constraints on its responsible process";
        case codesig::CSSLOT_LIBRARY_CONSTRAINT:
            return "the library load constraints";
        default:
            return "the contents of special slot " + std::to_string(slot);
    }
}

Expected<void> verifySpecialSlots(const CodeDirectory& cd, const HashKind& kind,
                                  const codesig::SuperBlob& sb, const CodeLocation& location) {
    const auto bound = [&](std::uint32_t slot) {
        const auto stored = cd.specialSlotHash(slot);
        return stored && !isZero(*stored);
    };
    // An Info.plist that the signature does not bind could say anything; so could a bundle
    // whose resources no seal holds.
    if (location.infoPlist && !bound(codesig::CSSLOT_INFOSLOT)) return modified(infoPlistFailed);
    if (location.root && !bound(codesig::CSSLOT_RESOURCEDIR)) return modified(resourcesNotFound);
    for (std::uint32_t slot = 1; slot <= cd.nSpecialSlots; ++slot) {
        if (!bound(slot)) continue;
        const auto stored = *cd.specialSlotHash(slot);
        if (slot == codesig::CSSLOT_INFOSLOT) {
            const auto bytes =
                location.infoPlist ? readBoundFile(*location.infoPlist, location) : std::nullopt;
            if (bytes && !*bytes) return bytes->error();
            if (!bytes || !sameHash(stored, digest(kind, **bytes)))
                return modified(infoPlistFailed);
            continue;
        }
        if (slot == codesig::CSSLOT_RESOURCEDIR) {
            const auto bytes =
                location.root
                    ? readBoundFile(*location.root / "_CodeSignature" / "CodeResources", location)
                    : std::nullopt;
            if (!bytes) return Error{0, resourcesNotFound, ErrorCode::missing};
            if (!*bytes) return bytes->error();
            if (!sameHash(stored, digest(kind, **bytes))) return modified(resourceDirectoryFailed);
            continue;
        }
        const codesig::BlobEntry* e = sb.find(slot);
        if (!e)
            return invalidSignature(
                slotContents(slot) + " that the code directory binds are not in the signature",
                ErrorCode::missing);
        const auto blob = sb.blob(*e);
        if (!sameHash(stored, digest(kind, blob)))
            return invalidSignature(
                slotContents(slot) + " do not match their hash in the code directory",
                ErrorCode::invalidSignature);
    }
    return {};
}

bool startsWith(const std::vector<unsigned char>& whole, const std::vector<unsigned char>& prefix) {
    return !prefix.empty() && prefix.size() <= whole.size() &&
           std::equal(prefix.begin(), prefix.end(), whole.begin());
}

/// The CMS signs the first code directory; Apple's attributes name the others.
bool covered(const CodeDirectory& chosen, const CodeDirectory& primary,
             const signing::CmsSignature& cms) {
    if (chosen.bytes == primary.bytes) return true;
    const auto full = digest(*hashKind(chosen.hashType), directoryBytes(chosen));
    for (const auto& h : cms.typedCdHashes)
        if (h.hashType == chosen.hashType && startsWith(full, h.digest) && h.digest.size() >= 20)
            return true;
    for (const auto& h : cms.plistCdHashes)
        if (h.size() >= 20 && startsWith(full, h)) return true;
    return false;
}

/// A code directory that its CMS signature no longer vouches for makes its page hashes no
/// one's word: a page that differs from them would blame code that may be untouched. A CMS
/// that can't be read is left for the assessment to word; ad hoc code has none.
Expected<void> verifySignedDirectory(const codesig::SuperBlob& sb,
                                     const CodeDirectories& directories) {
    const auto blob = sb.cmsSignature();
    if (!blob || !*blob || (*blob)->empty()) return {};
    const auto cmsShared = signing::parseCmsShared(**blob);
    const Expected<signing::CmsSignature>& cms = *cmsShared;
    if (!cms) return {};
    if (auto signer = signing::verifySigner(*cms, directoryBytes(directories.all.front()));
        !signer && signer.error().code == ErrorCode::invalidSignature)
        return invalidSignature(signer.error());
    if (!covered(directories.chosen(), directories.all.front(), *cms))
        return invalidSignature("the signature does not cover the code directory",
                                ErrorCode::invalidSignature);
    return {};
}

/// Bytes past the end of __LINKEDIT are hashed by nothing and could carry anything. The
/// platform decides by the first __LINKEDIT segment or LC_SYMTAB (old files), whichever
/// command comes first.
bool endsWithItsLinkedit(const macho::Slice& slice) {
    for (const macho::LoadCommand& lc : slice.loadCommands) {
        if (lc.cmd == macho::LC_SEGMENT || lc.cmd == macho::LC_SEGMENT_64) {
            const auto s = std::find_if(
                slice.segments.begin(), slice.segments.end(),
                [&](const macho::Segment& seg) { return seg.commandIndex == lc.index; });
            // Both were checked to lie inside the slice, so the sum can't overflow.
            if (s != slice.segments.end() && s->name == "__LINKEDIT")
                return s->fileoff + s->filesize == slice.size;
        } else if (lc.cmd == macho::LC_SYMTAB) {
            const auto c = macho::readStruct<macho::symtab_command>(slice.commandReader(lc).all(),
                                                                    0, slice.bigEndian);
            return c && std::uint64_t{c->stroff} + c->strsize == slice.size;
        }
    }
    return false;
}

/// Something in a bundle's root that no seal covers, or why the root could not be walked.
Error unsealed(const char* platformText, const std::string& what,
               ErrorCode code = ErrorCode::invalidSignature) {
    return Error{0, std::string(platformText) + " (" + what + ")", code};
}

/// An app's folder holds Contents and nothing else but the few files Finder leaves there.
Expected<void> checkAppRoot(const fs::path& bundle) {
    static constexpr std::string_view allowedFiles[] = {".LSOverride", ".DS_Store", "Icon\r",
                                                        ".SoftwareDepot.tracking"};
    const auto listing = listFolder(bundle);
    std::size_t seen = 0;
    for (const FolderEntry& entry : listing->entries) {
        if (++seen > maxRootEntries)
            return unsealed(unsealedAppRoot, "too many entries", ErrorCode::tooLarge);
        const std::string& name = entry.name;
        if (name == "Contents" && entry.kind == fs::file_type::directory) continue;
        const bool allowed = std::find(std::begin(allowedFiles), std::end(allowedFiles), name) !=
                             std::end(allowedFiles);
        if (!allowed || entry.kind != fs::file_type::regular)
            return unsealed(unsealedAppRoot, name);
    }
    if (listing->error != 0)
        return unsealed(unsealedAppRoot, "the bundle cannot be read", ErrorCode::unreadable);
    return {};
}

/// A framework's folder holds Versions, and links that name their namesake in the current
/// version; everything else would be code or data that no seal covers.
Expected<void> checkFrameworkRoot(const fs::path& framework) {
    std::error_code ec;
    const std::string current = fs::read_symlink(framework / "Versions" / "Current", ec).string();
    const auto listing = listFolder(framework);
    std::size_t seen = 0;
    for (const FolderEntry& entry : listing->entries) {
        if (++seen > maxRootEntries)
            return unsealed(unsealedFrameworkRoot, "too many entries", ErrorCode::tooLarge);
        const std::string& name = entry.name;
        if (name == "Versions" && entry.kind == fs::file_type::directory) continue;
        if (name == ".DS_Store" && entry.kind == fs::file_type::regular) continue;
        if (entry.kind == fs::file_type::symlink) {
            const auto target = fs::read_symlink(framework / name, ec).string();
            if (!ec && (target == "Versions/Current/" + name ||
                        (!current.empty() && target == "Versions/" + current + "/" + name)))
                continue;
        }
        return unsealed(unsealedFrameworkRoot, name);
    }
    if (listing->error != 0)
        return unsealed(unsealedFrameworkRoot, "the framework cannot be read",
                        ErrorCode::unreadable);
    return {};
}

/// _CodeSignature holds the seal and nothing else, and only regular files.
Expected<void> checkMetaDirectory(const fs::path& root) {
    std::error_code ec;
    const fs::path meta = root / "_CodeSignature";
    const auto listing = listFolder(meta);
    for (const FolderEntry& entry : listing->entries) {
        const std::string& name = entry.name;
        const bool file = entry.kind == fs::file_type::regular;
        if (file && name == "CodeResources") continue;
        // An ad hoc signature may leave an empty CodeSignature file behind.
        if (file && name == "CodeSignature" && fs::file_size(meta / name, ec) == 0) continue;
        return unsealed(unsealedAppRoot, "_CodeSignature/" + name);
    }
    return {};
}

}  // namespace

Expected<CodeDirectories> codeDirectories(const codesig::SuperBlob& signature) {
    auto primary = signature.codeDirectory();
    if (!primary) return primary.error();
    if (!*primary) return Error{0, "the signature has no code directory", ErrorCode::missing};
    CodeDirectories out;
    out.all.push_back(std::move(**primary));
    out.slotNumbers.push_back(codesig::CSSLOT_CODEDIRECTORY);
    for (std::uint32_t slot = codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES;
         slot <
         codesig::CSSLOT_ALTERNATE_CODEDIRECTORIES + codesig::CSSLOT_ALTERNATE_CODEDIRECTORY_MAX;
         ++slot) {
        auto alt = signature.codeDirectory(slot);
        if (!alt) return alt.error();
        if (!*alt) continue;
        out.all.push_back(std::move(**alt));
        out.slotNumbers.push_back(slot);
    }
    for (std::size_t i = 0; i < out.all.size(); ++i) {
        const HashKind* kind = hashKind(out.all[i].hashType);
        if (!kind)
            return Error{0, "unsupported hash type " + std::to_string(out.all[i].hashType),
                         ErrorCode::unsupported};
        if (kind->rank > hashKind(out.all[out.best].hashType)->rank) out.best = i;
    }
    return out;
}

namespace {

/// Names what a check of `code` at `location` reads, for noting it sound: the executable by
/// its path and by the file it is (so that another file there is another key), the slice,
/// and the files the location binds. Empty when the code's file can't be told.
std::string soundKey(const CodeObject& code, const CodeLocation& location) {
    const auto file =
        code.source ? fileIdentity(code.source->descriptor()) : Expected<FileIdentity>(Error{});
    if (!file) return {};
    std::string key = "slice";
    for (const std::uint64_t n : {file->device, file->inode, file->size,
                                  std::uint64_t(file->modifiedNs), code.slice.fileOffset})
        key.append(1, '\0').append(std::to_string(n));
    for (const fs::path* part : {&code.executable, &location.executable})
        key.append(1, '\0').append(part->native());
    for (const auto* part : {&location.infoPlist, &location.root})
        key.append(1, '\0').append(*part ? (*part)->native() : std::string());
    if (location.within) key.append(1, '\0').append(location.within->path().native());
    return key;
}

Expected<void> checkSlice(const CodeObject& code, const CodeDirectories& directories,
                          const CodeLocation& location) {
    const CodeDirectory& cd = directories.chosen();
    if (auto signedDirectory = verifySignedDirectory(*code.signature, directories);
        !signedDirectory)
        return signedDirectory;
    const HashKind& kind = *hashKind(cd.hashType);
    if (auto pages = verifyPages(cd, kind, code); !pages) return invalidSignature(pages.error());
    if (auto special = verifySpecialSlots(cd, kind, *code.signature, location); !special)
        return special;
    if (!endsWithItsLinkedit(code.slice))
        return Error{0, mainExecutableFailed, ErrorCode::invalidSignature};
    return {};
}

}  // namespace

Expected<void> verifySlice(const CodeObject& code, const CodeLocation& location) {
    if (auto missing = signing::cryptoMissing()) return *missing;
    if (!code.signature) return Error{0, "code object is not signed at all", ErrorCode::missing};
    auto directories = codeDirectories(*code.signature);
    if (!directories) return invalidSignature(directories.error());
    if (directories->chosen().codeSlots == codesig::CodeSlots::LeftUnread)
        return invalidSignature("the page hashes were not read", ErrorCode::unsupported);
    // Within one item a slice found sound stays so, as a bundle does: nested code is checked
    // with the code around it and again as a component.
    HashBudget* budget = HashBudget::current();
    const std::string key = budget ? soundKey(code, location) : std::string();
    if (!key.empty() && budget->foundSound(key, 0)) return {};
    auto checked = checkSlice(code, *directories, location);
    if (checked && !key.empty()) budget->noteSound(key, 0);
    return checked;
}

Expected<void> verifyCodePages(const CodeObject& code) {
    if (auto missing = signing::cryptoMissing()) return *missing;
    if (!code.signature) return Error{0, "code object is not signed at all", ErrorCode::missing};
    auto directories = codeDirectories(*code.signature);
    if (!directories) return directories.error();
    const CodeDirectory& cd = directories->chosen();
    if (cd.codeSlots == codesig::CodeSlots::LeftUnread)
        return Error{0, "the page hashes were not read", ErrorCode::unsupported};
    return verifyPages(cd, *hashKind(cd.hashType), code);
}

bool directoryVouchedFor(const CodeObject& code) {
    if (!code.signature) return false;
    const auto directories = codeDirectories(*code.signature);
    return directories && verifySignedDirectory(*code.signature, *directories);
}

namespace {

Expected<void> checkBundle(const CodeLocation& location, int depth) {
    const fs::path& root = *location.root;
    if (root.filename() == "Contents")
        if (auto sealed = checkAppRoot(root.parent_path()); !sealed) return sealed;
    if (root.parent_path().filename() == "Versions")
        if (auto sealed = checkFrameworkRoot(root.parent_path().parent_path()); !sealed)
            return sealed;
    if (auto sealed = checkMetaDirectory(root); !sealed) return sealed;
    // The slices' checks found the seal bound and unchanged; what it names is checked here once.
    const auto bytes = readBoundFile(root / "_CodeSignature" / "CodeResources", location);
    if (!bytes) return Error{0, resourcesNotFound, ErrorCode::missing};
    if (!*bytes) return bytes->error();
    const auto seal = plist::parseShared(std::span<const std::byte>(**bytes));
    const plist::Dictionary* dict = *seal ? (*seal)->dictionary() : nullptr;
    if (!dict) return Error{0, resourceDirectoryFailed, ErrorCode::malformed};
    return verifyResourceSeal(root, *dict, location.executable, depth,
                              location.within ? &*location.within : nullptr);
}

}  // namespace

Expected<void> verifyBundle(const CodeLocation& location, int depth) {
    if (!location.root) return {};
    if (auto missing = signing::cryptoMissing()) return *missing;
    // Within one item a bundle found sound stays so: its files were read and hashed then.
    HashBudget* budget = HashBudget::current();
    std::string key;
    if (budget) {
        for (const fs::path* part : {&*location.root, &location.executable})
            key.append(part->native()).append(1, '\0');
        if (location.within) key.append(location.within->path().native());
        if (budget->foundSound(key, depth)) return {};
    }
    auto checked = checkBundle(location, depth);
    if (checked && budget) budget->noteSound(key, depth);
    return checked;
}

Expected<void> verifyCode(const CodeObject& code, const CodeLocation& location, int depth) {
    if (auto slice = verifySlice(code, location); !slice) return slice;
    return verifyBundle(location, depth);
}

}  // namespace varko::codesign
