#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>

#include "logs/logjson.h"
#include "logs/logtime.h"

namespace varko::unifiedlog {

class LogList;

/// Which checkbox shows an entry and which colour its line has.
enum class LogCategory : std::int8_t { Other = 0, Tcc = 1, LaunchServices = 2, Securityd = 3 };

/// The colour of a line, as a role: plain text follows the palette, the other three
/// are fixed hues with one shade for light backgrounds and one for dark ones.
enum class LineColour : std::uint8_t { Text, Red, Green, Blue };

[[nodiscard]] LineColour colourForType(LogCategory type);
/// The fixed hue of a role in the shade that reaches a contrast of 4.5:1 on
/// `background`, picked by its lightness as the platforms pick their system colours;
/// for `Text` the given palette colour.
[[nodiscard]] QColor resolveColour(LineColour colour, const QColor& textColour,
                                   const QColor& background = Qt::white);
/// The fixed-pitch font of the log lines and messages, at `points`, regular weight.
[[nodiscard]] QFont lineFont(double points);

/// One log entry, reduced to what the window shows; never changed after construction.
class LogEntry final {
public:
    /// Classifies `fields`; `parentList` (may be null) lends its formatters.
    LogEntry(const LogFields& fields, const LogList* parentList);

    Microseconds timestamp = 0;
    /// Index into the seven 11-character source labels; see `subsystem()`.
    std::uint8_t label = 0;
    /// Which checkbox shows it and which colour its line has.
    LogCategory type = LogCategory::Other;
    /// Line feeds inside the message, so a view can place lines without scanning.
    std::uint32_t lineFeeds = 0;
    QString eventMessage;
    const LogList* parentList = nullptr;

    /// The fixed-width source label.
    [[nodiscard]] QString subsystem() const;
    /// Time, label and message joined as the log window shows them, with the line feed.
    [[nodiscard]] QString lineText() const;
    /// The display time, or the empty text when there is no formatter to write it.
    [[nodiscard]] QString timeText() const;
};

/// The seven labels, each exactly 11 characters.
[[nodiscard]] QString sourceLabel(std::uint8_t label);
/// The same, without a copy.
[[nodiscard]] QLatin1String sourceLabelText(std::uint8_t label);
inline constexpr int sourceLabelWidth = 11;
inline constexpr auto missingMessage = "[nil]      ";
/// What ends a message cut at maxMessageBytes: how many bytes of it are not shown.
[[nodiscard]] QString cutMarker(std::uint64_t bytes);

}  // namespace varko::unifiedlog
