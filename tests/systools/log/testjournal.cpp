#include "testjournal.h"

#include "support/childprocess.h"

namespace varko::logtool::test {

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

std::string writeJournal(const std::string& path, const std::vector<ExportEntry>& entries) {
    const varko::testing::Finished f =
        varko::testing::runProgram({{journalRemote, "-o", path, "-"}, {}, exportFormat(entries)});
    return f.status == 0 ? std::string() : "systemd-journal-remote failed: " + f.err;
}

}  // namespace varko::logtool::test
