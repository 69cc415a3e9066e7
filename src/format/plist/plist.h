#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "format/expected.h"
#include "format/plist/value.h"

namespace varko::plist {

enum class Format { Xml, Binary, OpenStep };

/// Nesting deeper than this is refused in every format.
inline constexpr int maxDepth = 512;

/// Text in an encoding other than UTF-8 larger than this is refused rather than
/// converted; the UTF-8 can be three times as long. Above every caller's own cap.
inline constexpr std::size_t maxConvertedTextBytes = 64 << 20;

/// Which format the bytes are in, judged from their first bytes only, in
/// whichever encoding they are (see parseXml).
[[nodiscard]] Format detectFormat(std::span<const std::byte> bytes);

/// Reads a property list in any of the three formats, detected from the bytes.
/// Errors carry the byte offset at which the reader gave up, and say so in words:
/// "malformed binary property list (object 12 at byte 345: ...)", "malformed XML
/// property list (at byte 345: ...)", "malformed OpenStep property list (at byte 345: ...)".
/// Binary strings in UTF-16 with unpaired surrogates read with U+FFFD in their place;
/// a binary file whose shared objects would expand far beyond its own size is refused.
/// Offsets in errors count the bytes as given, also for text read in another encoding.
[[nodiscard]] Expected<Value> parse(std::span<const std::byte> bytes);
[[nodiscard]] Expected<Value> parse(std::string_view bytes);

/// What parse gives, shared with the other recent parses of the same bytes: the passes over
/// one item read its small files (an Info.plist, a bundle's seal) again and again, and a
/// parse costs far more than finding it again.
[[nodiscard]] std::shared_ptr<const Expected<Value>> parseShared(std::span<const std::byte> bytes);

/// XML in the encoding the platform's reader finds: a byte-order mark for UTF-8,
/// UTF-16 or UTF-32 (in either order); else UTF-16 or UTF-32 without a mark when
/// NULs surround the first character; else the declaration's `encoding` when it
/// names UTF-8, ISO-8859-1, Windows-1252 or Mac OS Roman; else UTF-8. A name
/// we do not know leaves the text as UTF-8, where the platform refuses the file.
[[nodiscard]] Expected<Value> parseXml(std::span<const std::byte> bytes);
[[nodiscard]] Expected<Value> parseBinary(std::span<const std::byte> bytes);
/// UTF-8, or UTF-16 or UTF-32 with a byte-order mark, as strings files often are.
[[nodiscard]] Expected<Value> parseOpenStep(std::span<const std::byte> bytes);

/// The XML form exactly as the platform writes it: the XML declaration, the
/// DOCTYPE line, `<plist version="1.0">`, the value with tab indentation, `</plist>`,
/// each on its own line, ending in a line feed. Dictionary keys come out sorted by
/// their UTF-8 bytes, reals as %.17g, dates in whole seconds, UIDs as the one-key
/// `CF$UID` dictionary that parseXml reads back as a UID.
[[nodiscard]] std::string writeXml(const Value& value);

/// The platform's textual description of a value (what `%@` prints): a text as
/// itself, Booleans as 1 and 0, arrays in parentheses and dictionaries in braces
/// with four-blank indentation, nested collections one level further. Texts inside
/// collections (keys included) are quoted when they are empty or hold any ASCII
/// character other than a letter or digit; inside quotes, `"` and `\` are escaped.
/// Numbers and dates inside collections follow the same quoting, so -1 shows as "-1";
/// dictionary keys are listed in ascending order; reals print in the shortest form
/// that reads back exactly.
[[nodiscard]] std::string describe(const Value& value);

}  // namespace varko::plist
