#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "systools/log/logrecord.h"
#include "systools/log/predicate.h"

struct sd_journal;

namespace varko::logtool {

/// Which journal to read: given files, one directory, or (both empty) the system's.
struct JournalSource {
    std::vector<std::string> files;
    std::string directory;
};

/// What `log show` keeps. Times are wall-clock microseconds, both ends inclusive.
struct JournalFilter {
    std::optional<std::uint64_t> startUsec;
    std::optional<std::uint64_t> endUsec;
    bool info = false;
    bool debug = false;
    const Predicate* predicate = nullptr;  ///< none: every entry
};

/// Reads the systemd journal through libsystemd and maps each entry onto macOS's keys.
/// Fields are capped (messages at maxMessageBytes, the rest at maxFieldBytes) and made
/// valid UTF-8, because the journal holds whatever any process sent it.
class JournalReader final {
public:
    static constexpr std::size_t maxMessageBytes = 64 * 1024;
    static constexpr std::size_t maxFieldBytes = 4096;
    /// A sent entry carries its source time, which is a little earlier than when the
    /// journal stored it; reading goes on this long past the end so as not to miss those.
    static constexpr std::uint64_t endSlackUsec = 60'000'000;

    /// Opens the journal, or says why there is none to read (unreadable, or missing when
    /// there are no journal files).
    [[nodiscard]] static Expected<JournalReader> open(const JournalSource& source);

    /// Gives each entry that passes the filter to `emit`, in the journal's order, one at a
    /// time; `emit` returns false to stop. Fails when the journal can't be read on.
    [[nodiscard]] Expected<void> read(const JournalFilter& filter,
                                      const std::function<bool(const LogRecord&)>& emit);

private:
    struct Closer {
        void operator()(sd_journal* j) const;
    };

    explicit JournalReader(sd_journal* j) : journal(j) {}
    /// Fills `record` (kept across entries, so that its texts keep their capacity) from the
    /// current entry and gives the time it was stored; fails for an entry without one.
    [[nodiscard]] Expected<std::uint64_t> current(LogRecord& record);

    std::unique_ptr<sd_journal, Closer> journal;
};

}  // namespace varko::logtool
