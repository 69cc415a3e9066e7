#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "format/expected.h"

// The text encodings in which property lists reach the text readers, and their
// conversion to the UTF-8 that the readers work in.
namespace varko::plist::detail {

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE, Latin1, Windows1252, MacRoman };

/// Where to look for the encoding. A byte-order mark always decides; the XML
/// declaration counts only without one, as in the platform's reader.
enum class Sniff {
    MarkOnly,  ///< old-style text: a byte-order mark, else UTF-8
    Xml,       ///< also UTF-16 or UTF-32 without a mark (NULs beside the first
               ///< character), then the encoding named in the XML declaration
};

struct SniffedEncoding {
    TextEncoding encoding = TextEncoding::Utf8;
    std::size_t markSize = 0;  ///< the byte-order mark, skipped before conversion
};

[[nodiscard]] SniffedEncoding sniffEncoding(std::span<const std::byte> bytes, Sniff where);

/// Text as UTF-8, converted when it came in another encoding, with the way back
/// from an offset in the UTF-8 to one in the original bytes. Holds a view of the
/// original bytes: they must outlive it.
class Utf8Text {
public:
    /// Fails on UTF-16 of an odd length and UTF-32 of a length that is not a
    /// multiple of four, at the offending byte, and on converting more than
    /// `maxConvertedTextBytes`. Unpaired surrogates and values beyond U+10FFFF
    /// become U+FFFD. Bytes that Windows-1252 leaves undefined read as the C1
    /// controls of the same value, as in Latin-1.
    [[nodiscard]] static Expected<Utf8Text> decode(std::span<const std::byte> bytes,
                                                   SniffedEncoding how);

    [[nodiscard]] std::span<const std::byte> bytes() const;
    /// The offset in the original bytes of the character at `offset` in `bytes()`.
    [[nodiscard]] std::uint64_t originalOffset(std::uint64_t offset) const;

private:
    Utf8Text(std::span<const std::byte> original, SniffedEncoding how)
        : original(original), how(how) {}

    std::span<const std::byte> original;
    SniffedEncoding how;
    std::string converted;  // empty unless `how` is other than UTF-8
};

}  // namespace varko::plist::detail
