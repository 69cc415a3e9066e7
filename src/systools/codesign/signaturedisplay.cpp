#include "systools/codesign/signaturedisplay.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "format/codesig/csblobs.h"
#include "format/plist/plist.h"
#include "format/visibletext.h"
#include "signature/codehash.h"
#include "signature/codeverifier.h"
#include "signing/cms.h"
#include "signing/dates.h"

namespace varko::codesign {

namespace {

using codesig::CodeDirectory;

// Bundle files are small; a larger one is not what codesign would bind either.
constexpr std::uint64_t maxPlistBytes = 32u << 20;

/// A bundle's plist: nothing when it is absent or no plist, an error when it can't be read.
Expected<std::shared_ptr<const plist::Value>> readPlist(
    const std::optional<std::filesystem::path>& path, const CodeLocation& location) {
    std::error_code ec;
    if (!path || !std::filesystem::exists(std::filesystem::symlink_status(*path, ec)))
        return std::shared_ptr<const plist::Value>();
    const auto bytes =
        readSmallFile(*path, maxPlistBytes, location.within ? &*location.within : nullptr);
    if (!bytes) return bytes.error();
    auto parsed = plist::parseShared(std::span<const std::byte>(*bytes));
    if (!*parsed) return std::shared_ptr<const plist::Value>();
    const plist::Value* value = &**parsed;
    return std::shared_ptr<const plist::Value>(std::move(parsed), value);
}

Error signatureError(const Error& cause) {
    return Error{cause.offset, "invalid or unsupported format for signature: " + cause.message,
                 cause.code};
}

Error signatureError(const char* what) {
    return signatureError(Error{0, what, ErrorCode::unsupported});
}

bool boundSlot(const CodeDirectory& cd, std::uint32_t slot) {
    const auto hash = cd.specialSlotHash(slot);
    return hash &&
           std::any_of(hash->begin(), hash->end(), [](std::byte b) { return b != std::byte{0}; });
}

std::size_t entries(const plist::Value* value) {
    const plist::Dictionary* dict = value ? value->dictionary() : nullptr;
    return dict ? dict->size() : 0;
}

/// The seal as codesign sums it up; "none" when it is unbound or no plist.
std::string sealedResources(const plist::Value* seal) {
    const plist::Dictionary* dict = seal ? seal->dictionary() : nullptr;
    if (!dict) return "none";
    const bool v2 = dict->find("files2") != nullptr;
    return "version=" + std::string(v2 ? "2" : "1") +
           " rules=" + std::to_string(entries(dict->find(v2 ? "rules2" : "rules"))) +
           " files=" + std::to_string(entries(dict->find(v2 ? "files2" : "files")));
}

std::string runtimeVersion(std::uint32_t v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
           std::to_string(v & 0xFF);
}

}  // namespace

std::string flagNames(std::uint32_t flags) {
    static constexpr std::pair<std::uint32_t, const char*> names[] = {
        {0x1, "host"},
        {codesig::CS_ADHOC, "adhoc"},
        {codesig::CS_HARD, "hard"},
        {codesig::CS_KILL, "kill"},
        {codesig::CS_CHECK_EXPIRATION, "expires"},
        {codesig::CS_RESTRICT, "restrict"},
        {codesig::CS_ENFORCEMENT, "enforcement"},
        {codesig::CS_REQUIRE_LV, "library-validation"},
        {codesig::CS_RUNTIME, "runtime"},
        {codesig::CS_LINKER_SIGNED, "linker-signed"},
    };
    if (flags == 0) return "none";
    std::string out;
    for (const auto& [bit, name] : names)
        if (flags & bit) out += (out.empty() ? "" : ",") + std::string(name);
    return out;
}

Expected<void> writeDetails(const CodeObject& code, const CodeLocation& location,
                            const std::string& format, std::ostream& err) {
    const codesig::SuperBlob& sb = *code.signature;
    auto found = codeDirectories(sb);
    if (!found) return signatureError(found.error());
    const std::vector<CodeDirectory>& directories = found->all;
    const CodeDirectory& cd = found->chosen();
    const HashKind& kind = *hashKind(cd.hashType);
    const auto cdDigest = directoryDigest(code, found->chosenSlot(), cd);
    if (cdDigest.empty()) return signatureError("the code directory could not be hashed");
    // Files first, so that one that can't be read stops the display before it starts.
    const bool infoBound = boundSlot(cd, codesig::CSSLOT_INFOSLOT);
    const bool sealBound = boundSlot(cd, codesig::CSSLOT_RESOURCEDIR);
    const auto info = readPlist(infoBound ? location.infoPlist : std::nullopt, location);
    if (!info) return info.error();
    const auto seal =
        readPlist(location.root && sealBound
                      ? std::optional(*location.root / "_CodeSignature" / "CodeResources")
                      : std::nullopt,
                  location);
    if (!seal) return seal.error();

    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", cd.flags);
    char version[16];
    std::snprintf(version, sizeof version, "%x", cd.version);
    err << "Identifier=" << visibleControls(cd.identifier) << '\n'
        << "Format=" << visibleControls(format) << '\n'
        << "CodeDirectory v=" << version << " size=" << cd.length << " flags=" << flags << '('
        << flagNames(cd.flags) << ") hashes=" << cd.nCodeSlots << '+' << cd.nSpecialSlots
        << " location=embedded\n"
        << "Hash type=" << kind.name << " size=" << unsigned{cd.hashSize} << '\n';
    // One candidate pair per code directory: the cdhash cut to 20 bytes, then whole.
    std::string choices;
    for (std::size_t i = 0; i < directories.size(); ++i) {
        const std::string name = hashKind(directories[i].hashType)->name;
        const auto full = directoryDigest(code, found->slotNumbers[i], directories[i]);
        if (full.empty()) return signatureError("a code directory could not be hashed");
        err << "CandidateCDHash " << name << '='
            << hex(std::span(full).first(std::min<std::size_t>(20, full.size()))) << '\n'
            << "CandidateCDHashFull " << name << '=' << hex(full) << '\n';
        choices += (choices.empty() ? "" : ",") + name;
    }
    err << "Hash choices=" << choices << '\n'
        << "CMSDigest=" << hex(cdDigest) << '\n'
        << "CMSDigestType=" << unsigned{cd.hashType} << '\n'
        << "CDHash=" << hex(std::span(cdDigest).first(std::min<std::size_t>(20, cdDigest.size())))
        << '\n';

    auto cms = sb.cmsSignature();
    if (!cms) return signatureError(cms.error());
    if (!*cms || (*cms)->empty()) {
        err << "Signature=adhoc\n";
    } else {
        const auto parsedShared = signing::parseCmsShared(**cms);
        const Expected<signing::CmsSignature>& parsed = *parsedShared;
        if (!parsed) return signatureError(parsed.error());
        err << "Signature size=" << (*cms)->size() << '\n';
        for (const auto& c : parsed->chain())
            err << "Authority=" << visibleControls(c.commonName) << '\n';
        // codesign names the timestamp when there is one, else the signer's own clock.
        if (parsed->timestamp)
            err << "Timestamp=" << signing::codesignDate(*parsed->timestamp) << '\n';
        else if (parsed->signingTime)
            err << "Signed Time=" << signing::codesignDate(*parsed->signingTime) << '\n';
    }

    if (*info)
        err << "Info.plist entries=" << entries(info->get()) << '\n';
    else
        err << "Info.plist=not bound\n";
    err << "TeamIdentifier=" << (cd.teamId ? visibleControls(*cd.teamId) : "not set") << '\n';
    if ((cd.flags & codesig::CS_RUNTIME) && cd.runtime && *cd.runtime)
        err << "Runtime Version=" << runtimeVersion(*cd.runtime) << '\n';
    const std::string sealed = sealedResources(seal->get());
    err << "Sealed Resources" << (sealed == "none" ? "=" : " ") << sealed << '\n';

    auto requirements = sb.requirements();
    if (!requirements) return signatureError(requirements.error());
    if (const auto* e = sb.find(codesig::CSSLOT_REQUIREMENTS); e && *requirements)
        err << "Internal requirements count=" << (*requirements)->entries.size()
            << " size=" << e->length << '\n';
    else
        err << "Internal requirements=none\n";
    return {};
}

}  // namespace varko::codesign
