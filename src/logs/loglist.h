#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>
#include <vector>

#include "logs/logarray.h"
#include "logs/logentry.h"
#include "logs/logjson.h"
#include "logs/logtime.h"

namespace varko::unifiedlog {

/// A `ParallelRunner` on the threads that this thread's work may use (its window's pool):
/// `work` runs here and on up to `helpers` more that are free now; none is waited for.
[[nodiscard]] ParallelRunner poolRunner(unsigned helpers);

/// The reader of the log tool's 31-character timestamps.
struct LongTimestampFormatter {
    [[nodiscard]] std::optional<Microseconds> parse(std::string_view text) const {
        const auto time = parseLongTimestamp(text);
        return time ? std::optional(*time) : std::nullopt;
    }
};

/// One parsed result of a log query: its entries in the tool's order and the two
/// formatters they share. Entries point back at their list, so a list never moves.
class LogList final {
    Q_DISABLE_COPY_MOVE(LogList)
public:
    /// Parses the tool's JSON output on up to eight cores. Every element that reads is an
    /// entry; `summary` tells what could not be read. The bytes are not copied.
    explicit LogList(const QByteArray& bytes);
    /// A list of already parsed entries, for tests and generators.
    LogList() = default;

    std::vector<LogEntry> children;
    std::optional<LongTimestampFormatter> dateFormatterLong = LongTimestampFormatter{};
    std::optional<ShortTimeFormatter> dateFormatterShort = ShortTimeFormatter{};
    /// The longest line, in UTF-16 units, of any entry; sizes a view without measuring.
    qsizetype longestLine = 0;
    /// What the parse skipped, and whether the output was cut short.
    LogWalkSummary summary;

    /// Adds one entry built from `fields`, as parsing does.
    void append(const LogFields& fields);
};

}  // namespace varko::unifiedlog
