#include "logs/logquery.h"

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

TimeRange defaultRange(Microseconds moment) {
    TimeRange range;
    const QStringList start = formatLocalDateTime(moment - 60'000'000).split(u' ');
    if (start.size() > 1) range.startDate = start[0], range.startTime = start[1];
    const QStringList end = formatLocalDateTime(moment).split(u' ');
    if (end.size() > 1) range.endDate = end[0], range.endTime = end[1];
    return range;
}

Expected<LogQueryResult> runLogQuery(const host::ToolSet& tools, const QStringList& arguments) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = maxLogOutputBytes;
    // Minutes of a busy log take seconds to show; a tool still running long after
    // is stuck.
    limits.timeout = std::chrono::minutes(5);
    host::ToolResult run =
        tools.run(QLatin1String(host::logPath), arguments, host::Capture::StandardOutput, limits);
    if (!run.started) return Error{0, "log show command failed\n", ErrorCode::toolFailed};
    if (!run.truncated && run.exitStatus != 0)
        return Error{0, "log show command returned error number " + std::to_string(run.exitStatus),
                     ErrorCode::toolFailed};
    return LogQueryResult{std::make_shared<const LogList>(run.standardOutput), run.truncated};
}

}  // namespace varko::unifiedlog
