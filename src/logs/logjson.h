#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Qt-free, so that the fuzz build takes the log reader alone.

namespace varko::unifiedlog {

/// The four keys of one entry object that the log browser reads. A key that is
/// absent or whose value is not text is nothing, as if it were absent; of duplicate
/// keys the last one counts. The text is valid UTF-8 without NUL: bytes that are not
/// UTF-8 and unpaired surrogates read as U+FFFD, and NUL as U+2400 so that it shows,
/// because the log holds whatever any process sent it. The views point into the
/// input or into the reader's buffers and live until it reads the next element.
struct LogFields {
    std::optional<std::string_view> timestamp;
    std::optional<std::string_view> subsystem;
    std::optional<std::string_view> processImagePath;
    std::optional<std::string_view> eventMessage;
    /// Bytes of message text left out after the first maxMessageBytes; 0 when whole.
    std::uint64_t eventMessageCut = 0;

    bool operator==(const LogFields&) const = default;
};

/// The longest message kept, in bytes of UTF-8; a longer one is cut after the last
/// whole character that fits.
inline constexpr std::size_t maxMessageBytes = 64 * 1024;
/// The longest text kept of the other three keys; only that much of a path is
/// searched when an entry is classified.
inline constexpr std::size_t maxFieldBytes = 4096;
/// The deepest nesting of arrays and objects inside one element's values.
inline constexpr std::size_t maxElementDepth = 256;

/// What one element of the top-level array turned out to be.
enum class LogElementKind : std::uint8_t { Object, OtherValue, Broken };

/// Reads single elements of the log tool's array as strict JSON, except that the
/// text of the four keys is mended (see LogFields) and the insides of other strings
/// are not looked at: a fault there hides nothing that is shown. One reader per
/// thread; it keeps its buffers from element to element.
class LogElementReader final {
public:
    struct Result {
        LogElementKind kind = LogElementKind::Broken;
        std::size_t end = 0;  ///< just past the value, unless it is Broken
    };

    /// Reads the value that starts at text[pos], after any whitespace, looking at
    /// nothing past the end of `text`. For an Object, fields() holds what it said.
    [[nodiscard]] Result read(std::string_view text, std::size_t pos);
    [[nodiscard]] const LogFields& fields() const { return current; }

private:
    bool skipValue(std::string_view text, std::size_t& pos);

    LogFields current;
    /// Decoded text of the four keys, for text that differs from its input.
    std::array<std::string, 4> buffers;
    std::string keyBuffer;
    /// Whether each container open while a value is skipped is an object.
    std::array<bool, maxElementDepth> objectAt{};
};

/// Just past the closing quote of the JSON string whose opening quote is at
/// text[open], or npos when the text ends first. A quote closes the string unless
/// an odd run of backslashes stands before it, which is how JSON's escapes pair up.
[[nodiscard]] std::size_t jsonStringEnd(std::string_view text, std::size_t open);

[[nodiscard]] constexpr bool isJsonSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

}  // namespace varko::unifiedlog
