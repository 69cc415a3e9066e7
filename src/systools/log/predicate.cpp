#include "systools/log/predicate.h"

#include <algorithm>
#include <charconv>

#include "format/utf8encode.h"

namespace varko::logtool {

namespace {

[[nodiscard]] char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

[[nodiscard]] bool sameText(std::string_view a, std::string_view b, bool fold) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold ? lower(a[i]) != lower(b[i]) : a[i] != b[i]) return false;
    return true;
}

[[nodiscard]] bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

/// Recursive descent over the text itself; depth is counted so hostile nesting stops early.
class PredicateParser final {
public:
    explicit PredicateParser(std::string_view text) : text(text) {}

    Expected<Predicate> run() {
        if (text.size() > Predicate::maxLength) {
            fail(Predicate::maxLength,
                 "predicate is longer than " + std::to_string(Predicate::maxLength) + " bytes",
                 ErrorCode::tooLarge);
        } else {
            skipSpace();
            if (pos == text.size()) fail(pos, "predicate is empty");
        }
        if (!failed) {
            const std::size_t root = orExpression(0);
            skipSpace();
            if (!failed && pos < text.size()) fail(pos, "unexpected text after the predicate");
            predicate.root = root;
        }
        if (failed) return error;
        return std::move(predicate);
    }

private:
    using Node = Predicate::Node;

    /// The first failure stands; the descent unwinds past the rest.
    void fail(std::size_t at, std::string message, ErrorCode code = ErrorCode::malformed) {
        if (failed) return;
        failed = true;
        error = Error{at, std::move(message) + " at offset " + std::to_string(at), code};
    }

    void skipSpace() {
        while (pos < text.size() &&
               (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r'))
            ++pos;
    }

    /// Consumes `word` when it stands as a whole word here, ignoring case as NSPredicate does.
    bool keyword(std::string_view word) {
        skipSpace();
        if (text.size() - pos < word.size() || !sameText(text.substr(pos, word.size()), word, true))
            return false;
        if (pos + word.size() < text.size() && isWordChar(text[pos + word.size()])) return false;
        pos += word.size();
        return true;
    }

    bool symbol(std::string_view s) {
        skipSpace();
        if (text.substr(pos, s.size()) != s) return false;
        pos += s.size();
        return true;
    }

    std::size_t add(Node node) {
        predicate.nodes.push_back(std::move(node));
        return predicate.nodes.size() - 1;
    }

    /// Joins operands into one n-ary node, so long OR chains do not deepen the recursion.
    std::size_t chain(Node::Kind kind, int depth, std::size_t (PredicateParser::*operand)(int),
                      std::string_view word, std::string_view alias) {
        const std::size_t first = (this->*operand)(depth);
        if (failed) return 0;
        Node joined;
        joined.kind = kind;
        joined.children.push_back(first);
        while (!failed && (keyword(word) || symbol(alias)))
            joined.children.push_back((this->*operand)(depth));
        if (failed) return 0;
        return joined.children.size() == 1 ? first : add(std::move(joined));
    }

    std::size_t orExpression(int depth) {
        return chain(Node::Kind::Or, depth, &PredicateParser::andExpression, "OR", "||");
    }

    std::size_t andExpression(int depth) {
        return chain(Node::Kind::And, depth, &PredicateParser::unary, "AND", "&&");
    }

    std::size_t unary(int depth) {
        skipSpace();
        const std::size_t start = pos;
        const bool negated = keyword("NOT") || (text.substr(pos, 2) != "!=" && symbol("!"));
        const bool grouped = !negated && symbol("(");
        if (negated || grouped) {
            if (depth + 1 > Predicate::maxDepth) {
                fail(start,
                     "predicate nests deeper than " + std::to_string(Predicate::maxDepth) +
                         " levels",
                     ErrorCode::tooLarge);
                return 0;
            }
        }
        if (negated) {
            Node node;
            node.kind = Node::Kind::Not;
            node.children.push_back(unary(depth + 1));
            return failed ? 0 : add(std::move(node));
        }
        if (grouped) {
            const std::size_t inner = orExpression(depth + 1);
            if (!failed && !symbol(")")) fail(pos, "expected \")\"");
            return inner;
        }
        return comparison();
    }

    std::size_t comparison() {
        skipSpace();
        const std::size_t keyStart = pos;
        while (pos < text.size() && isWordChar(text[pos])) ++pos;
        const std::string_view name = text.substr(keyStart, pos - keyStart);
        if (name.empty()) {
            fail(keyStart, pos == text.size() ? "expected a key, found the end" : "expected a key");
            return 0;
        }
        Node node;
        static constexpr std::pair<std::string_view, Predicate::Key> keys[] = {
            {"subsystem", Predicate::Key::Subsystem},
            {"category", Predicate::Key::Category},
            {"processImagePath", Predicate::Key::ProcessImagePath},
            {"eventMessage", Predicate::Key::EventMessage},
            {"messageType", Predicate::Key::MessageType},
            {"processID", Predicate::Key::ProcessID},
        };
        const auto* key = std::find_if(std::begin(keys), std::end(keys),
                                       [&](const auto& k) { return k.first == name; });
        if (key == std::end(keys)) {
            fail(keyStart, "unknown key \"" + std::string(name) + "\"");
            return 0;
        }
        node.key = key->second;
        if (!comparisonOperator(node)) return 0;

        skipSpace();
        const std::size_t valueStart = pos;
        if (pos == text.size()) {
            fail(pos, "expected a value after the operator, found the end");
            return 0;
        }
        const bool numeric = node.key == Predicate::Key::ProcessID;
        if (numeric) {
            if (text[pos] == '"' || text[pos] == '\'') {
                fail(valueStart, "processID takes a number, not quoted text");
                return 0;
            }
            if (!number(node.number)) return 0;
        } else {
            if (text[pos] != '"' && text[pos] != '\'') {
                fail(valueStart, std::string(name) + " takes quoted text");
                return 0;
            }
            if (!quoted(node.text)) return 0;
        }
        return add(std::move(node));
    }

    bool comparisonOperator(Node& node) {
        skipSpace();
        const std::size_t start = pos;
        if (symbol("==") || symbol("=")) {
            node.op = Predicate::Op::Equal;
        } else if (symbol("!=") || symbol("<>")) {
            node.op = Predicate::Op::NotEqual;
        } else if (keyword("CONTAINS")) {
            node.op = Predicate::Op::Contains;
        } else if (keyword("BEGINSWITH")) {
            node.op = Predicate::Op::BeginsWith;
        } else if (keyword("ENDSWITH")) {
            node.op = Predicate::Op::EndsWith;
        } else {
            fail(start, pos == text.size() ? "expected an operator, found the end"
                                           : "expected an operator");
            return false;
        }
        // NSPredicate's modifiers: c ignores case, d diacritics (which ASCII folding covers).
        if (pos < text.size() && text[pos] == '[') {
            const std::size_t open = pos++;
            while (pos < text.size() && (text[pos] == 'c' || text[pos] == 'd')) {
                if (text[pos] == 'c') node.caseInsensitive = true;
                ++pos;
            }
            if (pos == text.size() || text[pos] != ']') {
                fail(open, "expected [c], [d] or [cd]");
                return false;
            }
            ++pos;
        }
        if (node.key == Predicate::Key::ProcessID && node.op != Predicate::Op::Equal &&
            node.op != Predicate::Op::NotEqual) {
            fail(start, "processID takes only == and !=");
            return false;
        }
        return true;
    }

    bool number(std::int64_t& value) {
        const std::size_t start = pos;
        if (pos < text.size() && text[pos] == '-') ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos < text.size() && isWordChar(text[pos])) {
            fail(start, "expected a number");
            return false;
        }
        const auto [end, ec] = std::from_chars(text.data() + start, text.data() + pos, value);
        if (ec == std::errc::result_out_of_range) {
            fail(start, "number out of range");
            return false;
        }
        if (ec != std::errc() || end != text.data() + pos) {
            fail(start, "expected a number");
            return false;
        }
        return true;
    }

    bool quoted(std::string& out) {
        const std::size_t start = pos;
        const char quote = text[pos++];
        while (pos < text.size() && text[pos] != quote) {
            if (text[pos] != '\\') {
                out += text[pos++];
                continue;
            }
            const std::size_t escape = pos++;
            if (pos == text.size()) break;
            switch (const char c = text[pos++]) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case '"':
                case '\'':
                case '\\':
                    out += c;
                    break;
                case 'u': {
                    unsigned value = 0;
                    const auto [end, ec] = std::from_chars(
                        text.data() + pos, text.data() + std::min(text.size(), pos + 4), value, 16);
                    if (ec != std::errc() || end != text.data() + pos + 4 ||
                        (value >= 0xD800 && value <= 0xDFFF)) {
                        fail(escape, "expected \\u and four hex digits of a non-surrogate");
                        return false;
                    }
                    pos += 4;
                    appendUtf8(out, value);
                    break;
                }
                default:
                    fail(escape, "unknown escape \\" + std::string(1, c));
                    return false;
            }
        }
        if (pos == text.size()) {
            fail(start, "unterminated quoted text");
            return false;
        }
        ++pos;
        return true;
    }

    std::string_view text;
    std::size_t pos = 0;
    bool failed = false;
    Error error{0, {}, ErrorCode::malformed};
    Predicate predicate;
};

Expected<Predicate> Predicate::parse(std::string_view text) {
    return PredicateParser(text).run();
}

bool Predicate::matches(const LogRecord& record) const {
    return !nodes.empty() && evaluate(root, record);
}

bool Predicate::evaluate(std::size_t index, const LogRecord& record) const {
    const Node& node = nodes[index];
    switch (node.kind) {
        case Node::Kind::Or:
            return std::any_of(node.children.begin(), node.children.end(),
                               [&](std::size_t c) { return evaluate(c, record); });
        case Node::Kind::And:
            return std::all_of(node.children.begin(), node.children.end(),
                               [&](std::size_t c) { return evaluate(c, record); });
        case Node::Kind::Not:
            return !evaluate(node.children.front(), record);
        case Node::Kind::Compare:
            break;
    }
    if (node.key == Key::ProcessID)
        return (record.processID == node.number) == (node.op == Op::Equal);

    std::string_view field;
    switch (node.key) {
        case Key::Subsystem:
            field = record.subsystem;
            break;
        case Key::Category:
            field = record.category;
            break;
        case Key::ProcessImagePath:
            field = record.processImagePath;
            break;
        case Key::EventMessage:
            field = record.eventMessage;
            break;
        case Key::MessageType:
            field = messageTypeName(record.messageType);
            break;
        case Key::ProcessID:
            break;
    }
    const std::string_view wanted = node.text;
    const bool fold = node.caseInsensitive;
    const auto equal = [fold](char a, char b) { return fold ? lower(a) == lower(b) : a == b; };
    switch (node.op) {
        case Op::Equal:
            return sameText(field, wanted, fold);
        case Op::NotEqual:
            return !sameText(field, wanted, fold);
        case Op::Contains:
            return std::search(field.begin(), field.end(), wanted.begin(), wanted.end(), equal) !=
                       field.end() ||
                   wanted.empty();
        case Op::BeginsWith:
            return field.size() >= wanted.size() &&
                   sameText(field.substr(0, wanted.size()), wanted, fold);
        case Op::EndsWith:
            return field.size() >= wanted.size() &&
                   sameText(field.substr(field.size() - wanted.size()), wanted, fold);
    }
    return false;
}

}  // namespace varko::logtool
