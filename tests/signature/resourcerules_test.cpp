// A seal's rules are strangers' regular expressions: matched as the platform's regcomp
// would, but in linear time and bounded memory, and refused, by name, where that can't be.
#include <gtest/gtest.h>

#include <string>

#include "format/casetable.h"
#include "format/plist/plist.h"
#include "signature/resourcerules.h"
#include "signature/resourceseal.h"
#include "signingfixture.h"

using namespace varko;
using namespace varko::codesign;
using namespace varko::testing;

namespace {

plist::Value rule(int weight, const char* flag = nullptr) {
    plist::Dictionary d;
    d.set("weight", plist::Integer{static_cast<std::uint64_t>(weight)});
    if (flag) d.set(flag, true);
    return d;
}

/// The pattern of the rule that decides `path`, or "none".
std::string decides(const ResourceRules& rules, const std::string& path) {
    const auto r = rules.ruleFor(path);
    if (!r) return "error " + r.error().message;
    return *r ? (*r)->pattern : "none";
}

TEST(ResourceRulesTest, MatchAsRegcompExtendedWithoutFlagsDoes) {
    plist::Dictionary d;
    d.set("^Resources/", true);
    d.set("^Resources/.*\\.lproj/", rule(1000, "optional"));
    d.set("\\.DS_Store$", rule(2000, "omit"));
    d.set("^[^/]+$", rule(10, "nested"));
    d.set("^a.b$", rule(50));
    d.set("^version\\.plist$", false);
    auto rules = ResourceRules::compile(d);
    ASSERT_TRUE(rules) << rules.error().message;

    for (const auto& [path, pattern] : caseTable<2>("rule_matches.txt"))
        EXPECT_EQ(decides(*rules, path), pattern) << path;
    EXPECT_TRUE((*rules->ruleFor("Resources/deep/.DS_Store"))->omit);
    // A rule set to false omits what it matches, as the platform has it.
    plist::Dictionary alone;
    alone.set("^version\\.plist$", false);
    EXPECT_TRUE((*ResourceRules::compile(alone)->ruleFor("version.plist"))->omit);
}

// Seals of the same patterns share their compiled automaton, but what each rule's value says
// stays each seal's own, as does a refusal.
TEST(ResourceRulesTest, SealsOfTheSamePatternsKeepTheirOwnValues) {
    const struct {
        plist::Value plists;
        const char* decides;
        bool omit;
    } cases[] = {
        {rule(20, "omit"), "\\.plist$", true},
        {rule(30), "\\.plist$", false},
        {rule(1), "^.*", false},
    };
    for (const auto& c : cases) {
        plist::Dictionary d;
        d.set("^.*", rule(10));
        d.set("\\.plist$", c.plists);
        const auto rules = ResourceRules::compile(d);
        ASSERT_TRUE(rules) << rules.error().message;
        EXPECT_EQ(decides(*rules, "Info.plist"), c.decides);
        EXPECT_EQ((*rules->ruleFor("Info.plist"))->omit, c.omit);
    }
    plist::Dictionary bad;
    bad.set("^.*", rule(10));
    bad.set("\\.plist$", plist::Integer{1});
    EXPECT_FALSE(ResourceRules::compile(bad));
}

TEST(ResourceRulesTest, RulesThatCantBeMatchedSafelyAreRefusedByName) {
    auto cases = caseTable<4>("unusable_rules.txt");
    cases.push_back({std::string(1025, 'a'), "true", "tooLarge",
                     "rule \"" + std::string(80, 'a') + "...\" is longer than 1024 bytes"});
    for (const auto& [pattern, value, code, message] : cases) {
        SCOPED_TRACE(pattern);
        plist::Dictionary d;
        d.set("^.*", true);
        d.set(pattern, value == "true" ? plist::Value(true) : plist::Integer{1});
        auto rules = ResourceRules::compile(d);
        ASSERT_FALSE(rules);
        EXPECT_EQ(rules.error().message, message);
        EXPECT_EQ(nameOf(rules.error().code), code);
    }
    plist::Dictionary many;
    for (int i = 0; i <= 256; ++i) many.set("^" + std::to_string(i) + "$", true);
    const auto tooMany = ResourceRules::compile(many);
    EXPECT_EQ(tooMany.error().message, "more than 256 rules");
    EXPECT_EQ(tooMany.error().code, ErrorCode::tooLarge);
}

// Each of these takes a backtracking matcher exponential time or memory on a long name.
TEST(ResourceRulesTest, NestedRepetitionsMatchLongPathsInOnePass) {
    plist::Dictionary d;
    for (const char* pattern :
         {"^(a*)*b$", "^(a|aa)*c$", "^(.*)*x$", "^(a+)+$", "(a|a?)+z", "^((a*)*)*[^a]"})
        d.set(pattern, true);
    auto rules = ResourceRules::compile(d);
    ASSERT_TRUE(rules) << rules.error().message;
    EXPECT_EQ(decides(*rules, std::string(4000, 'a') + "!"), "^((a*)*)*[^a]");
    EXPECT_EQ(decides(*rules, std::string(4000, 'a')), "^(a+)+$");
}

// Rules whose automaton has more states than its cache holds would make each byte of each
// path cost a new state; after a few refills of the cache they are refused instead.
TEST(ResourceRulesTest, RulesThatOutgrowTheirCacheAreRefusedNotCrawledThrough) {
    plist::Dictionary hostile, plain;
    for (int i = 0; i < 64; ++i)
        hostile.set("^(x|y)*x(x|y){" + std::to_string(10 + i % 11) + "}z" + std::to_string(i) + "$",
                    true);
    hostile.set("^[xy]", true);
    for (const char* pattern : {"^.*", "^Resources/", "^Resources/.*\\.lproj/", "^[^/]+$"})
        plain.set(pattern, true);
    plain.set("^(.*/)?\\.DS_Store$", rule(2000, "omit"));
    auto slow = ResourceRules::compile(hostile);
    auto fast = ResourceRules::compile(plain);
    ASSERT_TRUE(slow && fast);
    std::string error;
    std::optional<ErrorCode> code;
    unsigned seed = 1;
    for (int n = 0; n < 5000 && error.empty(); ++n) {
        std::string name;
        for (int c = 0; c < 200; ++c) {
            seed = seed * 1103515245 + 12345;
            name += (seed >> 16) & 1 ? 'x' : 'y';
        }
        if (auto r = slow->ruleFor(name); !r) {
            error = r.error().message;
            code = r.error().code;
        }
        ASSERT_EQ(decides(*fast, "Resources/" + name + "/.DS_Store"), "^(.*/)?\\.DS_Store$");
    }
    EXPECT_EQ(error, "the rules' automaton outgrows 4 MiB on this bundle's paths");
    EXPECT_EQ(code, ErrorCode::tooLarge);
    EXPECT_EQ(decides(*slow, "xy"), "error " + error);  // and stay refused
}

// The verifier refuses such a seal as a whole, before any file is looked at.
TEST(ResourceRulesTest, ASealWithAnUnusableRuleFailsVerification) {
    TestPki pki;
    QTemporaryDir dir;
    const SignWith w{&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, nullptr};
    const auto app = signedBundle(dir, "Rules", w, {});
    ASSERT_FALSE(app.empty());
    ASSERT_TRUE(assess(app, pki.anchors()).accepted);
    plist::Dictionary rules2;
    rules2.set("^.*", true);
    rules2.set("^(.*)(.*)\\2\\1$", true);
    plist::Dictionary seal;
    seal.set("files", plist::Dictionary{});
    seal.set("files2", plist::Dictionary{});
    seal.set("rules", plist::Dictionary{});
    seal.set("rules2", std::move(rules2));
    ASSERT_TRUE(resealBundle(app, plist::writeXml(seal), w));
    const auto a = assess(app, pki.anchors());
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(
        a.reason,
        "invalid resource specification rule(s) (rule \"^(.*)(.*)\\2\\1$\" uses a back-reference "
        "(\\2), which can't be matched in bounded time)");
}

}  // namespace
