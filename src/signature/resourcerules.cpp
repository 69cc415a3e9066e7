#include "signature/resourcerules.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <atomic>

#include "format/recentresults.h"

namespace varko::codesign {

struct ResourceRules::Matcher {
    explicit Matcher(const RE2::Options& options) : set(options, RE2::UNANCHORED) {}
    RE2::Set set;  ///< RE2 matches from several threads at once
    /// Whether its automaton has outgrown its cache: then it is given to no other seal, which
    /// is judged on a cache of its own, as if it were the first.
    std::atomic<bool> refilled{false};
};

namespace {

/// The state-cache refills of RE2 automata run by this thread; RE2 reports them through
/// a process-wide hook.
thread_local std::uint64_t cacheRefills = 0;

void countRefills() {
    static const bool installed = [] {
        re2::hooks::SetDFAStateCacheResetHook(
            [](const re2::hooks::DFAStateCacheReset&) { ++cacheRefills; });
        return true;
    }();
    (void)installed;
}

bool flag(const plist::Dictionary& d, const char* key) {
    const plist::Value* v = d.find(key);
    return v && v->boolean() && *v->boolean();
}

std::string quoted(std::string_view pattern) {
    constexpr std::size_t shown = 80;
    return "\"" + std::string(pattern.substr(0, shown)) + (pattern.size() > shown ? "...\"" : "\"");
}

Error refused(std::string_view pattern, const std::string& why, ErrorCode code) {
    return Error{0, "rule " + quoted(pattern) + " " + why, code};
}

/// What regcomp(REG_EXTENDED | REG_NOSUB) and regexec without flags do: '.' and bracket
/// expressions take a newline too, '^' and '$' match only at the ends of the path. Names
/// are bytes, not always UTF-8; Latin-1 makes every byte one character, so that no name
/// escapes a rule by holding bytes that are not UTF-8.
RE2::Options posixExtended(std::int64_t maxMemory) {
    RE2::Options o;
    o.set_posix_syntax(true);
    o.set_longest_match(true);
    o.set_one_line(true);
    o.set_dot_nl(true);
    o.set_never_capture(true);
    o.set_case_sensitive(true);
    o.set_encoding(RE2::Options::EncodingLatin1);
    o.set_log_errors(false);
    o.set_max_mem(maxMemory);
    return o;
}

Error refused(std::string_view pattern, const RE2& re) {
    const std::string& arg = re.error_arg();
    if (re.error_code() == RE2::ErrorBadEscape && arg.size() == 2 && arg[1] >= '1' && arg[1] <= '9')
        return refused(
            pattern, "uses a back-reference (" + arg + "), which can't be matched in bounded time",
            ErrorCode::unsupported);
    if (re.error_code() == RE2::ErrorPatternTooLarge)
        return refused(pattern, "is too large to match in bounded memory", ErrorCode::tooLarge);
    // Latin-1 is never bad UTF-8: RE2 says so when a pattern stops where more must follow.
    const std::string why = re.error_code() == RE2::ErrorBadUTF8 ? "it ends too early" : re.error();
    return refused(pattern, "is not a regular expression that can be matched safely: " + why,
                   ErrorCode::malformed);
}

/// regcomp reads a C string: a NUL ends the pattern.
std::string_view patternOf(const std::string& key) {
    return std::string_view(key).substr(0, key.find('\0'));
}

/// What a rule's value makes of the paths it matches.
Expected<ResourceRule> ruleOf(std::string_view pattern, const plist::Value& value) {
    if (pattern.size() > maxRulePatternLength)
        return refused(pattern, "is longer than " + std::to_string(maxRulePatternLength) + " bytes",
                       ErrorCode::tooLarge);
    ResourceRule r;
    r.pattern = std::string(pattern);
    if (const auto* d = value.dictionary()) {
        r.omit = flag(*d, "omit");
        r.optional = flag(*d, "optional");
        r.nested = flag(*d, "nested");
        if (const auto* w = d->find("weight")) {
            if (w->integer())
                r.weight = static_cast<double>(w->integer()->asSigned());
            else if (w->real())
                r.weight = *w->real();
        }
    } else if (const auto* b = value.boolean()) {
        r.omit = !*b;
    } else {
        return refused(pattern, "is neither a dictionary nor a boolean", ErrorCode::malformed);
    }
    return r;
}

}  // namespace

Expected<ResourceRules> ResourceRules::compile(const plist::Dictionary& dictionary) {
    if (dictionary.size() > maxSealRules)
        return Error{0, "more than " + std::to_string(maxSealRules) + " rules",
                     ErrorCode::tooLarge};
    countRefills();
    // Compiled automata by their patterns, in order, each after its length: apps built by the
    // same tools seal with the same rules, and compiling them costs more than checking a
    // small app's files. Few, as each may grow to maxRulesMemory.
    static RecentResults<std::shared_ptr<Matcher>, 8> compiled;
    std::string patterns;
    for (const auto& [key, value] : dictionary) {
        const std::string_view pattern = patternOf(key);
        patterns.append(std::to_string(pattern.size())).append(1, ':').append(pattern);
    }
    std::shared_ptr<Matcher> matcher;
    bool outgrown = false;  // then this seal's own automaton is not kept either
    if (auto found = compiled.find(patterns)) {
        outgrown = (*found)->refilled;
        if (!outgrown) matcher = std::move(*found);
    }
    // Each of those patterns compiled, alone and together: only what the values say is left.
    const bool known = matcher != nullptr;
    if (!known) matcher = std::make_shared<Matcher>(posixExtended(maxRulesMemory));
    ResourceRules out;
    for (const auto& [key, value] : dictionary) {
        const std::string_view pattern = patternOf(key);
        auto r = ruleOf(pattern, value);
        if (!r) return r.error();
        out.rules.push_back(std::move(*r));
        if (known) continue;
        // Alone first, so that a refusal names its rule and says why.
        if (const RE2 alone(pattern, posixExtended(maxRuleMemory)); !alone.ok())
            return refused(pattern, alone);
        if (matcher->set.Add(pattern, nullptr) != static_cast<int>(out.rules.size() - 1))
            return refused(pattern, "can't be matched with the others", ErrorCode::unsupported);
    }
    if (!known) {
        if (!matcher->set.Compile())
            return Error{0,
                         "the rules together are too large to match in " +
                             std::to_string(maxRulesMemory >> 20) + " MiB",
                         ErrorCode::tooLarge};
        if (!outgrown) compiled.add(patterns, matcher);
    }
    out.matcher = std::move(matcher);
    return out;
}

Expected<const ResourceRule*> ResourceRules::ruleFor(std::string_view path) const {
    if (rules.empty()) return static_cast<const ResourceRule*>(nullptr);
    const auto tooLarge = [] {
        return Error{0,
                     "the rules' automaton outgrows " + std::to_string(maxRulesMemory >> 20) +
                         " MiB on this bundle's paths",
                     ErrorCode::tooLarge};
    };
    if (refills > maxRuleCacheRefills) return tooLarge();
    std::vector<int> matched;
    RE2::Set::ErrorInfo error{RE2::Set::kNoError};
    const std::uint64_t before = cacheRefills;
    const bool any = matcher->set.Match(path, &matched, &error);
    if (cacheRefills != before) {
        refills += cacheRefills - before;
        matcher->refilled = true;
    }
    if ((!any && error.kind != RE2::Set::kNoError) || refills > maxRuleCacheRefills)
        return tooLarge();
    // In the rules' own order, as a heavier rule displaces only a lighter one.
    std::sort(matched.begin(), matched.end());
    const ResourceRule* best = nullptr;
    for (const int i : matched)
        if (!best || rules[static_cast<std::size_t>(i)].weight > best->weight)
            best = &rules[static_cast<std::size_t>(i)];
    return best;
}

}  // namespace varko::codesign
