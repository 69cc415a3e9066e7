#include "format/codesig/requirement.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
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

namespace {

// The lexer's tokens; a word is an identifier or dotted key, and a keyword when it is spelled
// like one.
enum class Tok {
    end,
    word,
    path,
    hash,
    hexData,
    string,
    integer,
    arrow,
    semi,
    lparen,
    rparen,
    lbrack,
    rbrack,
    less,
    greater,
    lessEq,
    greaterEq,
    comma,
    eql,
    eqql,
    subs,
    neg,
    bang,
    star,
    date,
};

bool isAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned hexValue(unsigned char c) {
    return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}
bool isKeyword(std::string_view word) {
    for (const std::string_view k : keywords)
        if (!k.empty() && word == k) return true;
    return false;
}

/// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

/// A recursive-descent compiler over a one-token lookahead, as the platform's grammar needs
/// no more once a token is taken. The first error stops it: every later token is the end.
class Compiler {
public:
    explicit Compiler(std::string_view text) : src(text) {}

    Expected<std::vector<std::byte>> compile();

private:
    struct Token {
        Tok kind = Tok::end;
        std::string text;
        std::size_t at = 0;
    };

    // Lexing.
    void advance();
    bool skipBlank();
    [[nodiscard]] char peek(std::size_t ahead = 0) const {
        return pos + ahead < src.size() ? src[pos + ahead] : '\0';
    }

    // Tokens.
    [[nodiscard]] bool at(Tok kind) const { return tok.kind == kind; }
    [[nodiscard]] bool atWord(std::string_view word) const {
        return tok.kind == Tok::word && tok.text == word;
    }
    [[nodiscard]] bool atName() const {
        return (tok.kind == Tok::word && !isKeyword(tok.text)) || tok.kind == Tok::string;
    }
    bool accept(Tok kind) {
        if (!at(kind)) return false;
        advance();
        return true;
    }
    bool acceptWord(std::string_view word) {
        if (!atWord(word)) return false;
        advance();
        return true;
    }
    void expect(Tok kind, const char* what) {
        if (!accept(kind)) unexpected(what);
    }
    void unexpected(const char* what);
    void fail(std::size_t offset, const std::string& why, ErrorCode code = ErrorCode::malformed);

    // Grammar.
    std::vector<std::byte> requirement();
    int expr(int depth);
    int term(int depth);
    int primary(int depth);
    void certificate(const std::string& keyword);
    void certSlotSpec(std::int32_t slot);
    void certField(std::int32_t slot, const Token& key);
    void matchSuffix();
    std::string name();
    std::string dataValue();
    std::string hashValue();
    std::int32_t integer();
    std::int64_t timestamp();
    std::int32_t certSlot();
    int chain(int first, int next);

    // Output.
    void put(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) program.push_back(std::byte(value >> shift));
    }
    void put64(std::int64_t value) {
        put(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> 32));
        put(static_cast<std::uint32_t>(value));
    }
    void putData(std::string_view bytes) {
        put(static_cast<std::uint32_t>(bytes.size()));
        for (const char c : bytes) program.push_back(std::byte(c));
        program.resize((program.size() + 3) & ~std::size_t{3});
    }
    void insertOps(std::size_t label, std::size_t count, std::uint32_t op);

    std::string_view src;
    std::size_t pos = 0;
    Token tok;
    std::vector<std::byte> program;
    std::optional<Error> failure;
};

void Compiler::fail(std::size_t offset, const std::string& why, ErrorCode code) {
    if (failure) return;
    std::size_t line = 1, column = 1;
    for (std::size_t n = 0; n < offset && n < src.size(); ++n, ++column)
        if (src[n] == '\n') line += 1, column = 0;
    failure = Error{
        offset, "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + why,
        code};
    tok = Token{Tok::end, {}, src.size()};
    pos = src.size();
}

void Compiler::unexpected(const char* what) {
    if (failure) return;
    std::string seen =
        tok.kind == Tok::end
            ? "end of text"
            : "\"" + std::string(src.substr(tok.at, std::min<std::size_t>(pos - tok.at, 40))) +
                  "\"";
    fail(tok.at, "unexpected " + seen + ", expecting " + what);
}

bool Compiler::skipBlank() {
    for (;;) {
        const char c = peek();
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++pos;
        } else if (c == '#' || (c == '/' && peek(1) == '/')) {
            while (pos < src.size() && src[pos] != '\n') ++pos;
        } else if (c == '/' && peek(1) == '*') {
            const std::size_t close = src.find("*/", pos + 2);
            if (close == std::string_view::npos) {
                fail(pos, "a comment is never closed");
                return false;
            }
            pos = close + 2;
        } else {
            return true;
        }
    }
}

void Compiler::advance() {
    if (failure || !skipBlank()) return;
    tok = Token{Tok::end, {}, pos};
    if (pos >= src.size()) return;
    const auto c = static_cast<unsigned char>(src[pos]);
    const auto ident = [&] {
        while (pos < src.size() && isAlnum(static_cast<unsigned char>(src[pos]))) ++pos;
    };
    if (c == 'H' && peek(1) == '"') {
        pos += 2;
        const std::size_t start = pos;
        while (pos < src.size() && isHex(static_cast<unsigned char>(src[pos]))) ++pos;
        if (pos == start || peek() != '"') return fail(tok.at, "a hash is H\"hex digits\"");
        tok.kind = Tok::hash;
        tok.text = src.substr(start, pos++ - start);
    } else if (isAlpha(c)) {
        ident();
        // A dotted key: each part a word or a number.
        while (peek() == '.' && isAlnum(static_cast<unsigned char>(peek(1)))) {
            ++pos;
            if (isDigit(static_cast<unsigned char>(peek())))
                while (isDigit(static_cast<unsigned char>(peek()))) ++pos;
            else
                ident();
        }
        tok.kind = Tok::word;
        tok.text = src.substr(tok.at, pos - tok.at);
    } else if (c == '0' && peek(1) == 'x') {
        pos += 2;
        while (isHex(static_cast<unsigned char>(peek()))) ++pos;
        if (pos == tok.at + 2) return fail(tok.at, "0x needs hex digits");
        tok.kind = Tok::hexData;
        tok.text = src.substr(tok.at + 2, pos - tok.at - 2);
    } else if (isDigit(c)) {
        while (isDigit(static_cast<unsigned char>(peek()))) ++pos;
        tok.kind = Tok::integer;
        tok.text = src.substr(tok.at, pos - tok.at);
    } else if (c == '"') {
        tok.kind = Tok::string;
        for (++pos;; ++pos) {
            if (pos >= src.size()) return fail(tok.at, "a string is never closed");
            const char ch = src[pos];
            if (ch == '"') break;
            // Only a quote is escaped in the platform's language; a backslash too, as the
            // printer writes it.
            if (ch == '\\') {
                if (peek(1) != '"' && peek(1) != '\\')
                    return fail(pos, "only \\\" and \\\\ are escapes in a string");
                ++pos;
            }
            tok.text += src[pos];
        }
        ++pos;
    } else if (c == '<' && isDigit(static_cast<unsigned char>(peek(1)))) {
        // A date as the printer writes one: <2019-01-01 00:00:00 +0000>.
        const std::size_t close = src.substr(pos, 32).find('>');
        if (close == std::string_view::npos) return fail(tok.at, "a date is never closed");
        tok.kind = Tok::date;
        tok.text = src.substr(pos + 1, close - 1);
        pos += close + 1;
    } else if (c == '/' && isAlpha(static_cast<unsigned char>(peek(1)))) {
        int parts = 0;
        while (peek() == '/' && isAlpha(static_cast<unsigned char>(peek(1))))
            ++pos, ident(), ++parts;
        if (parts < 2) return fail(tok.at, "a path names at least two parts");
        tok.kind = Tok::path;
        tok.text = src.substr(tok.at, pos - tok.at);
    } else {
        static constexpr struct {
            std::string_view spelling;
            Tok kind;
        } operators[] = {{"=>", Tok::arrow},     {"==", Tok::eqql},  {"<=", Tok::lessEq},
                         {">=", Tok::greaterEq}, {"=", Tok::eql},    {"<", Tok::less},
                         {">", Tok::greater},    {";", Tok::semi},   {"(", Tok::lparen},
                         {")", Tok::rparen},     {"[", Tok::lbrack}, {"]", Tok::rbrack},
                         {",", Tok::comma},      {"~", Tok::subs},   {"-", Tok::neg},
                         {"!", Tok::bang},       {"*", Tok::star}};
        for (const auto& op : operators)
            if (src.substr(pos, op.spelling.size()) == op.spelling) {
                tok.kind = op.kind;
                pos += op.spelling.size();
                return;
            }
        fail(pos, "unexpected character " + hex(c));
    }
}

void Compiler::insertOps(std::size_t label, std::size_t count, std::uint32_t op) {
    std::vector<std::byte> ops;
    ops.reserve(4 * count);
    for (std::size_t n = 0; n < count; ++n)
        for (int shift = 24; shift >= 0; shift -= 8) ops.push_back(std::byte(op >> shift));
    program.insert(program.begin() + static_cast<std::ptrdiff_t>(label), ops.begin(), ops.end());
}

// An and/or chain groups to the left: each operand adds a level over what came before.
int Compiler::chain(int first, int next) {
    const int height = std::max(first, next) + 1;
    if (height > maxRequirementDepth)
        fail(tok.at, "it nests deeper than " + std::to_string(maxRequirementDepth) + " levels",
             ErrorCode::tooLarge);
    return height;
}

int Compiler::expr(int depth) {
    const std::size_t label = program.size();
    int height = term(depth);
    std::size_t count = 0;
    while (!failure && acceptWord("or")) {
        height = chain(height, term(depth));
        ++count;
    }
    insertOps(label, count, opOr);
    return height;
}

int Compiler::term(int depth) {
    const std::size_t label = program.size();
    int height = primary(depth);
    std::size_t count = 0;
    while (!failure && acceptWord("and")) {
        height = chain(height, primary(depth));
        ++count;
    }
    insertOps(label, count, opAnd);
    return height;
}

int Compiler::primary(int depth) {
    if (failure) return 0;
    if (depth > maxRequirementDepth) {
        fail(tok.at, "it nests deeper than " + std::to_string(maxRequirementDepth) + " levels",
             ErrorCode::tooLarge);
        return 0;
    }
    if (accept(Tok::lparen)) {
        if (atName()) {
            put(opNamedCode);
            putData(name());
            expect(Tok::rparen, "\")\"");
            return 0;
        }
        const int height = expr(depth + 1);
        expect(Tok::rparen, "\")\"");
        return height;
    }
    if (accept(Tok::bang)) {
        put(opNot);
        return chain(primary(depth + 1), 0);
    }
    if (tok.kind != Tok::word) {
        unexpected("an expression");
        return 0;
    }
    const std::string word = tok.text;
    if (word == "always" || word == "true" || word == "never" || word == "false" ||
        word == "notarized" || word == "legacy") {
        advance();
        put(word == "always" || word == "true"   ? opTrue
            : word == "never" || word == "false" ? opFalse
            : word == "notarized"                ? opNotarized
                                                 : opLegacyDevID);
    } else if (word == "anchor" || word == "certificate" || word == "cert") {
        advance();
        certificate(word);
    } else if (word == "info" || word == "entitlement") {
        advance();
        put(word == "info" ? opInfoKeyField : opEntitlementField);
        expect(Tok::lbrack, "\"[\"");
        putData(name());
        expect(Tok::rbrack, "\"]\"");
        matchSuffix();
    } else if (word == "identifier") {
        advance();
        accept(Tok::eql) || accept(Tok::eqql);
        put(opIdent);
        putData(name());
    } else if (word == "cdhash") {
        advance();
        accept(Tok::eql) || accept(Tok::eqql);
        put(opCDHash);
        putData(hashValue());
    } else if (word == "platform") {
        advance();
        accept(Tok::eql) || accept(Tok::eqql);
        put(opPlatform);
        put(static_cast<std::uint32_t>(integer()));
    } else {
        unexpected("an expression");
    }
    return 0;
}

void Compiler::certificate(const std::string& keyword) {
    if (keyword == "anchor") {
        if (acceptWord("apple")) {
            if (acceptWord("generic")) return put(opAppleGenericAnchor);
            if (!atName()) return put(opAppleAnchor);
            put(opNamedAnchor);
            return putData(name());
        }
        if (acceptWord("generic")) {
            if (!acceptWord("apple")) unexpected("\"apple\"");
            return put(opAppleGenericAnchor);
        }
        if (acceptWord("trusted")) return put(opTrustedCerts);
        return certSlotSpec(static_cast<std::int32_t>(anchorCertificate));
    }
    if (acceptWord("trusted")) return put(opTrustedCerts);
    const std::int32_t slot = certSlot();
    if (acceptWord("trusted")) {
        put(opTrustedCert);
        return put(static_cast<std::uint32_t>(slot));
    }
    certSlotSpec(slot);
}

std::int32_t Compiler::certSlot() {
    if (acceptWord("leaf")) return static_cast<std::int32_t>(leafCertificate);
    if (acceptWord("root")) return static_cast<std::int32_t>(anchorCertificate);
    // As the printer writes them, without a space.
    if (atWord("leaftrusted") || atWord("roottrusted")) {
        const bool leaf = tok.text[0] == 'l';
        tok.text = "trusted";
        return static_cast<std::int32_t>(leaf ? leafCertificate : anchorCertificate);
    }
    const bool negative = accept(Tok::neg);
    const std::int32_t slot = integer();
    return negative ? -slot : slot;
}

void Compiler::certSlotSpec(std::int32_t slot) {
    if (accept(Tok::lbrack)) {
        const Token key = tok;
        if (!atName()) return unexpected("a certificate field");
        advance();
        expect(Tok::rbrack, "\"]\"");
        certField(slot, key);
        return matchSuffix();
    }
    accept(Tok::eql) || accept(Tok::eqql);
    if (atName() || at(Tok::path))
        return fail(tok.at, "a certificate is named by its hash, not read from a file",
                    ErrorCode::refused);
    put(opAnchorHash);
    put(static_cast<std::uint32_t>(slot));
    putData(hashValue());
}

void Compiler::certField(std::int32_t slot, const Token& key) {
    static constexpr struct {
        std::string_view prefix;
        std::uint32_t op;
    } kinds[] = {{"timestamp.", opCertFieldDate},
                 {"subject.", opCertField},
                 {"field.", opCertGeneric},
                 {"extension.", opCertGeneric},
                 {"policy.", opCertPolicy}};
    for (const auto& kind : kinds) {
        if (key.text.compare(0, kind.prefix.size(), kind.prefix) != 0) continue;
        put(kind.op);
        put(static_cast<std::uint32_t>(slot));
        if (kind.op == opCertField) return putData(key.text);
        // The dotted arcs in DER: the first two packed into one, each 7 bits a byte.
        const std::string_view dotted = std::string_view(key.text).substr(kind.prefix.size());
        std::vector<std::uint64_t> arcs;
        std::uint64_t arc = 0;
        std::size_t digits = 0;
        for (std::size_t n = 0; n <= dotted.size(); ++n) {
            const auto c = n < dotted.size() ? static_cast<unsigned char>(dotted[n]) : '.';
            if (c == '.') {
                if (digits == 0) break;
                arcs.push_back(arc);
                arc = 0;
                digits = 0;
            } else if (isDigit(c) && digits < 18) {
                arc = arc * 10 + (c - '0');
                ++digits;
            } else {
                digits = 0;
                break;
            }
        }
        if (arcs.size() < 2 || digits != 0 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) ||
            std::count(dotted.begin(), dotted.end(), '.') + 1 !=
                static_cast<std::ptrdiff_t>(arcs.size()))
            return fail(key.at, "\"" + std::string(dotted.substr(0, 80)) + "\" is no OID");
        std::string der;
        for (std::size_t n = 1; n < arcs.size(); ++n) {
            const std::uint64_t value = n == 1 ? arcs[0] * 40 + arcs[1] : arcs[n];
            std::string septets(1, static_cast<char>(value & 0x7f));
            for (std::uint64_t rest = value >> 7; rest; rest >>= 7)
                septets.insert(septets.begin(), static_cast<char>(0x80 | (rest & 0x7f)));
            der += septets;
        }
        return putData(der);
    }
    fail(key.at, std::string(key.text.substr(0, 80)) + ": unrecognized certificate field");
}

void Compiler::matchSuffix() {
    if (failure) return;
    if (acceptWord("exists")) return put(matchExists);
    if (acceptWord("absent")) return put(matchAbsent);
    if (accept(Tok::eql) || accept(Tok::eqql)) {
        if (acceptWord("timestamp") || at(Tok::date)) {
            put(matchOn);
            return put64(timestamp());
        }
        std::uint32_t op = accept(Tok::star) ? matchEndsWith : matchEqual;
        const std::string value = dataValue();
        if (accept(Tok::star)) op = op == matchEndsWith ? matchContains : matchBeginsWith;
        put(op);
        return putData(value);
    }
    if (accept(Tok::subs)) {
        put(matchContains);
        return putData(dataValue());
    }
    static constexpr struct {
        Tok kind;
        std::uint32_t text, date;
    } orders[] = {{Tok::less, matchLessThan, matchBefore},
                  {Tok::greater, matchGreaterThan, matchAfter},
                  {Tok::lessEq, matchLessEqual, matchOnOrBefore},
                  {Tok::greaterEq, matchGreaterEqual, matchOnOrAfter}};
    for (const auto& order : orders) {
        if (!accept(order.kind)) continue;
        if (acceptWord("timestamp") || at(Tok::date)) {
            put(order.date);
            return put64(timestamp());
        }
        put(order.text);
        return putData(dataValue());
    }
    put(matchExists);
}

std::string Compiler::name() {
    if (!atName()) {
        unexpected("a name or a quoted string");
        return {};
    }
    std::string text = std::move(tok.text);
    advance();
    return text;
}

std::string Compiler::dataValue() {
    if (!at(Tok::hexData)) return name();
    if (tok.text.size() % 2) {
        fail(tok.at, "odd number of digits");
        return {};
    }
    std::string bytes;
    for (std::size_t n = 0; n < tok.text.size(); n += 2)
        bytes += static_cast<char>(hexValue(static_cast<unsigned char>(tok.text[n])) << 4 |
                                   hexValue(static_cast<unsigned char>(tok.text[n + 1])));
    advance();
    return bytes;
}

std::string Compiler::hashValue() {
    if (!at(Tok::hash)) {
        unexpected("a hash H\"…\"");
        return {};
    }
    // A SHA-1 digest, the only length the platform's compiler takes.
    if (tok.text.size() != 40) {
        fail(tok.at, "invalid hash length");
        return {};
    }
    tok.kind = Tok::hexData;
    return dataValue();
}

std::int32_t Compiler::integer() {
    if (!at(Tok::integer)) {
        unexpected("a number");
        return 0;
    }
    if (tok.text.size() > 10 || std::stoll(tok.text) > INT32_MAX) {
        fail(tok.at, tok.text.substr(0, 20) + " is out of range");
        return 0;
    }
    const auto value = static_cast<std::int32_t>(std::stoll(tok.text));
    advance();
    return value;
}

std::int64_t Compiler::timestamp() {
    // A generalized time, YYYYMMDDhhmmss and an optional Z, or a date as printed, as seconds
    // since 2001.
    const Token t = tok;
    if (!accept(Tok::string) && !accept(Tok::date)) {
        unexpected("a quoted time");
        return 0;
    }
    std::string s = t.text;
    if (t.kind == Tok::date) {
        constexpr std::string_view form = "dddd-dd-dd dd:dd:dd +0000";
        std::string digits;
        bool same = s.size() == form.size();
        for (std::size_t n = 0; same && n < form.size(); ++n) {
            same = form[n] == 'd' ? isDigit(static_cast<unsigned char>(s[n])) : s[n] == form[n];
            if (form[n] == 'd') digits += s[n];
        }
        s = same ? digits : std::string();
    }
    bool okay = (s.size() == 14 || (s.size() == 15 && s[14] == 'Z'));
    for (std::size_t n = 0; okay && n < 14; ++n) okay = isDigit(static_cast<unsigned char>(s[n]));
    const auto num = [&](std::size_t at, std::size_t len) {
        return static_cast<unsigned>(std::stoul(std::string(s.substr(at, len))));
    };
    if (okay) {
        const unsigned m = num(4, 2), d = num(6, 2), hh = num(8, 2), mm = num(10, 2),
                       ss = num(12, 2);
        if (m >= 1 && m <= 12 && d >= 1 && d <= 31 && hh < 24 && mm < 60 && ss < 60)
            return (daysFromCivil(num(0, 4), m, d) - 11323) * 86400 + hh * 3600 + mm * 60 + ss;
    }
    fail(t.at, "\"" + std::string(s.substr(0, 40)) + "\" is no time YYYYMMDDhhmmssZ");
    return 0;
}

std::vector<std::byte> Compiler::requirement() {
    program.clear();
    expr(0);
    while (accept(Tok::semi)) {
    }
    std::vector<std::byte> blob;
    std::swap(blob, program);
    put(CSMAGIC_REQUIREMENT);
    put(static_cast<std::uint32_t>(12 + blob.size()));
    put(requirementExprForm);
    program.insert(program.end(), blob.begin(), blob.end());
    std::swap(blob, program);
    program.clear();
    return blob;
}

Expected<std::vector<std::byte>> Compiler::compile() {
    if (src.size() > maxRequirementTextBytes)
        return Error{0,
                     "a requirement of " + std::to_string(src.size()) + " bytes is past the limit",
                     ErrorCode::tooLarge};
    // The platform's lexer takes UTF-8 bytes only.
    for (std::size_t n = 0; n < src.size(); ++n) {
        const auto c = static_cast<unsigned char>(src[n]);
        if (c == 0xc0 || c == 0xc1 || c >= 0xf5) fail(n, "byte " + hex(c) + " is no UTF-8");
    }
    advance();
    if (failure) return *failure;
    std::vector<std::byte> out;
    const bool isSet = at(Tok::integer) || atWord("guest") || atWord("host") ||
                       atWord("designated") || atWord("library") || atWord("plugin");
    if (!isSet) {
        out = requirement();
        if (!at(Tok::end)) unexpected("the end of the text");
    } else {
        // By type, a later entry replacing an earlier one, as the platform's set maker does.
        std::map<std::uint32_t, std::vector<std::byte>> entries;
        while (!failure && !at(Tok::end)) {
            std::uint32_t type = 0;
            static constexpr std::string_view types[] = {"host", "guest", "designated", "library",
                                                         "plugin"};
            if (at(Tok::integer)) {
                type = static_cast<std::uint32_t>(integer());
            } else {
                for (std::uint32_t n = 0; n < std::size(types) && !type; ++n)
                    if (acceptWord(types[n])) type = n + 1;
                if (!type) unexpected("a requirement type");
            }
            expect(Tok::arrow, "\"=>\"");
            entries[type] = requirement();
        }
        std::size_t at = 12 + 8 * entries.size();
        put(CSMAGIC_REQUIREMENTS);
        put(0);
        put(static_cast<std::uint32_t>(entries.size()));
        for (const auto& [type, blob] : entries) {
            put(type);
            put(static_cast<std::uint32_t>(at));
            at += blob.size();
        }
        for (const auto& entry : entries)
            program.insert(program.end(), entry.second.begin(), entry.second.end());
        for (int n = 0; n < 4; ++n) program[4 + n] = std::byte(program.size() >> (24 - 8 * n));
        out = std::move(program);
    }
    if (failure) return *failure;
    if (out.size() > maxRequirementBytes)
        return Error{
            0, "its compiled form of " + std::to_string(out.size()) + " bytes is past the limit",
            ErrorCode::tooLarge};
    return out;
}

}  // namespace

Expected<std::vector<std::byte>> compileRequirement(std::string_view text) {
    return Compiler(text).compile();
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

std::optional<std::span<const std::byte>> requirementSetEntry(std::span<const std::byte> blob,
                                                              std::uint32_t type) {
    const ByteReader r(blob);
    const auto count = r.u32be(8);
    const auto length = r.u32be(4);
    if (r.u32be(0) != CSMAGIC_REQUIREMENTS || !count || !length || *length > r.size())
        return std::nullopt;
    for (std::uint64_t n = 0; n < *count && r.has(12 + 8 * n, 8); ++n) {
        const auto offset = r.u32be(16 + 8 * n);
        if (r.u32be(12 + 8 * n) == type && offset < *length)
            return blob.subspan(*offset, *length - *offset);
    }
    return std::nullopt;
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
