#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>
#include <vector>

#include "logs/logentry.h"
#include "logs/logjson.h"
#include "logs/logtime.h"

namespace varko::logs {

/// The reader of the log tool's 31-character timestamps.
struct LongTimestampFormatter {
    [[nodiscard]] std::optional<Microseconds> parse(std::string_view text) const { return parseLongTimestamp(text); }
};

/// One parsed result of a log query: its entries in the tool's order and the two
/// formatters they share. Entries point back at their list, so a list never moves.
class LogList final {
    Q_DISABLE_COPY_MOVE(LogList)
public:
    /// Parses the tool's JSON output, all or nothing: bytes that are not a JSON
    /// array give no entries. `bytes` may grow by a few bytes of padding.
    explicit LogList(QByteArray& bytes);
    /// A list of already parsed entries, for tests and generators.
    LogList() = default;

    std::vector<LogEntry> children;
    std::optional<LongTimestampFormatter> dateFormatterLong = LongTimestampFormatter{};
    std::optional<ShortTimeFormatter> dateFormatterShort = ShortTimeFormatter{};
    /// The longest line, in UTF-16 units, of any entry; sizes a view without measuring.
    qsizetype longestLine = 0;

    /// Adds one entry built from `fields`, as parsing does.
    void append(const LogFields& fields);

private:
    /// Parses the slices of a large document on all cores; false when one of them
    /// is not well formed.
    bool parseSlices(const std::vector<LogSlice>& slices);
};

}  // namespace varko::logs
