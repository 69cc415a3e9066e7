#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "format/expected.h"
#include "logs/loglist.h"
#include "tools/toolset.h"

namespace varko::unifiedlog {

/// The entries that the log window asks for: the privacy, launch services, security
/// and sandbox subsystems, the two privacy daemons, and the kernel.
inline constexpr auto logPredicate =
    R"(subsystem == "com.apple.TCC" OR subsystem == "com.apple.launchservices" OR )"
    R"(subsystem == "com.apple.securityd" OR subsystem == "com.apple.sandbox" OR )"
    R"(processImagePath CONTAINS[c] "tccd" OR processImagePath CONTAINS[c] "sandboxd" OR processID = 0)";

/// The leading arguments of every query.
[[nodiscard]] QStringList baseCommand();

/// The four boxes of the time range, exactly as typed.
struct TimeRange {
    QString startDate, startTime, endDate, endTime;
};

/// `base`, then "--start" and the joined start when both of its boxes hold text,
/// then "--end" likewise. Texts go on unchanged: the tool judges them.
[[nodiscard]] QStringList queryArguments(const QStringList& base, const TimeRange& range);

/// The boxes of a TimeRange, in the order an error's offset names them.
enum class RangeBox { startDate, startTime, endDate, endTime };

/// Whether the tool can be asked for `range`: each bound whose two boxes hold text is a real
/// local date and time, and the end does not come before the start. Otherwise the error's
/// words say what is wrong and the form expected, and its offset is the RangeBox to mark.
/// The tool would refuse the same and print its usage instead of the entries shown.
[[nodiscard]] Expected<void> checkRange(const TimeRange& range);

/// The range that `queryArguments` sends, in words for a window title:
/// "2026-12-07 10:00:00 to 10:05:00" (the date once when both bounds share it),
/// "from …", "until …", or "the whole log". Box texts are shown with their control
/// characters made visible and cut to a few dozen characters.
[[nodiscard]] QString rangeText(const TimeRange& range);

/// The minute before `moment`, split into the four boxes' texts.
[[nodiscard]] TimeRange defaultRange(Microseconds moment);

/// What a query's run hands back to the window when the tool gave output to show.
struct LogQueryResult {
    /// Parsed for a status of 0, and for output cut at the bound: what came before the
    /// cut is shown.
    std::shared_ptr<const LogList> list;
    /// The tool stopped because its output passed the bound.
    bool truncated = false;
};

/// Upper bound for the tool's output held in memory.
inline constexpr qint64 maxLogOutputBytes = qint64(3) << 30;

/// How much of the tool's standard error is read, and how much of it is shown.
inline constexpr qint64 maxToolMessageBytes = 64 * 1024;
inline constexpr qsizetype maxToolMessageLines = 20;
inline constexpr qsizetype maxToolMessageChars = 2000;

/// The tool's own complaint, fit to show: decoded as UTF-8 (bad bytes become U+FFFD),
/// every control character made visible, trailing blank lines and any usage text dropped,
/// and cut after maxToolMessageLines lines or maxToolMessageChars characters with an
/// ellipsis.
[[nodiscard]] QString toolMessage(const QByteArray& standardError, bool cut = false);

/// Runs the log tool with `arguments` and parses its output when it succeeded.
/// Blocks; meant for a worker thread. An error (toolFailed) says in the window's
/// words that the tool did not start or which status it returned, followed on
/// lines of their own by why it ended early and what it wrote on standard error.
[[nodiscard]] Expected<LogQueryResult> runLogQuery(const host::ToolSet& tools,
                                                   const QStringList& arguments);

}  // namespace varko::unifiedlog
