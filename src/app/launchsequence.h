#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

#include "logs/dedysfunction.h"
#include "tools/toolset.h"

namespace varko {

/// The five answers, true where the log browser's condition is met.
struct ProbeAnswers {
    bool isAdminUser = true, hasLogFiles = true, hasTimesyncFiles = true, hasLogEntries = true,
         hasCorrectTimeFormat = true;
    /// The entries question got no answer in time; `hasLogEntries` then holds.
    bool logTookTooLong = false;
};

/// The readiness questions the launch sequence asks, in their order. They touch
/// nothing of the delegate's, so they are asked on a thread away from the windows.
struct LaunchProbe {
    std::function<bool()> isAdminUser, hasLogFiles, hasTimesyncFiles;
    std::function<unifiedlog::LogEntries()> logEntries;
    std::function<bool()> hasCorrectTimeFormat;
    QString setClockScript;

    /// The system's probe over `tools`, its log queries limited to `logQueryLimit`.
    [[nodiscard]] static LaunchProbe system(
        const host::ToolSet& tools,
        std::chrono::milliseconds logQueryLimit = std::chrono::minutes(1));
    /// Asks the questions in their order. A log too slow to answer is not asked
    /// about its format: it would keep everything waiting as long again, to tell nothing.
    [[nodiscard]] ProbeAnswers ask() const;
};

/// What the launch sequence tells and withdraws for a set of answers.
struct LaunchVerdict {
    /// The alerts of the first four questions, in their order; a slow log's is among
    /// them but leaves the log browser on offer.
    QStringList alerts;
    /// Shown last, after the clock script has run; empty when the format is good.
    QString timeFormatAlert;
    bool logBrowserWorks = true;
    /// Why the log browser can't work, one cause a line; empty when it can.
    QString unavailableReason;
    /// On a desktop where the log is the journal, what would have been alerts, told
    /// instead in a line that doesn't block: the user came to inspect an app.
    QString notice;
};

/// The verdict on `answers` in the words of `profile`. On macOS every failed question
/// has its alert. A journal that is missing or may not be read fails several
/// questions, and is told once, in the notice rather than in alerts.
[[nodiscard]] LaunchVerdict judgeProbeAnswers(const ProbeAnswers& answers,
                                              const host::PlatformProfile& profile);

/// Everything outside the delegate that the launch sequence consults; tests
/// replace any of it.
struct LaunchEnvironment {
    std::function<LaunchProbe()> makeProbe;
    /// Runs AppleScript source; nothing happens where there is no AppleScript.
    std::function<void(const QString&)> runAppleScript;
    /// The running macOS's major and minor version; {0, 0} elsewhere.
    std::function<std::pair<int, int>()> systemVersion;
    /// Seconds since 2001-01-01 00:00:00 UTC.
    std::function<double()> now;
    /// Whether the running program's own signature still holds. Unsigned builds and
    /// systems without code signing have nothing to check and pass.
    std::function<bool()> ownSignatureHolds;
    /// Ends the program after a failed self-check, once the event loop runs.
    std::function<void()> quit;

    [[nodiscard]] static LaunchEnvironment system(const host::ToolSet& tools);
};

/// The version code of macOS major.minor: the 10.x minor number, 16 for macOS 11,
/// 17 for every later or unknown system.
[[nodiscard]] qint64 osVersionFor(int major, int minor);

/// The automatic update check's decision from the three defaults and the time.
struct UpdateSchedule {
    bool checkNow = false;
    /// The interval written back: the stored one, or twelve hours for one below a second.
    double interval = 43200.0;
};
[[nodiscard]] UpdateSchedule scheduleUpdateCheck(bool noUpdateCheck, double lastCheck,
                                                 double storedInterval, double now);

/// The self-check's message; the probe's come from the platform profile.
namespace launchmessages {
inline constexpr auto modified =
    "Varko's own code signature is broken: the application was changed after it was "
    "signed.\nPlease download "
    "Varko again. Varko will quit now.";
}  // namespace launchmessages

}  // namespace varko
