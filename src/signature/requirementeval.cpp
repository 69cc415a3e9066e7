#include "signature/requirementeval.h"

#include <algorithm>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/codesig/derentitlements.h"
#include "format/codesig/requirement.h"
#include "format/itemfile.h"
#include "format/plist/plist.h"
#include "signature/codehash.h"
#include "signature/codeverifier.h"

namespace varko::codesign {

namespace {

using namespace codesig;

// What `anchor apple` asks of the first intermediate and of the leaf.
constexpr std::string_view appleIntermediateCN = "Apple Code Signing Certification Authority";
constexpr std::string_view appleIntermediateO = "Apple Inc.";
constexpr std::string_view softwareSigningMarker = "1.2.840.113635.100.6.22";

// The subject fields the platform reads, by their attribute types.
constexpr struct {
    std::string_view key, oid;
} subjectFields[] = {{"subject.C", "2.5.4.6"},
                     {"subject.CN", "2.5.4.3"},
                     {"subject.D", "2.5.4.13"},
                     {"subject.L", "2.5.4.7"},
                     {"subject.O", "2.5.4.10"},
                     {"subject.C-O", "2.5.4.10.1"},
                     {"subject.OU", "2.5.4.11"},
                     {"subject.C-OU", "2.5.4.11.1"},
                     {"subject.ST", "2.5.4.8"},
                     {"subject.C-ST", "2.5.4.8.1"},
                     {"subject.STREET", "2.5.4.9"},
                     {"subject.C-STREET", "2.5.4.9.1"},
                     {"subject.UID", "0.9.2342.19200300.100.1.1"}};

constexpr std::size_t maxBoundPlistBytes = 1u << 20;

Truth truth(bool b) {
    return b ? Truth::yes : Truth::no;
}

/// A value a field is matched against: absent, the marker of a certificate field, or a
/// property-list value.
struct Candidate {
    enum { absent, present, value } kind = absent;
    const plist::Value* plist = nullptr;
};

/// Compares as the platform's numeric string comparison does: runs of digits by their value.
int compareNumerically(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.remove_prefix(std::min(na.find_first_not_of('0'), na.size()));
            nb.remove_prefix(std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
            if (const int c = na.compare(nb)) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i, ++j;
    }
    return i < a.size() ? 1 : j < b.size() ? -1 : 0;
}

/// A match operation and its operand, read from the program.
struct Match {
    std::uint32_t op = matchExists;
    std::string text;
    std::int64_t seconds = 0;  ///< since 2001, for the date operations

    [[nodiscard]] bool operator()(const Candidate& c, int depth = 0) const {
        if (c.kind == Candidate::absent) return op == matchAbsent;
        if (c.kind == Candidate::present) return op == matchExists;
        return (*this)(*c.plist, depth);
    }

    [[nodiscard]] bool operator()(const plist::Value& v, int depth) const {
        // An array matches when any element does, and then as itself.
        if (const auto* array = v.array(); array && depth < maxRequirementDepth)
            for (const auto& element : *array)
                if ((*this)(element, depth + 1)) return true;
        const std::string* s = v.string();
        switch (op) {
            case matchAbsent:
                return false;
            case matchExists:
                return !(v.boolean() && !*v.boolean());
            case matchEqual:
                return s && *s == text;
            case matchContains:
                return s && s->find(text) != std::string::npos;
            case matchBeginsWith:
                return s && s->starts_with(text);
            case matchEndsWith:
                return s && s->ends_with(text);
            case matchLessThan:
                return s && compareNumerically(*s, text) < 0;
            case matchGreaterThan:
                return s && compareNumerically(*s, text) > 0;
            case matchLessEqual:
                return s && compareNumerically(*s, text) <= 0;
            case matchGreaterEqual:
                return s && compareNumerically(*s, text) >= 0;
            case matchOn:
            case matchBefore:
            case matchAfter:
            case matchOnOrBefore:
            case matchOnOrAfter: {
                const auto* date = v.date();
                if (!date) return false;
                const double when = static_cast<double>(seconds);
                const int order = date->secondsSince2001 < when   ? -1
                                  : date->secondsSince2001 > when ? 1
                                                                  : 0;
                return op == matchOn           ? order == 0
                       : op == matchBefore     ? order < 0
                       : op == matchAfter      ? order > 0
                       : op == matchOnOrBefore ? order <= 0
                                               : order >= 0;
            }
            default:
                return false;
        }
    }
};

/// Reads a program as the platform's interpreter does: both operands of and/or are always
/// read, so that the program counter stays right whatever the first one gave.
class Evaluator {
public:
    Evaluator(std::span<const std::byte> blob, const RequirementContext& context)
        : r(blob), ctx(context) {}

    Truth expr(int depth);
    std::optional<Error> failure;
    std::vector<std::string> unknowns;

private:
    void fail(const std::string& why, ErrorCode code = ErrorCode::malformed) {
        if (!failure)
            failure = Error{pc, "invalid or corrupted code requirement(s) (" + why + ")", code};
    }
    std::uint32_t word() {
        const auto v = failure ? std::nullopt : r.u32be(pc);
        if (!v) {
            fail("it ends inside an expression", ErrorCode::truncated);
            return 0;
        }
        pc += 4;
        return *v;
    }
    std::int64_t word64() {
        const std::uint64_t high = word();
        return static_cast<std::int64_t>(high << 32 | word());
    }
    std::string data() {
        const std::uint32_t length = word();
        const auto bytes = failure ? std::nullopt : r.text(pc, length);
        if (!bytes) {
            fail("a string of " + std::to_string(length) + " bytes runs past its end",
                 ErrorCode::truncated);
            return {};
        }
        pc += (std::uint64_t{length} + 3) & ~std::uint64_t{3};
        return std::string(*bytes);
    }
    Match match() {
        Match m;
        m.op = word();
        if (m.op >= matchOn && m.op <= matchOnOrAfter)
            m.seconds = word64();
        else if (m.op != matchExists && m.op != matchAbsent)
            m.text = data();
        return m;
    }
    Truth unknown(std::string why) {
        if (std::find(unknowns.begin(), unknowns.end(), why) == unknowns.end())
            unknowns.push_back(std::move(why));
        return Truth::unknown;
    }
    /// The certificate in `slot`: from the leaf, or counted back from the anchor.
    const signing::Certificate* cert(std::int32_t slot) const {
        const auto count = static_cast<std::int64_t>(ctx.chain.size());
        const std::int64_t at = slot < 0 ? slot + count : slot;
        return at >= 0 && at < count ? &ctx.chain[static_cast<std::size_t>(at)] : nullptr;
    }
    bool appleAnchored() const {
        return !ctx.chain.empty() && ctx.appleRoots.contains(ctx.chain.back().fingerprint);
    }
    Truth field(const std::optional<plist::Dictionary>& dict, const std::string& key,
                const Match& m) const {
        const plist::Value* v = dict ? dict->find(key) : nullptr;
        return truth(m(v ? Candidate{Candidate::value, v} : Candidate{}));
    }
    Truth certField(std::int32_t slot, const std::string& key, const Match& m);
    Truth certOid(std::uint32_t op, std::int32_t slot, const std::string& oid, const Match& m);

    ByteReader r;
    std::uint64_t pc = 12;
    const RequirementContext& ctx;
};

/// DER arcs to dotted text; empty when they do not decode.
std::string dottedOid(std::string_view der) {
    std::string out;
    std::uint64_t arc = 0;
    bool first = true;
    for (std::size_t n = 0; n < der.size(); ++n) {
        const auto c = static_cast<unsigned char>(der[n]);
        if (arc >> 56) return {};
        arc = arc << 7 | (c & 0x7f);
        if (c & 0x80) {
            if (n + 1 == der.size()) return {};
            continue;
        }
        if (first) {
            const std::uint64_t top = std::min<std::uint64_t>(arc / 40, 2);
            out = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            out += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return out;
}

Truth Evaluator::certField(std::int32_t slot, const std::string& key, const Match& m) {
    const signing::Certificate* c = cert(slot);
    if (!c) return Truth::no;
    if (key == "email") return unknown("certificate e-mail addresses are not read here");
    for (const auto& field : subjectFields) {
        if (field.key != key) continue;
        // A field the certificate lacks fails the lookup, and the clause with it.
        for (const auto& [type, value] : c->subjectAttributes)
            if (type == field.oid) {
                const plist::Value v(value);
                return truth(m(Candidate{Candidate::value, &v}));
            }
        return Truth::no;
    }
    return Truth::no;
}

Truth Evaluator::certOid(std::uint32_t op, std::int32_t slot, const std::string& oid,
                         const Match& m) {
    const signing::Certificate* c = cert(slot);
    if (op == opCertFieldDate)
        return c ? unknown("dates in certificate extensions are not read here")
                 : truth(m(Candidate{}));
    if (!c) return Truth::no;
    const std::string dotted = dottedOid(oid);
    const auto& oids = op == opCertPolicy ? c->policyOids : c->extensionOids;
    const bool has = !dotted.empty() && std::find(oids.begin(), oids.end(), dotted) != oids.end();
    return truth(m(has ? Candidate{Candidate::present} : Candidate{}));
}

Truth Evaluator::expr(int depth) {
    if (failure) return Truth::no;
    if (depth > maxRequirementDepth) {
        fail("it nests deeper than " + std::to_string(maxRequirementDepth) + " levels",
             ErrorCode::tooLarge);
        return Truth::no;
    }
    const std::uint32_t op = word();
    if (failure) return Truth::no;
    switch (op & ~opFlagMask) {
        case opFalse:
            return Truth::no;
        case opTrue:
            return Truth::yes;
        case opIdent:
            return truth(data() == ctx.identifier && ctx.hasDirectory);
        case opAppleAnchor: {
            // Offline there is no trust cache, and no local anchor.
            const signing::Certificate* leaf = cert(0);
            const signing::Certificate* intermediate = cert(-2);
            return truth(appleAnchored() && leaf && intermediate &&
                         intermediate->commonName == appleIntermediateCN &&
                         intermediate->organization == appleIntermediateO &&
                         leaf->hasMarker(softwareSigningMarker));
        }
        case opAppleGenericAnchor:
            return truth(appleAnchored());
        case opAnchorHash: {
            const signing::Certificate* c = cert(static_cast<std::int32_t>(word()));
            const std::string hash = data();
            if (!c) return Truth::no;
            const auto sha1 = digest(*hashKind(CS_HASHTYPE_SHA1),
                                     std::as_bytes(std::span(c->der.data(), c->der.size())));
            return truth(!sha1.empty() && hash == std::string(sha1.begin(), sha1.end()));
        }
        case opInfoKeyValue: {
            const std::string key = data();
            Match m;
            m.op = matchEqual;
            m.text = data();
            return field(ctx.info, key, m);
        }
        case opAnd:
        case opOr: {
            const Truth left = expr(depth + 1);
            const Truth right = expr(depth + 1);
            const Truth decisive = (op & ~opFlagMask) == opAnd ? Truth::no : Truth::yes;
            if (left == decisive || right == decisive) return decisive;
            if (left == Truth::unknown || right == Truth::unknown) return Truth::unknown;
            return left;
        }
        case opCDHash: {
            const std::string hash = data();
            return truth(ctx.hasDirectory &&
                         hash == std::string(ctx.cdhash.begin(), ctx.cdhash.end()));
        }
        case opNot: {
            const Truth inner = expr(depth + 1);
            return inner == Truth::unknown ? inner : truth(inner == Truth::no);
        }
        case opInfoKeyField:
        case opEntitlementField: {
            const std::string key = data();
            const Match m = match();
            return field((op & ~opFlagMask) == opInfoKeyField ? ctx.info : ctx.entitlements, key,
                         m);
        }
        case opCertField: {
            const auto slot = static_cast<std::int32_t>(word());
            const std::string key = data();
            const Match m = match();
            return failure ? Truth::no : certField(slot, key, m);
        }
        case opCertGeneric:
        case opCertPolicy:
        case opCertFieldDate: {
            const auto slot = static_cast<std::int32_t>(word());
            const std::string oid = data();
            const Match m = match();
            return failure ? Truth::no : certOid(op & ~opFlagMask, slot, oid, m);
        }
        case opTrustedCert: {
            const auto slot = static_cast<std::int32_t>(word());
            const signing::Certificate* c = cert(slot);
            if (!c) return Truth::no;
            if (c == &ctx.chain.back() && appleAnchored()) return Truth::yes;
            return unknown("this Mac's certificate trust settings are not read here");
        }
        case opTrustedCerts:
            if (ctx.chain.empty()) return Truth::no;
            if (appleAnchored()) return Truth::yes;
            return unknown("this Mac's certificate trust settings are not read here");
        case opNamedAnchor:
        case opNamedCode:
            return unknown("named requirement \"" + data().substr(0, 80) +
                           "\" is the system's and not known here");
        case opPlatform:
            return truth(ctx.hasDirectory &&
                         static_cast<std::int32_t>(word()) == std::int32_t{ctx.platform});
        case opNotarized:
            return unknown("notarization cannot be checked offline");
        case opLegacyDevID:
            return unknown("the legacy Developer ID policy cannot be checked offline");
        default:
            if (op & (opGenericFalse | opGenericSkip)) {
                // It carries its own length, so it can be stepped over.
                const std::uint32_t size = word();
                if (!r.has(pc, size)) {
                    fail("an unknown opcode's " + std::to_string(size) + " bytes run past its end",
                         ErrorCode::truncated);
                    return Truth::no;
                }
                pc += size;
                return op & opGenericFalse ? Truth::no : expr(depth + 1);
            }
            fail("opcode " + std::to_string(op) + " is not implemented", ErrorCode::unsupported);
            return Truth::no;
    }
}

/// The Info.plist at `location` if the signature binds it as it is now.
std::optional<plist::Dictionary> boundInfo(const CodeDirectory& cd, const CodeLocation& location) {
    const auto stored = cd.specialSlotHash(CSSLOT_INFOSLOT);
    const HashKind* kind = hashKind(cd.hashType);
    if (!location.infoPlist || !stored || !kind) return std::nullopt;
    auto bytes = readSmallFile(*location.infoPlist, maxBoundPlistBytes,
                               location.within ? &*location.within : nullptr);
    if (!bytes) return std::nullopt;
    const auto hash = digest(*kind, *bytes);
    if (hash.size() < stored->size() ||
        !std::equal(stored->begin(), stored->end(), hash.begin(),
                    [](std::byte a, unsigned char b) { return a == std::byte{b}; }))
        return std::nullopt;
    auto parsed = plist::parse(*bytes);
    if (!parsed || !parsed->dictionary()) return std::nullopt;
    return std::move(*parsed->dictionary());
}

}  // namespace

Expected<RequirementOutcome> evaluateRequirement(std::span<const std::byte> blob,
                                                 const RequirementContext& context) {
    const ByteReader r(blob);
    const auto magic = r.u32be(0);
    const auto length = r.u32be(4);
    const auto kind = r.u32be(8);
    if (!magic || !length || !kind || *magic != CSMAGIC_REQUIREMENT || *length < 12 ||
        *length > r.size() || *length > maxRequirementBytes)
        return Error{0, "invalid or corrupted code requirement(s)", ErrorCode::malformed};
    if (*kind != requirementExprForm)
        return Error{8, "unsupported type or version of code requirement(s)",
                     ErrorCode::unsupported};
    Evaluator e(blob.first(*length), context);
    RequirementOutcome out;
    out.truth = e.expr(0);
    if (e.failure) return *e.failure;
    if (out.truth == Truth::unknown) out.unknowns = std::move(e.unknowns);
    return out;
}

Expected<std::vector<signing::Certificate>> verifiedChain(const CodeObject& code,
                                                          const signing::TrustAnchors& anchors,
                                                          std::int64_t now) {
    if (!code.signature) return std::vector<signing::Certificate>{};
    auto directories = codeDirectories(*code.signature);
    if (!directories) return directories.error();
    auto cmsBlob = code.signature->cmsSignature();
    if (!cmsBlob) return cmsBlob.error();
    if (!*cmsBlob || (*cmsBlob)->empty()) return std::vector<signing::Certificate>{};
    const auto cmsShared = signing::parseCmsShared(**cmsBlob);
    const Expected<signing::CmsSignature>& cms = *cmsShared;
    if (!cms) return cms.error();
    auto verdict =
        signing::verifyCmsSignature(*cms, directoryBytes(directories->all.front()), anchors, now);
    if (!verdict) return verdict.error();
    return std::move(verdict->chain);
}

Expected<RequirementContext> requirementContext(const CodeObject& code,
                                                const CodeLocation& location,
                                                std::vector<signing::Certificate> chain,
                                                const signing::TrustAnchors& appleRoots) {
    RequirementContext ctx;
    ctx.chain = std::move(chain);
    ctx.appleRoots = appleRoots;
    if (!code.signature) return ctx;
    auto found = codeDirectories(*code.signature);
    if (!found) return found.error();
    const CodeDirectory& cd = found->chosen();
    ctx.hasDirectory = true;
    ctx.identifier = cd.identifier;
    ctx.platform = cd.platform;
    ctx.cdhash = directoryDigest(code, found->chosenSlot(), cd);
    ctx.cdhash.resize(std::min<std::size_t>(ctx.cdhash.size(), 20));
    ctx.info = boundInfo(cd, location);
    // The XML form, else the DER one; the signature's own checks decide whether they hold.
    auto xml = code.signature->entitlements();
    if (!xml) return xml.error();
    if (*xml) {
        auto parsed = plist::parse(**xml);
        if (parsed && parsed->dictionary()) ctx.entitlements = std::move(*parsed->dictionary());
    } else {
        auto der = code.signature->derEntitlements();
        if (!der) return der.error();
        if (*der) {
            auto parsed = parseDerEntitlements(**der);
            if (parsed) ctx.entitlements = std::move(*parsed);
        }
    }
    return ctx;
}

}  // namespace varko::codesign
