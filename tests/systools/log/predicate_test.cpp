// The predicate language: Varko's own predicate against records, and what is refused.
#include <gtest/gtest.h>

#include "format/casetable.h"
#include "systools/log/predicate.h"
#include "varkopredicate.h"

using namespace varko::logtool;
using varko::testing::caseTable;

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
    for (const auto& [taken, subsystem, path, pid] : caseTable<4>("varko_predicate.txt"))
        EXPECT_EQ(matches(varkoPredicate, record(subsystem, path, std::stoi(pid))), taken == "1")
            << subsystem << " " << path;
}

TEST(PredicateTest, OperatorsModifiersAndPrecedence) {
    LogRecord r = record("com.apple.TCC", "/usr/sbin/tccd", 42);
    r.category = "access";
    r.eventMessage = "Granting \"Camera\"\n";
    r.messageType = MessageType::Error;
    for (const auto& [taken, predicate] : caseTable<2>("predicate_matches.txt"))
        EXPECT_EQ(matches(predicate, r), taken == "1") << predicate;
}

TEST(PredicateTest, MalformedPredicatesSayWhatAndWhere) {
    auto cases = caseTable<4>("malformed_predicates.txt");
    std::string nots;
    for (int i = 0; i < 33; ++i) nots += "NOT ";
    const auto tooLarge = [](std::string text, std::size_t offset, std::string message) {
        return std::array{text, std::to_string(offset), std::string("tooLarge"), message};
    };
    cases.push_back(tooLarge(std::string(Predicate::maxLength + 1, ' '), Predicate::maxLength,
                             "predicate is longer than 4096 bytes at offset 4096"));
    cases.push_back(tooLarge(std::string(33, '(') + "processID = 0" + std::string(33, ')'), 32,
                             "predicate nests deeper than 32 levels at offset 32"));
    cases.push_back(tooLarge(nots + "processID = 0", 128,
                             "predicate nests deeper than 32 levels at offset 128"));
    for (const auto& [text, offset, code, message] : cases) {
        SCOPED_TRACE(text);
        const auto parsed = Predicate::parse(text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(std::to_string(parsed.error().offset), offset);
        EXPECT_EQ(parsed.error().message, message);
        EXPECT_EQ(nameOf(parsed.error().code), code);
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
