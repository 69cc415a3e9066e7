#pragma once

#include <QStringList>
#include <optional>

namespace varko {

/// Answers `--help` (usage on stdout) and `--version` ("varko VERSION") with status 0,
/// before any window system is touched, and returns that status; nothing when the
/// command line asks for neither. Options count only before a "--".
[[nodiscard]] std::optional<int> answerCommandLine(int argc, char** argv, const char* version);

/// The items to open: every argument but the first "--", taken from argv's bytes, since
/// Qt's decoding would lose the bytes of a name that is not UTF-8. A file named
/// "--help" is opened as "./--help" or after "--".
[[nodiscard]] QStringList commandLineItems(int argc, char** argv);

}  // namespace varko
