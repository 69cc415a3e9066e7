#pragma once

// --help and --version, answered alike by every program of ours.

#include <cstdio>
#include <cstring>
#include <optional>

namespace varko {

/// Answers `NAME --help` (usage on stdout) and `NAME --version` ("NAME VERSION"), both
/// with status 0, and returns that status; nothing otherwise. Only the sole argument
/// counts, so a path spelt "--help" among others is still a path.
[[nodiscard]] inline std::optional<int> answerHelpOrVersion(int argc, char** argv, const char* name,
                                                            const char* version, const char* help) {
    if (argc != 2) return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(help, stdout);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", name, version);
    } else {
        return std::nullopt;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace varko
