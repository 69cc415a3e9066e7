// The predicate language: Varko's own predicate against records, and what is refused.
#include <gtest/gtest.h>

#include "systools/log/predicate.h"
#include "varkopredicate.h"

using namespace varko::logtool;

namespace {

LogRecord record(std::string subsystem, std::string path, std::int64_t pid) {
    LogRecord r;
    r.subsystem = std::move(subsystem);
    r.processImagePath = std::move(path);
    r.processID = pid;
    return r;
}

bool matches(std::string_view predicate, const LogRecord& r) {
    const auto parsed = Predicate::parse(predicate);
    EXPECT_TRUE(parsed) << predicate << ": " << (parsed ? "" : parsed.error().message);
    return parsed && parsed->matches(r);
}

TEST(PredicateTest, VarkosPredicateTakesEachOfItsSevenConditions) {
    const LogRecord taken[] = {
        record("com.apple.TCC", "/usr/bin/app", 10),
        record("com.apple.launchservices", "/usr/bin/app", 10),
        record("com.apple.securityd", "/usr/bin/app", 10),
        record("com.apple.sandbox", "/usr/bin/app", 10),
        record("", "/usr/sbin/tccd", 10),
        record("", "/usr/libexec/SandboxD", 10),
        record("", "/usr/libexec/TCCD", 10),
        record("", "/kernel", 0),
    };
    for (const LogRecord& r : taken)
        EXPECT_TRUE(matches(varkoPredicate, r)) << r.subsystem << " " << r.processImagePath;

    const LogRecord left[] = {
        record("com.apple.tcc", "/usr/bin/app", 10),  // == is case-sensitive
        record("com.apple.TCC.extra", "/usr/bin/app", 10),
        record("org.example", "/usr/bin/tcc", 10),
        record("", "", 1),
    };
    for (const LogRecord& r : left)
        EXPECT_FALSE(matches(varkoPredicate, r)) << r.subsystem << " " << r.processImagePath;
}

TEST(PredicateTest, OperatorsModifiersAndPrecedence) {
    LogRecord r = record("com.apple.TCC", "/usr/sbin/tccd", 42);
    r.category = "access";
    r.eventMessage = "Granting \"Camera\"\n";
    r.messageType = MessageType::Error;
    EXPECT_TRUE(matches(R"(processImagePath CONTAINS "tccd")", r));
    EXPECT_FALSE(matches(R"(processImagePath CONTAINS "TCCD")", r));
    EXPECT_TRUE(matches(R"(processImagePath contains[c] "TCCD")", r));
    EXPECT_TRUE(matches(R"(subsystem ==[c] "COM.APPLE.tcc")", r));
    EXPECT_TRUE(matches(R"(subsystem BEGINSWITH "com.apple" AND category ENDSWITH "ess")", r));
    EXPECT_TRUE(matches(R"(subsystem != "x" && processID == 42)", r));
    EXPECT_TRUE(matches(R"(NOT processID = 0)", r));
    EXPECT_TRUE(matches(R"(!(processID = 0))", r));
    EXPECT_TRUE(matches(R"(eventMessage == "Granting \"Camera\"\n")", r));
    EXPECT_TRUE(matches(R"(eventMessage CONTAINS '\u0022Cam')", r));
    EXPECT_TRUE(matches(R"(messageType == "Error")", r));
    // AND binds tighter than OR; parentheses change that.
    EXPECT_TRUE(matches(R"(processID = 1 AND category == "x" OR subsystem == "com.apple.TCC")", r));
    EXPECT_FALSE(
        matches(R"(processID = 1 AND (category == "x" OR subsystem == "com.apple.TCC"))", r));
    EXPECT_TRUE(matches(R"(processID = -1 or processID = 42)", r));
}

struct Malformed {
    std::string text;
    std::size_t offset;
    std::string message;
    varko::ErrorCode code = varko::ErrorCode::malformed;
};

TEST(PredicateTest, MalformedPredicatesSayWhatAndWhere) {
    const Malformed cases[] = {
        {R"(subsystem == "com.apple.TCC)", 13, "unterminated quoted text at offset 13"},
        {R"(subsystem == "ends in a backslash\)", 13, "unterminated quoted text at offset 13"},
        {R"(subsytem == "x")", 0, "unknown key \"subsytem\" at offset 0"},
        {R"(subsystem ==)", 12, "expected a value after the operator, found the end at offset 12"},
        {R"(subsystem == "x" OR)", 19, "expected a key, found the end at offset 19"},
        {R"(== "x")", 0, "expected a key at offset 0"},
        {R"(subsystem "x")", 10, "expected an operator at offset 10"},
        {R"(subsystem LIKE "x")", 10, "expected an operator at offset 10"},
        {R"(subsystem == x)", 13, "subsystem takes quoted text at offset 13"},
        {R"(processID = "0")", 12, "processID takes a number, not quoted text at offset 12"},
        {R"(processID CONTAINS 0)", 10, "processID takes only == and != at offset 10"},
        {R"(processID = 99999999999999999999)", 12, "number out of range at offset 12"},
        {R"(processID = 12abc)", 12, "expected a number at offset 12"},
        {R"(subsystem CONTAINS[x] "a")", 18, "expected [c], [d] or [cd] at offset 18"},
        {R"(subsystem == "\q")", 14, "unknown escape \\q at offset 14"},
        {R"(subsystem == "\u12")", 14,
         "expected \\u and four hex digits of a non-surrogate at offset 14"},
        {R"(subsystem == "\uD800")", 14,
         "expected \\u and four hex digits of a non-surrogate at offset 14"},
        {R"((subsystem == "x")", 17, "expected \")\" at offset 17"},
        {R"(subsystem == "x"))", 16, "unexpected text after the predicate at offset 16"},
        {R"(subsystem == "x" processID = 0)", 17,
         "unexpected text after the predicate at offset 17"},
        {"   ", 3, "predicate is empty at offset 3"},
        {std::string(Predicate::maxLength + 1, ' '), Predicate::maxLength,
         "predicate is longer than 4096 bytes at offset 4096", varko::ErrorCode::tooLarge},
        {std::string(33, '(') + "processID = 0" + std::string(33, ')'), 32,
         "predicate nests deeper than 32 levels at offset 32", varko::ErrorCode::tooLarge},
        {[] {
             std::string s;
             for (int i = 0; i < 33; ++i) s += "NOT ";
             return s + "processID = 0";
         }(),
         128, "predicate nests deeper than 32 levels at offset 128", varko::ErrorCode::tooLarge},
    };
    for (const Malformed& m : cases) {
        const auto parsed = Predicate::parse(m.text);
        ASSERT_FALSE(parsed) << m.text;
        EXPECT_EQ(parsed.error().offset, m.offset) << m.text;
        EXPECT_EQ(parsed.error().message, m.message) << m.text;
        EXPECT_EQ(parsed.error().code, m.code) << m.text;
    }
}

TEST(PredicateTest, DeepButAllowedNestingAndLongChainsParse) {
    const std::string nested = std::string(32, '(') + "processID = 0" + std::string(32, ')');
    EXPECT_TRUE(matches(nested, record("", "", 0)));
    // A long OR chain is one node, not a deep tree.
    std::string chain = "processID = 1";
    while (chain.size() < Predicate::maxLength - 20) chain += " OR processID = 1";
    chain += " OR processID = 7";
    EXPECT_TRUE(matches(chain, record("", "", 7)));
}

TEST(PredicateTest, EveryPrefixOfVarkosPredicateIsRefusedOrParsedWithoutCrashing) {
    const std::string_view full = varkoPredicate;
    for (std::size_t n = 0; n < full.size(); ++n) {
        const auto parsed = Predicate::parse(full.substr(0, n));
        if (!parsed) {
            EXPECT_LE(parsed.error().offset, n);
        }
    }
}

}  // namespace
