// A resource seal (CodeResources) from hostile bytes. Its rules and rules2 are compiled and
// every name the seal lists is matched against them; each plain rule (printable ASCII, no
// escapes, no bounds) must match exactly the names that regcomp(REG_EXTENDED | REG_NOSUB)
// and regexec match, as the rules promise. Then the seal is checked against an
// empty bundle, which reads no file; fuzz_bundle covers seals over real files.
#include <regex.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "format/plist/plist.h"
#include "scratch.h"
#include "signature/resourcerules.h"
#include "signature/resourceseal.h"

namespace fs = std::filesystem;
namespace plist = varko::plist;
using varko::codesign::ResourceRules;

namespace {

constexpr std::size_t maxNames = 64;
constexpr std::size_t maxComparedRules = 16;
constexpr std::size_t maxComparedName = 256;

/// A pattern whose meaning glibc, the platform's libc and RE2's POSIX mode agree on, and
/// that glibc compiles in little time and memory: a bound repeats nullable parts, whose
/// closures glibc builds in quadratic memory ("(.*.*.*){999}" takes gigabytes), and glibc
/// copies its tree once more for each stacked repetition ("e+++…" doubles per '+').
bool plain(const std::string& pattern) {
    const auto repeats = [](char c) { return c == '*' || c == '+' || c == '?'; };
    // Repetitions nested through groups copy the tree too; a few keep it small.
    return pattern.size() <= 64 && std::count_if(pattern.begin(), pattern.end(), repeats) <= 8 &&
           std::all_of(pattern.begin(), pattern.end(),
                       [](char c) { return c >= 0x20 && c < 0x7f && c != '\\' && c != '{'; }) &&
           std::adjacent_find(pattern.begin(), pattern.end(), [&](char a, char b) {
               return repeats(a) && repeats(b);
           }) == pattern.end();
}

void compareWithRegcomp(const std::string& pattern, const std::vector<std::string>& names) {
    plist::Dictionary one;
    one.set(pattern, true);
    const auto rules = ResourceRules::compile(one);
    regex_t re;
    if (!rules || regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return;
    const std::unique_ptr<regex_t, decltype(&regfree)> compiled(&re, regfree);
    for (const std::string& name : names) {
        if (name.size() > maxComparedName || name.find('\0') != std::string::npos) continue;
        const auto matched = rules->ruleFor(name);
        if (!matched) return;  // refused for the memory it takes: no answer to compare
        const bool ours = *matched != nullptr;
        const bool platform = regexec(&re, name.c_str(), 0, nullptr, 0) == 0;
        if (ours != platform) {
            std::fprintf(stderr, "rule \"%s\" %s \"%s\", regexec %s\n", pattern.c_str(),
                         ours ? "matches" : "misses", name.c_str(),
                         platform ? "matches" : "misses");
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto seal = plist::parse(std::as_bytes(std::span(data, size)));
    const auto* dict = seal ? seal->dictionary() : nullptr;
    if (!dict) return 0;

    std::vector<std::string> names;
    for (const char* key : {"files", "files2"})
        if (const auto* v = dict->find(key); v && v->dictionary())
            for (const auto& [name, entry] : *v->dictionary())
                if (names.size() < maxNames) names.push_back(name);
    for (const char* key : {"rules", "rules2"}) {
        const auto* v = dict->find(key);
        const auto* ruleDict = v ? v->dictionary() : nullptr;
        if (!ruleDict) continue;
        if (const auto rules = ResourceRules::compile(*ruleDict))
            for (const std::string& name : names) (void)rules->ruleFor(name);
        std::size_t compared = 0;
        for (const auto& [pattern, value] : *ruleDict)
            if (plain(pattern) && compared++ < maxComparedRules) compareWithRegcomp(pattern, names);
    }

    const fs::path& bundle = varko::fuzzing::scratchFolder();
    (void)varko::codesign::verifyResourceSeal(bundle, *dict, bundle / "MacOS" / "Fuzz", 1);
    return 0;
}
