#pragma once

#include <cstdint>
#include <string>

namespace varko::logtool {

/// macOS's levels, as `log show` names them in "messageType".
enum class MessageType { Fault, Error, Default, Info, Debug };

/// One journal entry, already mapped onto the keys of macOS's `log show`.
/// Every text is valid UTF-8 and capped; the journal reader guarantees both.
struct LogRecord {
    std::uint64_t timestampUsec = 0;  ///< wall clock, microseconds since the epoch
    std::uint64_t machTimestamp = 0;  ///< monotonic nanoseconds, as Intel Macs count ticks
    std::uint64_t traceID = 0;        ///< the journal's sequence number
    std::uint64_t threadID = 0;
    std::int64_t processID = 0;  ///< 0 for the kernel, as on macOS
    MessageType messageType = MessageType::Default;
    std::string processImagePath;
    std::string subsystem;
    std::string category;
    std::string eventMessage;
    std::string bootUUID;  ///< upper-case 8-4-4-4-12, or empty
};

/// "Fault", "Error", "Default", "Info" or "Debug".
[[nodiscard]] const char* messageTypeName(MessageType type);

/// The journal's syslog priority as macOS's level: 0–2 Fault, 3 Error, 4–5 Default, 6 Info,
/// 7 Debug.
[[nodiscard]] MessageType messageTypeForPriority(int priority);

}  // namespace varko::logtool
