// varko-log's journal reader over the bytes of a journal file, read whole and
// through the log browser's predicate, in both output styles. The JSON it writes must
// read back in full in the log browser's reader, each entry's texts and time as the
// record had them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/logarray.h"
#include "logs/logtimestamp.h"
#include "systools/log/journalreader.h"
#include "systools/log/jsonformat.h"
#include "systools/log/predicate.h"
#include "systools/log/textformat.h"

namespace {

using namespace varko::logtool;

// The log browser's own query, as it passes it to the tool.
constexpr std::string_view browserPredicate =
    R"(subsystem == "com.apple.TCC" OR subsystem == "com.apple.launchservices" OR )"
    R"(subsystem == "com.apple.securityd" OR subsystem == "com.apple.sandbox" OR )"
    R"(processImagePath CONTAINS[c] "tccd" OR processImagePath CONTAINS[c] "sandboxd" OR processID = 0)";

// Enough to pass every seed; a file that claims more stops there.
constexpr std::size_t maxRecords = 4096;

void require(bool condition) {
    if (!condition) std::abort();
}

std::string journalPath;

// What the browser shows for a text the tool wrote: NUL made visible.
std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text)
        out += c == '\0' ? std::string_view("\xE2\x90\x80") : std::string_view(&c, 1);
    return out;
}

void readAndCheck(JournalReader& reader, const JournalFilter& filter) {
    std::vector<LogRecord> records;
    std::string json, text;
    const auto read = reader.read(filter, [&](const LogRecord& r) {
        require(r.eventMessage.size() <= JournalReader::maxMessageBytes);
        require(r.subsystem.size() <= JournalReader::maxFieldBytes);
        require(r.processImagePath.size() <= JournalReader::maxFieldBytes);
        appendJsonEntry(json, r, records.empty());
        appendTextEntry(text, r);
        records.push_back(r);
        return records.size() < maxRecords;
    });
    appendJsonEnd(json, !records.empty());

    std::size_t index = 0;
    const auto summary =
        varko::unifiedlog::walkLogArray(json, [&](const varko::unifiedlog::LogFields* f) {
            require(f != nullptr && index < records.size());
            const LogRecord& r = records[index++];
            // A NUL shows in three bytes, so a message full to the tool's bound may pass the
            // browser's.
            const std::string message = shown(r.eventMessage);
            require(f->eventMessage && message.starts_with(*f->eventMessage) &&
                    f->eventMessageCut == message.size() - f->eventMessage->size());
            require(f->subsystem && *f->subsystem == shown(r.subsystem));
            require(f->processImagePath && *f->processImagePath == shown(r.processImagePath));
            const auto time =
                f->timestamp && varko::unifiedlog::parseLongTimestamp(*f->timestamp)
                    ? std::optional(*varko::unifiedlog::parseLongTimestamp(*f->timestamp))
                    : std::nullopt;
            require(time.has_value());
            require(*time == (long long)r.timestampUsec || *time == 0);
        });
    require(summary.clean() && index == records.size());
    (void)read;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In UTC every moment has its own text, so times read back exactly.
    setenv("TZ", "UTC", 1);
    tzset();
    // Memory-backed where there is such a folder: the file is written anew for every input.
    const std::string parent = access("/dev/shm", W_OK) == 0
                                   ? std::string("/dev/shm")
                                   : std::filesystem::temp_directory_path().string();
    std::string folder = parent + "/varko-logjournal-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    journalPath = folder + "/input.journal";
    static const std::string removed = folder;
    std::atexit([] {
        unlink(journalPath.c_str());
        rmdir(removed.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(journalPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!out.flush()) std::abort();
    }
    auto opened = JournalReader::open({{journalPath}, {}});
    if (!opened) {
        require(!opened.error().message.empty());
        return 0;
    }
    static const auto predicate = Predicate::parse(browserPredicate);
    require(predicate.ok());
    readAndCheck(*opened, {std::nullopt, std::nullopt, true, true, nullptr});
    // A window around the seeds' entries, in April 2021, through the browser's query.
    readAndCheck(*opened, {1617812000000000, 1617813000000000, true, false, &*predicate});
    return 0;
}
