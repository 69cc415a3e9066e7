#include "logs/logrtf.h"

#include "format/rtf/rtfwriter.h"

namespace varko::unifiedlog {

std::string logRtf(const LogDisplay& display) {
    std::vector<rtf::Colour> table;
    for (LineColour c : {LineColour::Red, LineColour::Green, LineColour::Blue}) {
        const QColor q = resolveColour(c, Qt::black);
        table.push_back({std::uint8_t(q.red()), std::uint8_t(q.green()), std::uint8_t(q.blue())});
    }
    const QByteArray family = lineFont(12).family().toLatin1();
    rtf::Writer writer(std::string_view(family.constData(), std::size_t(family.size())), table);
    display.forEachRun([&writer](const QString& text, LineColour colour, double size) {
        // Table order above: red 1, green 2, blue 3; plain text keeps the default colour.
        const int index = colour == LineColour::Red     ? 1
                          : colour == LineColour::Green ? 2
                          : colour == LineColour::Blue  ? 3
                                                        : 0;
        writer.append(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                          std::size_t(text.size())),
                      index, size);
    });
    return writer.finish();
}

}  // namespace varko::unifiedlog
