#pragma once

#include <string>

#include "systools/log/logrecord.h"

namespace varko::logtool {

/// The column header of `log show`'s default style.
void appendTextHeader(std::string& out);

/// One line of the default style: timestamp, thread, type, activity, PID, TTL, then
/// "image: [subsystem:category] message". Control characters other than newline and tab
/// become U+FFFD, so that a message cannot steer the terminal.
void appendTextEntry(std::string& out, const LogRecord& record);

}  // namespace varko::logtool
