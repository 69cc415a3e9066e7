#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

namespace varko::testing {

/// How a program run ended and what it wrote.
struct Finished {
    int status = -1;  ///< exit status, or -1 when it crashed or timed out
    int signal = 0;   ///< the signal that ended it, if one did
    std::string out;
    std::string err;
};

struct Run {
    std::vector<std::string> arguments;    ///< the program first
    std::vector<std::string> environment;  ///< "NAME=value", added to ours
    std::string input;
    bool closeOutput = false;  ///< close stdout's read end at once, as a reader that left
};

/// Runs a program with pipes on all three streams, at most a minute, with its address
/// space limited to `addressSpace` bytes when that is not 0. The arguments are bytes, so a
/// name that is not UTF-8 reaches the program as it is. No Qt here, so that tests of
/// Qt-free libraries can use it.
[[nodiscard]] Finished runProgram(const Run& run, rlim_t addressSpace = 0);

}  // namespace varko::testing
