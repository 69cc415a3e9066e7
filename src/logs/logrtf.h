#pragma once

#include <string>

#include "logs/logdisplay.h"

namespace varko::unifiedlog {

/// The output view's whole styled text as an RTF document: the fixed-pitch font,
/// each run's size, plain text in the reader's default colour and the three hues.
[[nodiscard]] std::string logRtf(const LogDisplay& display);

}  // namespace varko::unifiedlog
