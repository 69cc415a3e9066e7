#pragma once

#include <QStringList>
#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "tools/toolrun.h"

namespace varko::host {

/// A tool's own code, run on the calling thread instead of in a process of its own: given
/// the arguments as its program gets them (bytes), it writes what the program writes on
/// standard output to `out` and on standard error to `err`, and returns its exit status.
using InProcessTool = std::function<int(std::span<const std::string> arguments, std::ostream& out,
                                        std::ostream& err)>;

/// Runs `tool` with the result runProgram gives for its program: the streams captured within
/// the same bounds, standard error left to ours unless captured. Nothing can end a thread
/// from outside, so the run is under `limits.cancel` as its work's cancel, which the checks
/// poll and which then marks it cancelled; one that ran past the time limit is reported as
/// ended, as its process would have been.
[[nodiscard]] ToolResult runInProcess(const InProcessTool& tool, const QStringList& arguments,
                                      Capture capture, const ToolLimits& limits = {});

}  // namespace varko::host
