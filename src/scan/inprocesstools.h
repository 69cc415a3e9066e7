#pragma once

#include "tools/toolset.h"

namespace varko::scan {

/// `tools` with our stand-ins for codesign, spctl and pkgutil run in this process through the
/// code their programs are built from: the same answers, word for word, without starting
/// three processes for every item. Only where those stand-ins are the tools, not on macOS.
[[nodiscard]] host::ToolSet inProcessTools(const host::ToolSet& tools);

}  // namespace varko::scan
