#include <string>

#include "format/bytereader.h"
#include "format/plist/encoding.h"
#include "format/plist/plist.h"
#include "format/plist/textencoding.h"

namespace varko::plist {

namespace {

bool isUnquoted(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class OpenStepReader {
public:
    explicit OpenStepReader(std::span<const std::byte> bytes) : in(bytes) {}

    Expected<Value> read() {
        const std::uint64_t start = pos;
        if (auto space = skipSpace(); !space) return space.error();
        // Only whitespace and comments: an empty strings file.
        if (atEnd()) return Value(Dictionary());
        auto top = value(1);
        if (!top) return top;
        if (auto space = skipSpace(); !space) return space.error();
        if (atEnd()) return top;
        // `key = value;` at the top level: a strings file, a dictionary without braces.
        if (top->string() && (peek() == '=' || peek() == ';')) {
            pos = start;
            return dictionaryBody(1, false);
        }
        return fail(pos, "unexpected text after the property list", ErrorCode::malformed);
    }

private:
    // Worded once, in parseOpenStep, when the offset is one in the bytes as given.
    Error fail(std::uint64_t at, std::string_view what, ErrorCode code) const {
        return Error{at, std::string(what), code};
    }

    [[nodiscard]] bool atEnd() const { return pos >= in.size(); }
    [[nodiscard]] std::uint8_t peek(std::uint64_t ahead = 0) const {
        return in.u8(pos + ahead).value_or(0);
    }

    Expected<void> skipSpace() {
        while (!atEnd()) {
            const std::uint8_t c = peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos;
            } else if (c == '/' && peek(1) == '/') {
                while (!atEnd() && peek() != '\n' && peek() != '\r') ++pos;
            } else if (c == '/' && peek(1) == '*') {
                const std::uint64_t start = pos;
                pos += 2;
                while (!(peek() == '*' && peek(1) == '/')) {
                    if (atEnd()) return fail(start, "unterminated comment", ErrorCode::truncated);
                    ++pos;
                }
                pos += 2;
            } else {
                break;
            }
        }
        return {};
    }

    Expected<Value> value(int depth) {
        if (atEnd()) return fail(pos, "unexpected end of the property list", ErrorCode::truncated);
        const std::uint8_t c = peek();
        if (c == '{') {
            if (depth > maxDepth) return fail(pos, "nesting is too deep", ErrorCode::tooLarge);
            ++pos;
            return dictionaryBody(depth, true);
        }
        if (c == '(') return array(depth);
        if (c == '<') return data();
        if (c == '"' || c == '\'' || isUnquoted(c)) {
            auto s = string();
            if (!s) return s.error();
            return Value(std::move(*s));
        }
        return fail(pos, "unexpected character '" + std::string(1, static_cast<char>(c)) + "'",
                    ErrorCode::malformed);
    }

    Expected<std::string> string() {
        const std::uint8_t c = peek();
        if (c == '"' || c == '\'') return quoted(c);
        if (!isUnquoted(c)) return fail(pos, "expected a string", ErrorCode::malformed);
        const std::uint64_t start = pos;
        while (!atEnd() && isUnquoted(peek())) ++pos;
        return std::string(*in.text(start, pos - start));
    }

    Expected<std::string> quoted(std::uint8_t quote) {
        const std::uint64_t start = pos++;
        std::string out;
        std::uint32_t pendingHigh = 0;  // a high surrogate waiting for its partner
        auto flushHigh = [&] {
            if (pendingHigh) appendUtf8(out, 0xFFFD);
            pendingHigh = 0;
        };
        while (true) {
            if (atEnd()) return fail(start, "unterminated quoted string", ErrorCode::truncated);
            const std::uint8_t c = peek();
            if (c == quote) break;
            if (c != '\\') {
                flushHigh();
                out += static_cast<char>(c);
                ++pos;
                continue;
            }
            ++pos;
            if (atEnd()) return fail(start, "unterminated quoted string", ErrorCode::truncated);
            const std::uint8_t e = peek();
            ++pos;
            std::uint32_t cp = 0;
            if (e == 'U') {
                int n = 0;
                while (n < 4 && hexValue(peek()) >= 0 && !atEnd()) {
                    cp = cp * 16 + static_cast<std::uint32_t>(hexValue(peek()));
                    ++pos;
                    ++n;
                }
                if (n == 0)
                    return fail(pos - 2, "\\U without hexadecimal digits", ErrorCode::malformed);
            } else if (e >= '0' && e <= '7') {
                // Octal escapes name single bytes; above 0x7F they are read as Latin-1.
                cp = e - '0';
                for (int n = 1; n < 3 && peek() >= '0' && peek() <= '7' && !atEnd(); ++n, ++pos)
                    cp = cp * 8 + (peek() - '0');
                cp &= 0xFF;
            } else {
                switch (e) {
                    case 'a':
                        cp = '\a';
                        break;
                    case 'b':
                        cp = '\b';
                        break;
                    case 'f':
                        cp = '\f';
                        break;
                    case 'n':
                        cp = '\n';
                        break;
                    case 'r':
                        cp = '\r';
                        break;
                    case 't':
                        cp = '\t';
                        break;
                    case 'v':
                        cp = '\v';
                        break;
                    default:
                        flushHigh();
                        out += static_cast<char>(e);
                        continue;
                }
            }
            if (cp >= 0xDC00 && cp <= 0xDFFF && pendingHigh) {
                appendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
                pendingHigh = 0;
                continue;
            }
            flushHigh();
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                pendingHigh = cp;
                continue;
            }
            appendUtf8(out, cp);
        }
        flushHigh();
        ++pos;
        return out;
    }

    Expected<Value> data() {
        const std::uint64_t start = pos++;
        Data out;
        int high = -1;
        while (true) {
            if (auto space = skipSpace(); !space) return space.error();
            if (atEnd()) return fail(start, "unterminated data", ErrorCode::truncated);
            const std::uint8_t c = peek();
            if (c == '>') break;
            const int v = hexValue(c);
            if (v < 0)
                return fail(pos, "data holds a character that is not hexadecimal",
                            ErrorCode::malformed);
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<std::uint8_t>(high << 4 | v));
                high = -1;
            }
            ++pos;
        }
        if (high >= 0)
            return fail(pos, "data holds an odd number of hexadecimal digits",
                        ErrorCode::malformed);
        ++pos;
        return Value(std::move(out));
    }

    Expected<Value> array(int depth) {
        if (depth > maxDepth) return fail(pos, "nesting is too deep", ErrorCode::tooLarge);
        ++pos;
        Array items;
        while (true) {
            if (auto space = skipSpace(); !space) return space.error();
            if (atEnd()) return fail(pos, "unterminated array", ErrorCode::truncated);
            if (peek() == ')') break;
            auto item = value(depth + 1);
            if (!item) return item;
            items.push_back(std::move(*item));
            if (auto space = skipSpace(); !space) return space.error();
            if (peek() == ',' && !atEnd()) {
                ++pos;
                continue;
            }
            if (peek() == ')' && !atEnd()) break;
            return fail(pos, "expected ',' or ')' in an array", ErrorCode::malformed);
        }
        ++pos;
        return Value(std::move(items));
    }

    // After the opening brace, or from the start of a strings file.
    Expected<Value> dictionaryBody(int depth, bool braced) {
        Dictionary dict;
        while (true) {
            if (auto space = skipSpace(); !space) return space.error();
            if (atEnd()) {
                if (braced) return fail(pos, "unterminated dictionary", ErrorCode::truncated);
                break;
            }
            if (braced && peek() == '}') {
                ++pos;
                break;
            }
            auto key = string();
            if (!key) return key.error();
            if (auto space = skipSpace(); !space) return space.error();
            if (peek() == ';' && !atEnd()) {
                // Strings files may list a key alone; its value is the key itself.
                ++pos;
                std::string copy = *key;
                dict.set(std::move(*key), Value(std::move(copy)));
                continue;
            }
            if (peek() != '=' || atEnd())
                return fail(pos, "expected '=' after a dictionary key", ErrorCode::malformed);
            ++pos;
            if (auto space = skipSpace(); !space) return space.error();
            auto item = value(depth + 1);
            if (!item) return item;
            if (auto space = skipSpace(); !space) return space.error();
            if (peek() != ';' || atEnd())
                return fail(pos, "expected ';' after a dictionary value", ErrorCode::malformed);
            ++pos;
            dict.set(std::move(*key), std::move(*item));
        }
        return Value(std::move(dict));
    }

    ByteReader in;
    std::uint64_t pos = 0;
};

}  // namespace

Expected<Value> parseOpenStep(std::span<const std::byte> bytes) {
    if (bytes.empty()) return Error{0, "empty property list", ErrorCode::truncated};
    const auto worded = [](const Error& raw) {
        return Error{raw.offset,
                     "malformed OpenStep property list (at byte " + std::to_string(raw.offset) +
                         ": " + raw.message + ")",
                     raw.code};
    };
    try {
        const auto text =
            detail::Utf8Text::decode(bytes, detail::sniffEncoding(bytes, detail::Sniff::MarkOnly));
        if (!text) return worded(text.error());
        auto value = OpenStepReader(text->bytes()).read();
        if (value) return value;
        Error error = value.error();
        error.offset = text->originalOffset(error.offset);
        return worded(error);
    } catch (const std::bad_alloc&) {
        return Error{0, "malformed OpenStep property list (not enough memory to read it)",
                     ErrorCode::tooLarge};
    }
}

}  // namespace varko::plist
