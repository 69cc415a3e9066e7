#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varko::plist {

/// `d` as printf's %.{precision}g prints it in the "C" locale, whatever the process locale. Finite
/// values only. Not std::to_chars: Apple's libc++ has it for doubles only from macOS 13.3.
[[nodiscard]] std::string printReal(double d, int precision);

/// The whole of `text` read as a decimal real, as strtod reads it in the "C" locale: no leading
/// '+' or space, and nothing when it overflows or underflows to zero. libc++ has no
/// std::from_chars for doubles.
[[nodiscard]] std::optional<double> readReal(std::string_view text);

}  // namespace varko::plist
