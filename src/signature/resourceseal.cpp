#include "signature/resourceseal.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "concurrency/work.h"
#include "format/macho/bytesource.h"
#include "format/macho/machofile.h"
#include "signature/bundlelocator.h"
#include "signature/codehash.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/hashbudget.h"
#include "signing/cms.h"

namespace varko::codesign {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maxPathLength = 4096;
constexpr std::size_t hashChunk = 1 << 16;
constexpr std::size_t minimumChunk = 1 << 12;

bool flag(const plist::Dictionary& d, const char* key) {
    const plist::Value* v = d.find(key);
    return v && v->boolean() && *v->boolean();
}

Expected<std::vector<unsigned char>> streamDigest(const OpenedFile& opened, const fs::path& path,
                                                  const EVP_MD* md) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return Error{0, "the digest could not be set up", ErrorCode::unsupported};
    // Most sealed files are small: a buffer the size the file claims spares clearing a whole
    // chunk for each; one that grows meanwhile is read on in pieces of that size.
    std::vector<std::byte> buf(static_cast<std::size_t>(
        std::clamp<std::uint64_t>(opened.size + 1, minimumChunk, hashChunk)));
    for (;;) {
        // A called-off check ends within a chunk, however large the file.
        if (Work::current().cancelled())
            return Error{0, "the check was called off", ErrorCode::refused};
        auto n = readFully(opened.fd, buf, path);
        if (!n) return n.error();
        if (EVP_DigestUpdate(ctx.get(), buf.data(), *n) != 1)
            return Error{0, "the digest failed", ErrorCode::unsupported};
        if (*n < buf.size()) break;
    }
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &size) != 1)
        return Error{0, "the digest failed", ErrorCode::unsupported};
    out.resize(size);
    return out;
}

/// A sealed file's digest, read as it is and never through a link: the walk saw a file.
/// Hashed once per item, and only while the item's budget lasts.
Expected<std::vector<unsigned char>> fileDigest(const fs::path& path, const ItemRoot& within,
                                                const EVP_MD* md) {
    auto opened = openRegularFile(path, &within, FinalLink::Refuse);
    if (!opened) return opened.error();
    HashBudget* budget = HashBudget::current();
    const auto file = budget ? fileIdentity(opened->fd.get()) : Expected<FileIdentity>(Error{});
    if (!file) return streamDigest(*opened, path, md);
    return budget->hashOnce(*file, EVP_MD_get0_name(md), opened->size,
                            [&] { return streamDigest(*opened, path, md); });
}

bool equalData(const plist::Data& stored, const std::vector<unsigned char>& computed) {
    return stored.size() == computed.size() &&
           std::equal(stored.begin(), stored.end(), computed.begin());
}

/// The seal and the files part: `what` befell the file at `path`.
Error broken(const std::string& what, const std::string& path,
             ErrorCode code = ErrorCode::invalidSignature) {
    return Error{0, std::string(sealBroken) + " (" + what + ": " + path + ")", code};
}

/// The seal itself, or the bundle around it, is unfit to check: `why` says how.
Error unfit(const std::string& why, ErrorCode code) {
    return Error{0, std::string(sealBroken) + " (" + why + ")", code};
}

Error badRule(const Error& error) {
    return Error{error.offset, std::string(rulesInvalid) + " (" + error.message + ")", error.code};
}

Error badNested(const std::string& rel, const std::string& what,
                ErrorCode code = ErrorCode::invalidSignature) {
    return Error{0, std::string(nestedCodeInvalid) + " (" + rel + ": " + what + ")", code};
}

Error badNested(const std::string& rel, const Error& cause, const std::string& arch = {}) {
    return badNested(rel, cause.message + arch, cause.code);
}

/// A sealed file that is there but can't be read is not a changed one: say which and why.
Error unreadable(const Error& error) {
    return broken("file could not be read", error.message, error.code);
}

/// Nested code the seal names by cdhash: one of its slices must have that cdhash, and every
/// slice must be valid, its signature intact, and a nested bundle sound in turn.
Expected<void> verifyNested(const fs::path& path, const plist::Dictionary& entry,
                            const std::string& rel, int depth, const ItemRoot& within) {
    if (depth <= 0) return badNested(rel, "nested too deep", ErrorCode::tooLarge);
    // Nested code may link into the bundles around it, as the platform allows, but no further.
    const auto location = locateCode(path, &within);
    if (!location)
        return isNoCode(location.error()) ? broken("nested code missing", rel, ErrorCode::missing)
                                          : badNested(rel, location.error());
    auto loaded = loadEverySlice(*location);
    // Code that is no Mach-O at all has no reader's words to pass on.
    if (!loaded)
        return loaded.error().code == ErrorCode::unsupported
                   ? badNested(rel, "unreadable", ErrorCode::unsupported)
                   : badNested(rel, loaded.error());
    const auto* slices = &*loaded;
    const plist::Value* cdhash = entry.find("cdhash");
    const plist::Data* wanted = cdhash ? cdhash->data() : nullptr;
    bool named = false;
    for (const CodeObject& code : *slices) {
        if (!code.signature)
            return badNested(rel, "not signed (" + code.slice.archName() + ")", ErrorCode::missing);
        auto directories = codeDirectories(*code.signature);
        if (!directories) return badNested(rel, directories.error());
        for (const auto& cd : directories->all) {
            const auto d = digest(*hashKind(cd.hashType), directoryBytes(cd));
            named = named || (wanted && wanted->size() <= d.size() && !wanted->empty() &&
                              std::equal(wanted->begin(), wanted->end(), d.begin()));
        }
    }
    if (!named) return badNested(rel, "its code directory is not the sealed one");
    for (const CodeObject& code : *slices) {
        const std::string arch = slices->size() > 1 ? " (" + code.slice.archName() + ")" : "";
        if (auto slice = verifySlice(code, *location); !slice)
            return badNested(rel, slice.error(), arch);
        auto cms = code.signature->cmsSignature();
        if (!cms) return badNested(rel, cms.error(), arch);
        if (!*cms || (*cms)->empty()) continue;  // ad hoc: the cdhash in the seal vouches for it
        const auto parsedShared = signing::parseCmsShared(**cms);
        const Expected<signing::CmsSignature>& parsed = *parsedShared;
        if (!parsed) return badNested(rel, parsed.error(), arch);
        const auto directories = codeDirectories(*code.signature);
        const auto& primary = directories->all.front();
        if (auto signer = signing::verifySigner(*parsed, directoryBytes(primary)); !signer)
            return badNested(rel, signer.error(), arch);
    }
    if (auto bundle = verifyBundle(*location, depth - 1); !bundle)
        return badNested(rel, bundle.error());
    return {};
}

/// Where a bundle keeps code of its own; Mach-O there must be sealed as signed code.
bool isNestedCodeLocation(const std::string& rel) {
    static constexpr std::string_view places[] = {"Frameworks/", "SharedFrameworks/", "MacOS/",
                                                  "Helpers/",    "XPCServices/",      "PlugIns/",
                                                  "Plug-ins/",   "Library/"};
    return std::any_of(std::begin(places), std::end(places),
                       [&](std::string_view p) { return rel.starts_with(p); });
}

bool isMachO(const fs::path& path, const ItemRoot& within) {
    auto source = macho::FileSource::open(path, within, FinalLink::Refuse);
    if (!source || source->size() < 8) return false;
    auto head = source->read(0, 8);
    return head && macho::looksLikeMachO(*head);
}

}  // namespace

Expected<void> verifyResourceSeal(const fs::path& contents, const plist::Dictionary& seal,
                                  const fs::path& mainExecutable, int depth,
                                  const ItemRoot* within) {
    const bool v2 = seal.find("files2") != nullptr;
    const plist::Value* filesValue = seal.find(v2 ? "files2" : "files");
    const plist::Value* rulesValue = seal.find(v2 ? "rules2" : "rules");
    const plist::Dictionary* files = filesValue ? filesValue->dictionary() : nullptr;
    const plist::Dictionary* rulesDict = rulesValue ? rulesValue->dictionary() : nullptr;
    if (!files || !rulesDict) return unfit("the seal has no files or rules", ErrorCode::malformed);
    if (files->size() > maxSealedFiles)
        return unfit("the seal names too many files", ErrorCode::tooLarge);
    const auto rules = ResourceRules::compile(*rulesDict);
    if (!rules) return badRule(rules.error());
    auto own = within ? Expected<ItemRoot>(*within) : ItemRoot::of(contents);
    if (!own) return unfit(own.error().message, own.error().code);
    const ItemRoot& item = *own;
    const auto inside = item.resolve(contents);
    if (!inside) return unfit(inside.error().message, inside.error().code);

    std::error_code ec;
    // Real paths as the item resolves them, one walk each; weakly_canonical reads every part
    // of the path as a possible link, for an executable that is missing or lies outside.
    const auto main = item.resolve(mainExecutable);
    const fs::path mainRel =
        (main ? *main : fs::weakly_canonical(mainExecutable, ec)).lexically_relative(*inside);
    std::set<std::string> seen;
    std::size_t walked = 0;
    // Depth first, each folder's entries in the order they are listed, as a recursive
    // directory iterator goes; each folder is listed once for all of the item's passes.
    struct Level {
        fs::path folder;
        std::shared_ptr<const FolderListing> listing;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    levels.push_back({contents, listFolder(contents)});
    if (levels.back().listing->error != 0)
        return unfit("the bundle cannot be read", ErrorCode::unreadable);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.listing->entries.size()) {
            if (level.listing->error != 0)
                return unfit("the bundle cannot be read", ErrorCode::unreadable);
            levels.pop_back();
            continue;
        }
        const auto listing = level.listing;
        const FolderEntry& found = listing->entries[level.next++];
        if (++walked > maxSealedFiles || levels.size() - 1 > 64)
            return unfit("the bundle is too large", ErrorCode::tooLarge);
        const fs::path path = level.folder / found.name;
        const std::string rel = path.lexically_relative(contents).generic_string();
        if (rel.size() > maxPathLength)
            return broken("path too long", rel.substr(0, 64), ErrorCode::tooLarge);
        const fs::file_type kind = found.kind;
        if (rel == "_CodeSignature" || rel == "CodeResources" ||
            path.lexically_relative(contents) == mainRel)
            continue;
        const auto matched = rules->ruleFor(rel);
        if (!matched) return badRule(matched.error());
        const ResourceRule* rule = *matched;
        const plist::Value* entryValue = files->find(rel);
        if (kind == fs::file_type::directory) {
            // A folder the walk can't enter would pass over whatever it holds, code included.
            auto inner = listFolder(path, FinalLink::Refuse);
            if (inner->error != 0)
                return broken("a folder could not be read", rel, ErrorCode::unreadable);
            // A sealed directory is nested code (a framework, a helper app); its own
            // signature seals what is inside, so the walk does not go in.
            if (entryValue) {
                seen.insert(rel);
                const auto* entry = entryValue->dictionary();
                if (!entry || !entry->find("cdhash")) return broken("file modified", rel);
                if (auto nested = verifyNested(path, *entry, rel, depth, item); !nested)
                    return nested;
            } else {
                levels.push_back({path, std::move(inner)});
            }
            continue;
        }
        if (!rule || rule->omit) continue;
        if (!entryValue) return broken("file added", rel);
        seen.insert(rel);
        const plist::Dictionary* entry = entryValue->dictionary();
        if (kind == fs::file_type::symlink) {
            const plist::Value* target = entry ? entry->find("symlink") : nullptr;
            const auto actual = fs::read_symlink(path, ec);
            if (ec || !target || !target->string() || *target->string() != actual.string())
                return broken("symlink modified", rel);
            continue;
        }
        if (kind != fs::file_type::regular) {
            // A FIFO, device or socket: refused without being opened, with what it is.
            auto opened = openRegularFile(path, &item, FinalLink::Refuse);
            return opened ? broken("file modified", rel) : unreadable(opened.error());
        }
        if (entry && entry->find("cdhash")) {
            if (auto nested = verifyNested(path, *entry, rel, depth, item); !nested) return nested;
            continue;
        }
        // A version 2 seal names nested code by cdhash; code it hashes as data is unsigned.
        if (v2 && (rule->nested || isNestedCodeLocation(rel)) && isMachO(path, item))
            return badNested(rel, "not signed", ErrorCode::missing);
        const plist::Value* hash2 = entry ? entry->find("hash2") : nullptr;
        const plist::Value* hash1 = entry ? entry->find("hash") : entryValue;
        const plist::Data* stored = hash2 && hash2->data() ? hash2->data()
                                    : hash1                ? hash1->data()
                                                           : nullptr;
        if (!stored) return broken("file modified", rel);
        const auto computed =
            fileDigest(path, item, hash2 && hash2->data() ? EVP_sha256() : EVP_sha1());
        if (!computed) return unreadable(computed.error());
        if (!equalData(*stored, *computed)) return broken("file modified", rel);
    }
    for (const auto& [rel, value] : *files) {
        if (seen.count(rel)) continue;
        const auto* entry = value.dictionary();
        const auto matched = rules->ruleFor(rel);
        if (!matched) return badRule(matched.error());
        const ResourceRule* rule = *matched;
        if ((entry && flag(*entry, "optional")) || (rule && (rule->optional || rule->omit)))
            continue;
        return broken("file missing", rel, ErrorCode::missing);
    }
    return {};
}

}  // namespace varko::codesign
