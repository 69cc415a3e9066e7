#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/expected.h"

namespace varko::logtool {

enum class Style { Default, Json };

/// What `varko-log show …` asks for. Only the `show` verb exists.
struct Options {
    bool help = false;
    Style style = Style::Default;
    bool info = false;
    bool debug = false;
    std::optional<std::string> predicate;
    std::optional<std::uint64_t> lastUsec;   ///< --last, as a span before now
    std::optional<std::uint64_t> startUsec;  ///< --start, wall-clock microseconds
    std::optional<std::uint64_t> endUsec;    ///< --end, the last microsecond of that second
    std::vector<std::string> files;          ///< --file, for tests: read these journal files
    std::string directory;                   ///< --directory, for tests: read this folder
};

inline constexpr std::size_t maxArguments = 256;
inline constexpr std::size_t maxArgumentBytes = 8192;
inline constexpr std::size_t maxFiles = 64;

/// The arguments after the program's name. Dates and the predicate's length are checked
/// here; the predicate itself is parsed by Predicate. Fails with why the arguments are
/// not a command varko-log takes (malformed; tooLarge past the caps above).
[[nodiscard]] Expected<Options> parseOptions(std::span<const std::string> arguments);

[[nodiscard]] const char* usage();

/// Exit statuses, as sysexits.h names them (macOS's `log` uses 64 for usage errors).
inline constexpr int exitUsage = 64;    ///< bad arguments, predicate or date
inline constexpr int exitNoInput = 66;  ///< no readable journal
inline constexpr int exitIOError = 74;  ///< reading the journal or writing output failed

}  // namespace varko::logtool
