#pragma once

#include <cstdint>
#include <string>

namespace varko::signing {

/// A moment as codesign shows it, in the local time zone: "Sep 16, 2026 at 4:16:56 PM".
[[nodiscard]] std::string codesignDate(std::int64_t secondsSince1970);

/// A moment as pkgutil shows it, in UTC: "2026-09-16 14:16:56 +0000".
[[nodiscard]] std::string pkgutilDate(std::int64_t secondsSince1970);

}  // namespace varko::signing
