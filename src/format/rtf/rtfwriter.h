#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varko::rtf {

struct Colour {
    std::uint8_t red = 0, green = 0, blue = 0;
};

/// Writes an RTF document of text runs, each in one colour and size of a single
/// font. Text goes in as UTF-16; everything outside printable ASCII is written as
/// `\uN` escapes (pairs for characters beyond the basic plane), so the document is
/// pure ASCII and reads the same in every RTF reader.
class Writer final {
public:
    /// `colours` become the colour table; colour 0 is the reader's default text colour.
    Writer(std::string_view fontName, const std::vector<Colour>& colours);

    /// Adds `text` in colour `colour` (0 default, n the n-th table entry) at `points`.
    /// Line feeds end paragraphs.
    void append(std::u16string_view text, int colour, double points);

    /// The finished document; the writer is empty afterwards.
    [[nodiscard]] std::string finish();

private:
    void escape(std::u16string_view text);

    std::string out;
    int currentColour = -1;
    int currentHalfPoints = -1;
    int colourCount = 0;
};

}  // namespace varko::rtf
