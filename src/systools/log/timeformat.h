#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/expected.h"

namespace varko::logtool {

/// macOS's `log` timestamp in local time: `yyyy-MM-dd HH:mm:ss.SSSSSS+hhmm`, always
/// timestampLength characters. Times that local time cannot show in four-digit years come
/// out as the epoch in UTC, so that a hostile journal cannot break the column.
[[nodiscard]] std::string formatTimestamp(std::uint64_t usecSinceEpoch);

inline constexpr std::size_t timestampLength = 31;

/// `yyyy-MM-dd HH:mm:ss` or `yyyy-MM-dd` (midnight), read as local time, in microseconds
/// since the epoch. Empty for anything else, including days that do not exist.
[[nodiscard]] Expected<std::uint64_t> parseLocalDateTime(std::string_view text);

/// `--last`'s `N[s|m|h|d]` (no unit: seconds) in microseconds; empty when malformed or when
/// it would overflow.
[[nodiscard]] Expected<std::uint64_t> parseDuration(std::string_view text);

}  // namespace varko::logtool
