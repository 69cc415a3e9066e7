#pragma once

#include <optional>
#include <span>
#include <string>

namespace varko::codesign {

/// What the command line asks for. Only the display mode exists so far.
struct Options {
    bool display = false;
    int verbose = 0;  ///< how many -v were given
    /// Where to write entitlements: "-" or a file, with a leading ':' for the bare plist.
    std::optional<std::string> entitlements;
    std::optional<std::string> architecture;  ///< -a/--architecture: which slice to show
    std::string path;
};

struct ParsedOptions {
    std::optional<Options> options;
    std::string error;  ///< set when options is empty
};

[[nodiscard]] ParsedOptions parseOptions(std::span<const std::string> arguments);

[[nodiscard]] const char* usage();

}  // namespace varko::codesign
