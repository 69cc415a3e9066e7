#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <optional>

#include "tools/toolset.h"

namespace varko::unifiedlog {

/// How the log's test query ended.
enum class LogEntries {
    /// It succeeded and printed more than one line.
    found,
    /// It failed, or printed too little.
    none,
    /// It ran past its limit, as the log of a busy Mac can.
    tookTooLong,
};

/// Answers at launch whether the log can be read here: five read-only questions,
/// each a plain yes or no. Nothing is cached between calls.
class deDysfunction final {
public:
    explicit deDysfunction(host::ToolSet tools);

    /// Brings the system settings to the Language & Region pane, where the clock can
    /// be switched to 24-hour time.
    const QString setClockScript;

    /// The current user belongs to a group that may read the log.
    [[nodiscard]] bool isAdminUser() const;
    [[nodiscard]] bool hasLogFiles() const;
    [[nodiscard]] bool hasTimesyncFiles() const;
    /// Whether a test query of the last two seconds finds entries in time.
    [[nodiscard]] LogEntries logEntries() const;
    /// Dates come out in 24-hour form and the log writes timestamps we can read. A
    /// journal counts only when entries were read: an idle or unreadable one passes.
    [[nodiscard]] bool hasCorrectTimeFormat() const;

    /// `path` is a folder that can be listed and holds at least one entry.
    [[nodiscard]] static bool directoryHasEntries(const QString& path);

    /// Who runs the process; tests name another user.
    std::function<QString()> userName = host::currentUserName;
    /// Reads "yyyy-MM-dd HH:mm:ss" as local time and writes it back the same way;
    /// nothing when it can't be read. Tests stand in a 12-hour clock.
    std::function<std::optional<QString>(const QString&)> roundTripLocalTime;
    /// How long a query of the log may take; tests shorten it.
    std::chrono::milliseconds logQueryLimit = std::chrono::minutes(1);

private:
    [[nodiscard]] bool journalTimesReadable() const;

    host::ToolSet tools;
};

}  // namespace varko::unifiedlog
