#pragma once

#include <string>
#include <string_view>

#include "systools/log/logrecord.h"

namespace varko::logtool {

/// `text` as a JSON string literal the way NSJSONSerialization writes it: '/' as "\/",
/// control characters as \n, \t, … or \u00XX, and bytes that are not UTF-8 as U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

/// One entry of `log show --style json`: "[{" before the first, "},{" between, keys in
/// macOS's order with two-space indentation and `"key" : value`.
void appendJsonEntry(std::string& out, const LogRecord& record, bool first);

/// Closes the array; with no entries it is NSJSONSerialization's empty array, "[\n\n]".
void appendJsonEnd(std::string& out, bool anyEntries);

}  // namespace varko::logtool
