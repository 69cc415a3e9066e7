#include "format/codesig/requirement.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string_view>

#include "format/bytereader.h"
#include "format/codesig/csblobs.h"
#include "format/hex.h"

namespace varko::codesig {

namespace {

// Where an expression stands decides whether and/or need parentheses.
enum class Level { primary, conjunction, disjunction, top };

// The words of the language: a string spelled like one must be quoted. The empty string is
// among them, so that it prints as "".
constexpr std::array<std::string_view, 30> keywords = {
    "guest",   "host",        "designated", "library", "plugin",    "or",
    "and",     "always",      "true",       "never",   "false",     "identifier",
    "cdhash",  "platform",    "notarized",  "legacy",  "anchor",    "apple",
    "generic", "certificate", "cert",       "trusted", "info",      "entitlement",
    "exists",  "absent",      "leaf",       "root",    "timestamp", ""};

constexpr const char* typeNames[] = {"invalid", "host", "guest", "designated", "library", "plugin"};

// Total output, whatever a set's entries share: they may all name one large requirement.
constexpr std::size_t maxTextBytes = 4u << 20;

Error invalid(std::uint64_t offset, const std::string& why, ErrorCode code = ErrorCode::malformed) {
    return Error{offset, "invalid or corrupted code requirement(s) (" + why + ")", code};
}

std::string hexBytes(std::span<const std::byte> bytes) {
    return hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isAlnum(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isGraph(unsigned char c) {
    return c > 0x20 && c < 0x7f;
}
bool isSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

/// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil(std::int64_t days, std::int64_t& y, unsigned& m, unsigned& d) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

/// Reads one requirement's program and prints it. A read past the blob stops everything:
/// every later read fails too, so the walk winds down without looking at more bytes.
class Printer {
public:
    Printer(std::span<const std::byte> blob, std::size_t& budget) : r(blob), budget(budget) {}

    void expr(Level level = Level::top, int depth = 0);
    [[nodiscard]] const std::optional<Error>& error() const { return failure; }
    std::string text;

private:
    // The platform formats each piece into a 256-byte buffer, so no piece passes 255 bytes;
    // a hash or binary string is printed a byte at a time, so it is never cut.
    void print(std::string_view piece, bool whole = false) {
        if (!whole && piece.size() > 255) piece = piece.substr(0, 255);
        if (piece.size() > budget)
            return fail(invalid(pc, "its text is too long", ErrorCode::tooLarge));
        budget -= piece.size();
        text += piece;
    }
    void fail(Error e) {
        if (!failure) failure = std::move(e);
    }
    std::uint64_t get(unsigned size) {
        const auto v = failure ? std::nullopt : r.uintBE(pc, size);
        if (!v) {
            fail(invalid(pc, "it ends inside an expression", ErrorCode::truncated));
            return 0;
        }
        pc += size;
        return *v;
    }
    std::span<const std::byte> data() {
        const std::uint64_t length = get(4);
        const auto bytes = failure ? std::nullopt : r.slice(pc, length);
        if (!bytes) {
            fail(invalid(pc, "a string of " + std::to_string(length) + " bytes runs past its end",
                         ErrorCode::truncated));
            return {};
        }
        pc += (length + 3) & ~std::uint64_t{3};
        return *bytes;
    }
    void string(bool dotOkay = false);
    void hash();
    void certSlot();
    void oid(const char* kind);
    void match();
    void timestamp();

    ByteReader r;
    std::uint64_t pc = 12;  // past magic, length and kind
    std::size_t& budget;
    std::optional<Error> failure;
};

void Printer::string(bool dotOkay) {
    const auto bytes = data();
    enum { simple, printable, binary } mode = simple;
    for (std::size_t n = 0; n < bytes.size() && mode != binary; ++n) {
        const auto c = std::to_integer<unsigned char>(bytes[n]);
        if (isAlnum(c) || (c == '.' && dotOkay)) {
            if (n == 0 && isDigit(c)) mode = printable;
        } else if (isGraph(c) || isSpace(c)) {
            if (mode == simple) mode = printable;
        } else {
            mode = binary;
        }
    }
    const std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (mode == simple)
        for (const std::string_view k : keywords)
            if (s == k) mode = printable;
    if (mode == simple) return print(s);
    // Quoted, it is printed a character at a time, so it is never cut.
    if (mode == binary) {
        print("0x");
        return print(hexBytes(bytes), true);
    }
    std::string quoted = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    print(quoted + "\"", true);
}

void Printer::hash() {
    const auto bytes = data();
    print("H\"");
    print(hexBytes(bytes), true);
    print("\"");
}

void Printer::certSlot() {
    const auto slot = static_cast<std::int32_t>(get(4));
    print(slot == -1 ? " root" : slot == 0 ? " leaf" : " " + std::to_string(slot));
}

void Printer::oid(const char* kind) {
    const std::uint64_t start = pc + 4;
    const auto bytes = data();
    std::string dotted;
    std::size_t pos = 0;
    // Each arc as the platform reads it: 7 bits a byte, wrapping as an unsigned long does,
    // and an arc left open at the end takes one more byte, the one after the data.
    const auto arc = [&] {
        std::uint64_t q = 0;
        for (;;) {
            const std::uint64_t at = start + pos;
            const auto c = at < r.size() ? *r.u8(at) : 0;
            q = q * 128 + (c & 0x7f);
            if (pos >= bytes.size()) break;
            ++pos;
            if (!(c & 0x80)) break;
        }
        return q;
    };
    if (!bytes.empty()) {
        // The first arc packs two; its buffer holds 9 characters, the others' 19.
        const std::uint64_t first = arc();
        const std::uint64_t q1 = std::min<std::uint64_t>(first / 40, 2);
        dotted = (std::to_string(q1) + "." + std::to_string(first - q1 * 40)).substr(0, 9);
        while (pos < bytes.size()) dotted += ("." + std::to_string(arc())).substr(0, 19);
    }
    print(std::string(kind) + "." + dotted);
}

void Printer::timestamp() {
    // Seconds since 2001-01-01 UTC, shown as the platform describes a date.
    const auto seconds = static_cast<std::int64_t>(get(8));
    const std::int64_t days = seconds / 86400 - (seconds % 86400 < 0) + 11323;
    const std::int64_t inDay = (seconds % 86400 + 86400) % 86400;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil(days, y, m, d);
    char out[64];
    std::snprintf(out, sizeof out, "<%04lld-%02u-%02u %02lld:%02lld:%02lld +0000>",
                  static_cast<long long>(y), m, d, static_cast<long long>(inDay / 3600),
                  static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
    print(out);
}

void Printer::match() {
    static constexpr const char* operators[] = {nullptr, " = ", " ~ ",  " = ",  " = *",
                                                " < ",   " > ", " <= ", " >= ", " = ",
                                                " < ",   " > ", " <= ", " >= "};
    const auto op = static_cast<std::uint32_t>(get(4));
    if (failure) return;
    if (op == matchExists) return print(" /* exists */");
    if (op == matchAbsent) return print(" absent ");
    if (op > matchOnOrAfter)
        return print("MATCH OPCODE " + std::to_string(static_cast<std::int32_t>(op)) +
                     " NOT UNDERSTOOD");
    print(operators[op]);
    if (op >= matchOn) return timestamp();
    string();
    if (op == matchBeginsWith) print("*");
}

void Printer::expr(Level level, int depth) {
    if (depth > maxRequirementDepth)
        return fail(
            invalid(pc, "it nests deeper than " + std::to_string(maxRequirementDepth) + " levels",
                    ErrorCode::tooLarge));
    const auto op = static_cast<std::uint32_t>(get(4));
    if (failure) return;
    const auto binary = [&](Level inner, const char* word) {
        if (level < inner) print("(");
        expr(inner, depth + 1);
        print(word);
        expr(inner, depth + 1);
        if (level < inner) print(")");
    };
    switch (op & ~opFlagMask) {
        case opFalse:
            return print("never");
        case opTrue:
            return print("always");
        case opIdent:
            print("identifier ");
            return string();
        case opAppleAnchor:
            return print("anchor apple");
        case opAppleGenericAnchor:
            return print("anchor apple generic");
        case opAnchorHash:
            print("certificate");
            certSlot();
            print(" = ");
            return hash();
        case opInfoKeyValue:
            print("info[");
            string(true);
            print("] = ");
            return string();
        case opAnd:
            return binary(Level::conjunction, " and ");
        case opOr:
            return binary(Level::disjunction, " or ");
        case opNot:
            print("! ");
            return expr(Level::primary, depth + 1);
        case opCDHash:
            print("cdhash ");
            return hash();
        case opInfoKeyField:
        case opEntitlementField:
            print((op & ~opFlagMask) == opInfoKeyField ? "info[" : "entitlement[");
            string(true);
            print("]");
            return match();
        case opCertField:
            print("certificate");
            certSlot();
            print("[");
            string(true);
            print("]");
            return match();
        case opCertGeneric:
        case opCertPolicy:
        case opCertFieldDate: {
            const std::uint32_t code = op & ~opFlagMask;
            print("certificate");
            certSlot();
            print("[");
            oid(code == opCertGeneric ? "field" : code == opCertPolicy ? "policy" : "timestamp");
            print("]");
            return match();
        }
        case opTrustedCert:
            // Without a space, as the platform prints it.
            print("certificate");
            certSlot();
            return print("trusted");
        case opTrustedCerts:
            return print("anchor trusted");
        case opNamedAnchor:
            print("anchor apple ");
            return string();
        case opNamedCode:
            print("(");
            string();
            return print(")");
        case opPlatform:
            return print("platform = " + std::to_string(static_cast<std::int32_t>(get(4))));
        case opNotarized:
            return print("notarized");
        case opLegacyDevID:
            return print("legacy");
        default: {
            // The platform prints what it does not know and reads on from the next word.
            const std::string code = std::to_string(static_cast<std::int32_t>(op & ~opFlagMask));
            if (op & opGenericFalse) return print(" false /* opcode " + code + " */");
            if (op & opGenericSkip) return print(" /* opcode " + code + " */");
            return print("OPCODE " + std::to_string(static_cast<std::int32_t>(op)) +
                         " NOT UNDERSTOOD (ending print)");
        }
    }
}

/// A requirement blob's own bytes, checked: magic, a length inside `bytes`, a kind printed
/// as an expression.
Expected<std::span<const std::byte>> requirementBlob(std::span<const std::byte> bytes) {
    const ByteReader r(bytes);
    const auto magic = r.u32be(0);
    const auto length = r.u32be(4);
    if (!magic || !length) return invalid(0, "a requirement needs 12 bytes", ErrorCode::truncated);
    if (*magic != CSMAGIC_REQUIREMENT)
        return invalid(0, "magic " + hex(*magic) + " is not a requirement's");
    if (*length < 12 || *length > r.size())
        return invalid(4,
                       "length " + std::to_string(*length) + " does not fit its " +
                           std::to_string(r.size()) + " bytes",
                       *length < 12 ? ErrorCode::malformed : ErrorCode::truncated);
    if (*length > maxRequirementBytes)
        return invalid(4, "length " + std::to_string(*length) + " is past the limit",
                       ErrorCode::tooLarge);
    const std::uint32_t kind = *r.u32be(8);
    if (kind != requirementExprForm && kind != requirementLwcrForm)
        return Error{8,
                     "unsupported type or version of code requirement(s) (kind " +
                         std::to_string(kind) + ")",
                     ErrorCode::unsupported};
    return bytes.first(*length);
}

Expected<std::string> printOne(std::span<const std::byte> bytes, std::size_t& budget, bool strip) {
    auto blob = requirementBlob(bytes);
    if (!blob) return blob.error();
    Printer p(*blob, budget);
    p.expr();
    if (p.error()) return *p.error();
    if (strip && !p.text.empty() && p.text.front() == ' ') p.text.erase(0, 1);
    return std::move(p.text);
}

}  // namespace

Expected<std::string> requirementText(std::span<const std::byte> blob) {
    std::size_t budget = maxTextBytes;
    return printOne(blob, budget, true);
}

Expected<std::string> requirementSetText(std::span<const std::byte> blob) {
    const ByteReader r(blob);
    // A single requirement where a set belongs is printed as one, as the platform does.
    if (r.u32be(0) == CSMAGIC_REQUIREMENT) {
        auto one = requirementText(blob);
        if (!one) return one;
        return *one + "\n";
    }
    const auto magic = r.u32be(0);
    const auto length = r.u32be(4);
    const auto count = r.u32be(8);
    if (!magic || !length || !count)
        return invalid(0, "a requirement set needs 12 bytes", ErrorCode::truncated);
    if (*magic != CSMAGIC_REQUIREMENTS)
        return invalid(0, "magic " + hex(*magic) + " is no requirement set's");
    if (*length < 12 || *length > r.size())
        return invalid(4,
                       "set length " + std::to_string(*length) + " does not fit its " +
                           std::to_string(r.size()) + " bytes",
                       ErrorCode::truncated);
    if (*length > maxRequirementBytes)
        return invalid(4, "set length " + std::to_string(*length) + " is past the limit",
                       ErrorCode::tooLarge);
    if (*count > (*length - 12) / 8)
        return invalid(8, "count " + std::to_string(*count) + " does not fit in the set",
                       ErrorCode::truncated);
    const auto set = blob.first(*length);
    std::size_t budget = maxTextBytes;
    std::string out;
    for (std::uint32_t n = 0; n < *count; ++n) {
        const std::uint32_t type = *r.u32be(12 + 8 * std::uint64_t{n});
        const std::uint32_t offset = *r.u32be(16 + 8 * std::uint64_t{n});
        if (offset < 12 + 8 * std::uint64_t{*count} || offset >= *length)
            return invalid(16 + 8 * std::uint64_t{n},
                           "requirement " + std::to_string(n) + " lies outside the set");
        auto text = printOne(set.subspan(offset), budget, false);
        if (!text) {
            Error e = text.error();
            e.offset += offset;
            return e;
        }
        out += (type < std::size(typeNames)
                    ? std::string(typeNames[type])
                    : "/*unknown type*/ " + std::to_string(static_cast<std::int32_t>(type))) +
               " => " + *text + "\n";
    }
    return out;
}

RequirementMaker& RequirementMaker::word(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) program.push_back(std::byte(value >> shift));
    return *this;
}

RequirementMaker& RequirementMaker::data(std::span<const std::byte> bytes) {
    word(static_cast<std::uint32_t>(bytes.size()));
    program.insert(program.end(), bytes.begin(), bytes.end());
    program.resize((program.size() + 3) & ~std::size_t{3});
    return *this;
}

RequirementMaker& RequirementMaker::text(std::string_view chars) {
    return data(std::as_bytes(std::span(chars.data(), chars.size())));
}

std::vector<std::byte> RequirementMaker::make() const {
    RequirementMaker blob;
    blob.word(CSMAGIC_REQUIREMENT)
        .word(static_cast<std::uint32_t>(12 + program.size()))
        .word(requirementExprForm);
    blob.program.insert(blob.program.end(), program.begin(), program.end());
    return std::move(blob.program);
}

bool requirementSetHas(std::span<const std::byte> blob, std::uint32_t type) {
    const ByteReader r(blob);
    const auto count = r.u32be(8);
    if (r.u32be(0) != CSMAGIC_REQUIREMENTS || !count) return false;
    for (std::uint64_t n = 0; n < *count && r.has(12 + 8 * n, 8); ++n)
        if (r.u32be(12 + 8 * n) == type) return true;
    return false;
}

}  // namespace varko::codesig
