#pragma once

#include <optional>
#include <span>
#include <string>

#include "format/expected.h"

namespace varko::codesign {

/// What the command line asks for: the display or the verify operation.
struct Options {
    bool display = false;
    bool verify = false;
    /// -R: requirement text after '=', else the path of a file holding one.
    std::optional<std::string> testRequirement;
    int verbose = 0;  ///< how many -v were given
    /// Where to write entitlements: "-" or a file, with a leading ':' for the bare plist.
    std::optional<std::string> entitlements;
    /// Where to write the internal requirements as text: "-" or a file.
    std::optional<std::string> requirements;
    std::optional<std::string> architecture;  ///< -a/--architecture: which slice to show
    std::string path;
};

/// The options, or why the command line is not one codesign takes (code malformed).
[[nodiscard]] Expected<Options> parseOptions(std::span<const std::string> arguments);

[[nodiscard]] const char* usage();

}  // namespace varko::codesign
