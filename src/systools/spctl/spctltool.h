#pragma once

#include <ostream>
#include <span>
#include <string>

namespace varko::spctl {

/// varko-spctl's run for `arguments` (paths as the bytes they came as): it answers on standard
/// error alone, here `err`; returns its exit status. The program's main and a scan in this
/// process share it, so both answer alike.
[[nodiscard]] int runSpctl(std::span<const std::string> arguments, std::ostream& err);

/// What `varko-spctl --help` prints.
[[nodiscard]] std::string spctlHelp();

}  // namespace varko::spctl
