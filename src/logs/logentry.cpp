#include "logs/logentry.h"

#include <QFontDatabase>
#include <array>

#include "logs/loglist.h"

namespace varko::unifiedlog {

namespace {

// The labels in table order; index 0 is the default.
constexpr std::array<const char*, 7> labels = {
    "[other]    ", "TCC        ", "LaunchServ ", "securityd  ",
    "tccd       ", "sandbox    ", "kernel     ",
};
enum LabelIndex : std::uint8_t { other, tcc, launchServ, securityd, tccd, sandbox, kernel };

}  // namespace

QString sourceLabel(std::uint8_t label) {
    return sourceLabelText(label);
}

QLatin1String sourceLabelText(std::uint8_t label) {
    return QLatin1String(labels[label < labels.size() ? label : 0]);
}

LineColour colourForType(LogCategory type) {
    switch (type) {
        case LogCategory::Tcc:
            return LineColour::Text;
        case LogCategory::LaunchServices:
            return LineColour::Red;
        case LogCategory::Securityd:
            return LineColour::Green;
        case LogCategory::Other:
            break;
    }
    return LineColour::Blue;
}

QColor resolveColour(LineColour colour, const QColor& textColour, const QColor& background) {
    // Each shade reaches 4.5:1 (WCAG) on white and on a light grey window for the light
    // one, and on backgrounds from black to #353535 for the dark one.
    const bool dark = background.isValid() && background.lightnessF() < 0.5;
    switch (colour) {
        case LineColour::Text:
            return textColour;
        case LineColour::Red:
            return dark ? QColor(0xff, 0x7b, 0x72) : QColor(0xc6, 0x28, 0x28);
        case LineColour::Green:
            return dark ? QColor(0x3f, 0xb9, 0x50) : QColor(0x1a, 0x74, 0x31);
        case LineColour::Blue:
            return dark ? QColor(0x58, 0xa6, 0xff) : QColor(0x00, 0x58, 0xd0);
    }
    return textColour;
}

QFont lineFont(double points) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::Monospace);
    return font;
}

LogEntry::LogEntry(const LogFields& fields, const LogList* list) : parentList(list) {
    std::optional<Microseconds> time;
    if (fields.timestamp && parentList != nullptr && parentList->dateFormatterLong)
        time = parentList->dateFormatterLong->parse(*fields.timestamp);
    timestamp = time ? *time : now();

    if (fields.subsystem) {
        const std::string_view s = *fields.subsystem;
        if (s == "com.apple.TCC")
            label = tcc, type = LogCategory::Tcc;
        else if (s == "com.apple.launchservices")
            label = launchServ, type = LogCategory::LaunchServices;
        else if (s == "com.apple.securityd")
            label = securityd, type = LogCategory::Securityd;
    }
    if (type == LogCategory::Other && fields.processImagePath) {
        const std::string_view path = *fields.processImagePath;
        if (path.find("tccd") != std::string_view::npos)
            label = tccd;
        else if (path.find("sandbox") != std::string_view::npos)
            label = sandbox;
        else if (path.find("kernel") != std::string_view::npos)
            label = kernel;
    }

    if (fields.eventMessage) {
        const std::string_view m = *fields.eventMessage;
        eventMessage = QString::fromUtf8(m.data(), qsizetype(m.size()));
        lineFeeds = std::uint32_t(std::count(m.begin(), m.end(), '\n'));
        if (fields.eventMessageCut > 0) eventMessage += cutMarker(fields.eventMessageCut);
    } else {
        // Shared, because a log of empty objects would otherwise pay for one copy each.
        static const QString missing = QString::fromLatin1(missingMessage);
        eventMessage = missing;
    }
}

QString cutMarker(std::uint64_t bytes) {
    return QStringLiteral(" \u2026[%1 more bytes not shown]").arg(bytes);
}

QString LogEntry::subsystem() const {
    return sourceLabel(label);
}

QString LogEntry::timeText() const {
    if (parentList == nullptr || !parentList->dateFormatterShort) return {};
    return parentList->dateFormatterShort->format(timestamp);
}

QString LogEntry::lineText() const {
    const QString time = timeText();
    QString line;
    line.reserve(time.size() + 2 + sourceLabelWidth + eventMessage.size() + 1);
    line += time;
    line += u' ';
    line += sourceLabelText(label);
    line += u' ';
    line += eventMessage;
    line += u'\n';
    return line;
}

}  // namespace varko::unifiedlog
