#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/expected.h"
#include "format/plist/value.h"

namespace varko::codesign {

/// Limits on a seal's rules. Real seals carry a dozen or two short rules; matched together
/// over the 160,000 paths of a system's /usr they build a few dozen automaton states and
/// never fill their cache.
inline constexpr std::size_t maxSealRules = 256;
inline constexpr std::size_t maxRulePatternLength = 1024;
inline constexpr std::int64_t maxRuleMemory = 256 << 10;  ///< one rule, compiled alone to be judged
inline constexpr std::int64_t maxRulesMemory = 4 << 20;   ///< all rules together, and their cache
/// Rules whose automaton outgrows its cache again and again (as (x|y)*x(x|y){20} does)
/// would make every byte of every path cost a new state: after this many refills they are
/// refused. Each refill costs some tens of milliseconds.
inline constexpr std::uint64_t maxRuleCacheRefills = 16;

/// One rule of a resource seal: a regular expression over paths relative to the sealed
/// folder, and what a match makes of the path.
struct ResourceRule {
    std::string pattern;
    bool omit = false, optional = false, nested = false;
    double weight = 1;
};

/// A seal's rules (rules or rules2), compiled as the platform compiles them: regcomp with
/// REG_EXTENDED | REG_NOSUB, so POSIX extended syntax, matched anywhere in the path unless
/// the rule anchors itself, a rule whose value is false omits what it matches. All rules
/// are matched in one pass over the path, in time linear in it and in bounded memory (RE2),
/// so what RE2 can't match that way (a back-reference) is refused, not tried. Not for use
/// from two threads at once; the compiled automaton may be shared with other seals of the
/// same patterns, which nearly every app has.
class ResourceRules {
public:
    /// The rules, or which of them can't be used and why.
    [[nodiscard]] static Expected<ResourceRules> compile(const plist::Dictionary& rules);

    /// The heaviest rule that matches `path`, the first of equals; null when none does. An
    /// error when the rules can't be matched in maxRulesMemory, with what earlier paths cost.
    [[nodiscard]] Expected<const ResourceRule*> ruleFor(std::string_view path) const;

private:
    struct Matcher;
    std::vector<ResourceRule> rules;
    std::shared_ptr<Matcher> matcher;   ///< every rule, by its index in `rules`
    mutable std::uint64_t refills = 0;  ///< of the automaton's cache, while matching for these
};

}  // namespace varko::codesign
