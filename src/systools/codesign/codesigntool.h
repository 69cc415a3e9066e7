#pragma once

#include <ostream>
#include <span>
#include <string>

namespace varko::codesign {

/// varko-codesign's run for `arguments` (paths as the bytes they came as): what it writes on
/// standard output goes to `out`, on standard error to `err`; returns its exit status. The
/// program's main and a scan in this process share it, so both answer alike.
[[nodiscard]] int runCodesign(std::span<const std::string> arguments, std::ostream& out,
                              std::ostream& err);

/// What `varko-codesign --help` prints.
[[nodiscard]] std::string codesignHelp();

}  // namespace varko::codesign
