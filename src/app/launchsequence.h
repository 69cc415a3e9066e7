#pragma once

#include <QString>
#include <functional>
#include <utility>

#include "tools/toolset.h"

namespace varko {

/// The readiness questions the launch sequence asks, in their order.
struct LaunchProbe {
    std::function<bool()> isAdminUser, hasLogFiles, hasTimesyncFiles, hasLogEntries,
        hasCorrectTimeFormat;
    QString setClockScript;

    /// The system's probe over `tools`.
    [[nodiscard]] static LaunchProbe system(const host::ToolSet& tools);
};

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

/// The messages of the five readiness questions.
namespace launchmessages {
inline constexpr auto notAdmin =
    "Varko can't get logs unless you're an admin user.\nThe Open Log Browser command has been "
    "disabled.";
inline constexpr auto noLogFiles =
    "Varko can't find any log files on your Mac.\nThe Open Log Browser command has been disabled.";
inline constexpr auto noTimesync =
    "Varko can't find log timesync files on your Mac.\nThe Open Log Browser command has been "
    "disabled.";
inline constexpr auto noEntries =
    "Varko can't find any log entries on your Mac.\nThe Open Log Browser command has been "
    "disabled.";
inline constexpr auto modified =
    "Varko's own code signature is broken: the application was changed after it was "
    "signed.\nPlease download "
    "Varko again. Varko will quit now.";
inline constexpr auto timeFormat =
    "Log time format is incorrect.\nPlease set the time in the Language & Region pane to 24-hour, "
    "or trying to "
    "use the Open Log Browser command will return errors.";
}  // namespace launchmessages

}  // namespace varko
