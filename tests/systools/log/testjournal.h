#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varko::logtool::test {

/// One entry of the journal export format: the stored time and the fields in order.
struct ExportEntry {
    std::uint64_t realtimeUsec = 0;
    std::vector<std::pair<std::string, std::string>> fields;
};

/// The journal export format (systemd's JOURNAL_EXPORT_FORMATS): text fields as NAME=value
/// lines, fields holding a newline or control bytes in the binary form with a 64-bit
/// little-endian length. Every entry gets a boot ID and a monotonic time.
[[nodiscard]] std::string exportFormat(const std::vector<ExportEntry>& entries);

inline constexpr const char* journalRemote = "/lib/systemd/systemd-journal-remote";

/// Writes `path` (ending in .journal) with systemd-journal-remote; an error text, or empty.
[[nodiscard]] std::string writeJournal(const std::string& path,
                                       const std::vector<ExportEntry>& entries);

}  // namespace varko::logtool::test
