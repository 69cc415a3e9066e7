#include "logs/logquery.h"

#include "tools/utf8.h"

namespace varko::unifiedlog {

QStringList baseCommand() {
    return {
        QStringLiteral("show"),    QStringLiteral("--predicate"), QString::fromLatin1(logPredicate),
        QStringLiteral("--style"), QStringLiteral("json"),        QStringLiteral("--info")};
}

QStringList queryArguments(const QStringList& base, const TimeRange& range) {
    QStringList arguments = base;
    if (!range.startDate.isEmpty() && !range.startTime.isEmpty())
        arguments << QStringLiteral("--start") << range.startDate + u' ' + range.startTime;
    if (!range.endDate.isEmpty() && !range.endTime.isEmpty())
        arguments << QStringLiteral("--end") << range.endDate + u' ' + range.endTime;
    return arguments;
}

namespace {

constexpr const char* expectedForm = "use the form YYYY-MM-DD HH:MM:SS";

Error boxError(RangeBox box, const QString& what) {
    return {std::uint64_t(box), what.toStdString(), ErrorCode::malformed};
}

/// A box's text as a message quotes it: its controls visible, cut to a few dozen characters.
QString quoted(const QString& text) {
    QString shown = host::visibleControls(text);
    if (shown.size() > 32) shown = shown.left(31) + QChar(0x2026);
    return u'"' + shown + u'"';
}

/// The moment a bound names, or which of its boxes is wrong and why.
Expected<Microseconds> boundOf(const QString& date, const QString& time, RangeBox dateBox,
                               RangeBox timeBox, const QString& name) {
    const QByteArray day = date.toLatin1();
    if (date.size() != 10 || !parseLocalDateTime(day.toStdString() + " 00:00:00"))
        return boxError(dateBox, QStringLiteral("The %1 date %2 is not a date: %3.")
                                     .arg(name, quoted(date), QLatin1String(expectedForm)));
    const auto moment = parseLocalDateTime((date + u' ' + time).toLatin1().toStdString());
    if (time.size() != 8 || !moment)
        return boxError(timeBox, QStringLiteral("The %1 time %2 is not a time of day: %3.")
                                     .arg(name, quoted(time), QLatin1String(expectedForm)));
    return *moment;
}

}  // namespace

Expected<void> checkRange(const TimeRange& range) {
    std::optional<Microseconds> start, end;
    if (!range.startDate.isEmpty() && !range.startTime.isEmpty()) {
        auto bound = boundOf(range.startDate, range.startTime, RangeBox::startDate,
                             RangeBox::startTime, QStringLiteral("start"));
        if (!bound) return bound.error();
        start = *bound;
    }
    if (!range.endDate.isEmpty() && !range.endTime.isEmpty()) {
        auto bound = boundOf(range.endDate, range.endTime, RangeBox::endDate, RangeBox::endTime,
                             QStringLiteral("end"));
        if (!bound) return bound.error();
        end = *bound;
    }
    if (start && end && *end < *start)
        return boxError(RangeBox::endDate, QStringLiteral("The end comes before the start."));
    return {};
}

QString rangeText(const TimeRange& range) {
    constexpr qsizetype most = 32;
    const auto shown = [](const QString& box) {
        QString text = host::visibleControls(box.trimmed());
        if (text.size() > most) text = text.left(most - 1) + QChar(0x2026);
        return text;
    };
    const bool start = !range.startDate.isEmpty() && !range.startTime.isEmpty();
    const bool end = !range.endDate.isEmpty() && !range.endTime.isEmpty();
    const QString from = shown(range.startDate) + u' ' + shown(range.startTime);
    const QString until = shown(range.endDate) + u' ' + shown(range.endTime);
    if (start && end)
        return from + QStringLiteral(" to ") +
               (shown(range.startDate) == shown(range.endDate) ? shown(range.endTime) : until);
    if (start) return QStringLiteral("from ") + from;
    if (end) return QStringLiteral("until ") + until;
    return QStringLiteral("the whole log");
}

TimeRange defaultRange(Microseconds moment) {
    TimeRange range;
    const QStringList start = formatLocalDateTime(moment - 60'000'000).split(u' ');
    if (start.size() > 1) range.startDate = start[0], range.startTime = start[1];
    const QStringList end = formatLocalDateTime(moment).split(u' ');
    if (end.size() > 1) range.endDate = end[0], range.endTime = end[1];
    return range;
}

QString toolMessage(const QByteArray& standardError, bool cut) {
    QStringList lines = QString::fromUtf8(standardError).split(u'\n');
    // A tool ends its message with a line feed; empty lines at the end say nothing.
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
    // A tool that refuses its arguments follows its reason with its usage text, which
    // speaks of options the user of a window never typed.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().startsWith(QLatin1String("usage:"), Qt::CaseInsensitive)) {
            lines.resize(std::max<qsizetype>(i, 1));
            break;
        }
    }
    if (lines.size() > maxToolMessageLines) {
        lines.resize(maxToolMessageLines);
        cut = true;
    }
    QString message;
    for (QString& line : lines) {
        // A CR LF line end is a line end; any other CR would overwrite the line.
        if (line.endsWith(u'\r')) line.chop(1);
        if (!message.isEmpty()) message += u'\n';
        message += host::visibleControls(line);
        if (message.size() > maxToolMessageChars) {
            qsizetype keep = maxToolMessageChars;
            if (message[keep - 1].isHighSurrogate()) --keep;  // never half a character
            message.truncate(keep);
            cut = true;
            break;
        }
    }
    if (cut && !message.isEmpty()) message += QChar(0x2026);
    return message;
}

Expected<LogQueryResult> runLogQuery(const host::ToolSet& tools, const QStringList& arguments) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = maxLogOutputBytes;
    limits.maxErrorBytes = maxToolMessageBytes;
    // Minutes of a busy log take seconds to show; a tool still running long after
    // is stuck.
    limits.timeout = std::chrono::minutes(5);
    // A closed window's query ends its tool.
    limits.cancel = Work::current().cancel;
    host::ToolResult run =
        tools.run(QLatin1String(host::logPath), arguments, host::Capture::Both, limits);
    if (!run.started) {
        std::string message = "log show command failed\n";
        message += run.startError.toStdString();
        return Error{0, std::move(message), ErrorCode::toolFailed};
    }
    if (!run.truncated && run.exitStatus != 0) {
        // The status alone says little; the tool's own words say what it disliked.
        std::string message =
            "log show command returned error number " + std::to_string(run.exitStatus);
        for (const QString& why :
             {run.interruption(), toolMessage(run.standardError, run.errorCut)})
            if (!why.isEmpty()) message += "\n" + why.toStdString();
        return Error{0, std::move(message), ErrorCode::toolFailed};
    }
    return LogQueryResult{std::make_shared<const LogList>(run.standardOutput), run.truncated};
}

}  // namespace varko::unifiedlog
