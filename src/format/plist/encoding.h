#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/expected.h"
#include "format/plist/value.h"
#include "format/utf8encode.h"

// Text and byte encodings shared by the property-list readers and writers.
namespace varko::plist::detail {

/// Base64 with the alphabet property lists use; whitespace between characters
/// is allowed. An error is placed at the first offending character in `text`.
[[nodiscard]] Expected<Data> decodeBase64(std::string_view text);

}  // namespace varko::plist::detail
