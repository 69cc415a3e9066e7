#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"
#include "systools/log/logrecord.h"

namespace varko::logtool {

/// The part of NSPredicate's language that `log show --predicate` is given by Varko:
/// comparisons `KEY == "text"`, `KEY = value`, `!=`, `CONTAINS`, `BEGINSWITH`, `ENDSWITH`
/// (each with an optional `[c]` for ASCII case-insensitivity), joined by `AND` (binding
/// tighter), `OR`, `NOT` and parentheses. Keys: subsystem, category, processImagePath,
/// eventMessage, messageType (texts) and processID (a number).
class Predicate final {
public:
    static constexpr std::size_t maxLength = 4096;
    static constexpr int maxDepth = 32;  ///< parentheses and NOTs inside one another

    /// Parses the whole text, or says where it went wrong: the error's offset is the byte
    /// of the text, its code malformed (tooLarge past maxLength or maxDepth). Never throws.
    [[nodiscard]] static Expected<Predicate> parse(std::string_view text);

    [[nodiscard]] bool matches(const LogRecord& record) const;

    enum class Key { Subsystem, Category, ProcessImagePath, EventMessage, MessageType, ProcessID };
    enum class Op { Equal, NotEqual, Contains, BeginsWith, EndsWith };

private:
    friend class PredicateParser;

    /// Nodes live in one vector; children are indices, so copies stay valid.
    struct Node {
        enum class Kind { Or, And, Not, Compare } kind = Kind::Compare;
        std::vector<std::size_t> children;
        Key key = Key::Subsystem;
        Op op = Op::Equal;
        bool caseInsensitive = false;
        std::string text;
        std::int64_t number = 0;
    };

    [[nodiscard]] bool evaluate(std::size_t node, const LogRecord& record) const;

    std::vector<Node> nodes;
    std::size_t root = 0;
};

}  // namespace varko::logtool
