#pragma once

#include <string>
#include <string_view>

namespace varko {

/// Text a stranger controls (UTF-8, or bytes that only claim to be), made fit for one line of
/// a tool's transcript: control characters become their visible pictures (a line feed shows as
/// U+240A), line separators and direction marks and overrides show as <U+XXXX>, and a byte that
/// is not part of valid UTF-8 as \xNN, so the text can neither start a line of its own nor
/// disguise what follows it. The same forms as the windows show (host::visibleControls).
[[nodiscard]] std::string visibleControls(std::string_view text);

/// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
[[nodiscard]] bool isValidUtf8(std::string_view text);

}  // namespace varko
