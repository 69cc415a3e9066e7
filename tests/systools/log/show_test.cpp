// varko-log show run as a program on a journal that each test run writes itself.
#include <gtest/gtest.h>
#include <simdjson.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "format/casetable.h"
#include "support/childprocess.h"
#include "systools/log/options.h"
#include "varkopredicate.h"

using namespace varko::logtool;
using namespace varko::testing;

namespace {

/// One entry of the journal export format: the stored time and the fields in order.
struct ExportEntry {
    std::uint64_t realtimeUsec = 0;
    std::vector<std::pair<std::string, std::string>> fields;
};

constexpr const char* journalRemote = "/lib/systemd/systemd-journal-remote";

/// The journal export format (systemd's JOURNAL_EXPORT_FORMATS): text fields as NAME=value
/// lines, fields holding a newline or control bytes in the binary form with a 64-bit
/// little-endian length. Every entry gets a boot ID and a monotonic time.
std::string exportFormat(const std::vector<ExportEntry>& entries) {
    std::string out;
    std::uint64_t monotonic = 1'000'000;
    for (const ExportEntry& e : entries) {
        out += "__REALTIME_TIMESTAMP=" + std::to_string(e.realtimeUsec) + "\n";
        out += "__MONOTONIC_TIMESTAMP=" + std::to_string(monotonic) + "\n";
        monotonic += 1'000'000;
        out += "_BOOT_ID=0123456789abcdef0123456789abcdef\n";
        for (const auto& [name, value] : e.fields) {
            bool binary = false;
            for (const char c : value)
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') binary = true;
            if (!binary) {
                out += name + "=" + value + "\n";
                continue;
            }
            out += name + "\n";
            for (int i = 0; i < 8; ++i) out += char((value.size() >> (8 * i)) & 0xFF);
            out += value + "\n";
        }
        out += "\n";
    }
    return out;
}

/// Writes `path` (ending in .journal) with systemd-journal-remote; an error text, or empty.
std::string writeJournal(const std::string& path, const std::vector<ExportEntry>& entries) {
    const Finished f = runProgram({{journalRemote, "-o", path, "-"}, {}, exportFormat(entries)});
    return f.status == 0 ? std::string() : "systemd-journal-remote failed: " + f.err;
}

constexpr std::uint64_t t0 = 1617816126123456;  // 18:22:06.123456 in the zone below
constexpr std::uint64_t second = 1'000'000;
const std::string zone = "TZ=XXX-1";

/// The entries of the data folder's journal.txt.
std::vector<ExportEntry> entries() {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    std::vector<ExportEntry> out;
    for (const auto& row : caseRows("journal.txt")) {
        const bool ago = row[0].starts_with("now-");
        ExportEntry& e = out.emplace_back();
        e.realtimeUsec = ago ? now.count() - std::stoull(row[0].substr(4)) * second
                             : t0 + std::stoull(row[0]) * second;
        for (auto field = row.begin() + 1; field != row.end(); ++field) {
            const auto is = field->find('=');
            std::string value = field->substr(is + 1);
            e.fields.emplace_back(field->substr(0, is),
                                  value == "(100 KiB)" ? std::string(100 * 1024, 'x') : value);
        }
    }
    return out;
}

using Entry = std::map<std::string, std::string>;

/// The array's entries with every value as text; fails the test when it is not JSON.
std::vector<Entry> parseEntries(const std::string& out) {
    std::vector<Entry> result;
    simdjson::dom::parser parser;
    simdjson::dom::array array;
    EXPECT_EQ(parser.parse(out).get_array().get(array), simdjson::SUCCESS) << out.substr(0, 2000);
    for (simdjson::dom::element e : array) {
        simdjson::dom::object object;
        if (e.get_object().get(object) != simdjson::SUCCESS) {
            ADD_FAILURE() << "an entry is not an object";
            continue;
        }
        Entry entry;
        for (const auto field : object) {
            std::string_view text;
            entry[std::string(field.key)] = field.value.get_string().get(text) == simdjson::SUCCESS
                                                ? std::string(text)
                                                : simdjson::minify(field.value);
        }
        result.push_back(std::move(entry));
    }
    return result;
}

/// Each entry's message, its first 20 bytes being enough to tell them apart.
std::vector<std::string> messages(const std::vector<Entry>& list) {
    std::vector<std::string> out;
    for (const Entry& e : list) out.push_back(e.at("eventMessage").substr(0, 20));
    return out;
}

class ShowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (access(journalRemote, X_OK) != 0) return;
        folder =
            std::filesystem::temp_directory_path() / ("varko-logtool-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder / "empty");
        journal = (folder / "test.journal").string();
        writeError = writeJournal(journal, entries());
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
    void SetUp() override {
        if (journal.empty())
            GTEST_SKIP() << journalRemote
                         << " is missing (Debian package systemd-journal-remote), so no test "
                            "journal can be written";
        ASSERT_EQ(writeError, "");
    }

    static Finished show(std::vector<std::string> arguments, bool closeOutput = false) {
        arguments.insert(arguments.begin(), {VARKO_BIN_DIR "/varko-log", "show"});
        return runProgram({arguments, {zone}, {}, closeOutput});
    }
    static Finished showJson(std::vector<std::string> more = {}) {
        std::vector<std::string> a = {"--file",  journal, "--predicate", varkoPredicate,
                                      "--style", "json",  "--info"};
        a.insert(a.end(), more.begin(), more.end());
        return show(a);
    }

    static inline std::filesystem::path folder;
    static inline std::string journal;
    static inline std::string writeError;
};

TEST_F(ShowTest, VarkosQueryKeepsWhatItsPredicateAndLevelsSelect) {
    const Finished f = showJson();
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.err, "");
    const auto list = parseEntries(f.out);
    EXPECT_EQ(messages(list), (std::vector<std::string>{
                                  "TCC request", "Sandbox: deny(1) fil",
                                  "say \"hi\"\n\tcaf\xC3\xA9 \xF0\x9F\x8E\x89", "sandbox error",
                                  "launch fault", std::string(20, 'x'), std::string("bin\0ary", 7),
                                  "ten minutes ago", "just now"}));
    for (const Entry& e : list) EXPECT_EQ(e.size(), 22u);
    ASSERT_EQ(list.size(), 9u);
    EXPECT_EQ(list[7].at("messageType"), "Default");
    EXPECT_EQ(list[8].at("messageType"), "Default");
    // Every field of the entries stored at fixed times, in the order and form that macOS's log
    // writes them: priorities 5 and 4 are Default, 6 Info, 3 Error, 2 and 0 Fault; the kernel is
    // process 0 at /kernel, a process without _EXE is named by its command, the time sent
    // outranks the time stored, bad UTF-8 becomes U+FFFD and a long message is cut to 64 KiB.
    std::string fixed = showJson({"--end", "2021-04-07 18:23:00"}).out;
    const std::size_t x = fixed.find(std::string(1000, 'x'));
    ASSERT_NE(x, std::string::npos);
    const std::size_t cut = fixed.find_first_not_of('x', x) - x;
    fixed.replace(x, cut, "(" + std::to_string(cut) + " times x)");
    EXPECT_EQ(fixed, dataFile("varko_query.json"));
}

TEST_F(ShowTest, InfoAndDebugAreLeftOutUnlessAsked) {
    const std::vector<std::string> base = {"--file",       journal,   "--predicate",
                                           varkoPredicate, "--style", "json"};
    Finished f = show(base);
    ASSERT_EQ(f.status, 0) << f.err;
    for (const Entry& e : parseEntries(f.out)) {
        EXPECT_NE(e.at("messageType"), "Info");
        EXPECT_NE(e.at("messageType"), "Debug");
    }
    EXPECT_EQ(parseEntries(f.out).size(), 7u);

    auto withDebug = base;
    withDebug.insert(withDebug.end(), {"--info", "--debug"});
    f = show(withDebug);
    const auto list = parseEntries(f.out);
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list[3].at("eventMessage"), "debug detail");
    EXPECT_EQ(list[3].at("messageType"), "Debug");
}

TEST_F(ShowTest, RangesSelectByTheTimeShown) {
    for (const auto& row : caseRows("ranges.txt")) {
        const auto arrow = std::find(row.begin(), row.end(), "->");
        const std::vector<std::string> arguments(row.begin(), arrow), shown(arrow + 1, row.end());
        const Finished f = showJson(arguments);
        ASSERT_EQ(f.status, 0) << f.err;
        EXPECT_EQ(messages(parseEntries(f.out)), shown) << arguments[1];
        if (shown.empty()) {
            EXPECT_EQ(f.out, "[\n\n]\n");
        }
    }
    EXPECT_EQ(showJson({"--start", "2021-04-07"}).out, showJson().out);
}

TEST_F(ShowTest, TheProbesQueriesAnswer) {
    Finished f = show({"--file", journal, "--last", "2"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out.substr(0, 10), "Timestamp ");
    f = show({"--file", journal, "--style", "json", "--last", "2"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_TRUE(parseEntries(f.out).empty());
}

TEST_F(ShowTest, DefaultStyleIsAHeaderAndALinePerEntry) {
    const Finished f = show({"--file", journal, "--predicate", "processID = 0 OR processID = 100"});
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out, dataFile("default_style.txt"));
}

TEST_F(ShowTest, NoReadableJournalIsOneMessageAndStatus66) {
    const std::string missing = (folder / "missing.journal").string();
    Finished f = show({"--file", missing});
    EXPECT_EQ(f.status, exitNoInput);
    EXPECT_EQ(f.err, "varko-log: no readable systemd journal (" + missing +
                         ": No such file or directory)\n");
    EXPECT_EQ(f.out, "");

    const std::string garbage = (folder / "garbage.journal").string();
    std::ofstream(garbage) << "not a journal at all, only some text that is long enough";
    f = show({"--file", garbage});
    EXPECT_EQ(f.status, exitNoInput);
    EXPECT_EQ(f.err.rfind("varko-log: no readable systemd journal (" + garbage + ": ", 0), 0u)
        << f.err;

    const std::string empty = (folder / "empty").string();
    f = show({"--directory", empty, "--style", "json"});
    EXPECT_EQ(f.status, exitNoInput);
    EXPECT_EQ(f.err,
              "varko-log: no readable systemd journal (" + empty + ": no journal files found)\n");
    EXPECT_EQ(f.out, "");

    f = show({"--directory", folder.string(), "--predicate", "processID = 100", "--style", "json"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(parseEntries(f.out).size(), 1u);
}

TEST_F(ShowTest, BadArgumentsAreUsageErrors) {
    auto cases = caseRows("bad_arguments.txt");
    cases.push_back(
        {"--predicate", std::string(5000, 'a'), "varko-log: predicate is longer than 4096 bytes"});
    for (std::vector<std::string> a : cases) {
        const std::string firstLine = a.back();
        a.pop_back();
        a.insert(a.begin(), {"--file", journal});
        const Finished f = show(a);
        EXPECT_EQ(f.status, exitUsage) << firstLine;
        EXPECT_EQ(f.err.substr(0, f.err.find('\n')), firstLine);
        EXPECT_EQ(f.out, "");
    }
    const Finished noVerb = runProgram({{VARKO_BIN_DIR "/varko-log"}, {}, {}, false});
    EXPECT_EQ(noVerb.status, exitUsage);
    EXPECT_NE(noVerb.err.find("usage: varko-log show"), std::string::npos);
}

TEST_F(ShowTest, AReaderThatLeavesEndsTheRunQuietly) {
    const Finished f = show({"--file", journal, "--style", "json", "--info", "--debug"}, true);
    EXPECT_EQ(f.status, exitIOError);
    EXPECT_EQ(f.err, "");
}

}  // namespace
