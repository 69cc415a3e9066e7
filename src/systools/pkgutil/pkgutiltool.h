#pragma once

#include <ostream>
#include <span>
#include <string>

namespace varko::pkgutil {

/// varko-pkgutil's run for `arguments` (the path as the bytes it came as): what it writes on
/// standard output goes to `out`, on standard error to `err`; returns its exit status. The
/// program's main and a scan in this process share it, so both answer alike.
[[nodiscard]] int runPkgutil(std::span<const std::string> arguments, std::ostream& out,
                             std::ostream& err);

}  // namespace varko::pkgutil
