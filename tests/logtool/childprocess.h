#pragma once

#include <string>
#include <vector>

namespace varko::logtool::test {

/// How a program run ended and what it wrote.
struct Finished {
    int status = -1;  ///< exit status, or -1 when it crashed or timed out
    std::string out;
    std::string err;
};

struct Run {
    std::vector<std::string> arguments;    ///< the program first
    std::vector<std::string> environment;  ///< "NAME=value", added to ours
    std::string input;
    bool closeOutput = false;  ///< close stdout's read end at once, as a reader that left
};

/// Runs a program with pipes on all three streams, at most 30 seconds. No Qt here: these
/// tests link only the library they test.
[[nodiscard]] Finished runProgram(const Run& run);

}  // namespace varko::logtool::test
