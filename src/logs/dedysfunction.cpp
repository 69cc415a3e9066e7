#include "logs/dedysfunction.h"

#include <QDir>
#include <QFileInfo>

#include "logs/logarray.h"
#include "logs/logtime.h"
#include "tools/utf8.h"

namespace varko::unifiedlog {

namespace {

// A question of the probe is answered in moments; a tool that hangs must not keep
// Varko from starting. The log may be slower: a busy Mac takes its time to search it.
host::ToolLimits probeLimits(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = 16 << 20;
    limits.timeout = timeout;
    return limits;
}

struct TimestampSample {
    LogWalkSummary summary;
    int examined = 0;  ///< elements with a timestamp among the first eleven
    bool readable = false;
};

std::optional<QString> systemRoundTrip(const QString& text) {
    const QByteArray latin = text.toLatin1();
    const auto time =
        parseLocalDateTime(std::string_view(latin.constData(), std::size_t(latin.size())));
    if (!time) return std::nullopt;
    return formatLocalDateTime(*time);
}

// The first eleven elements of the log's JSON array, examined as the format test reads
// them: any with a timestamp of the full length that parses makes it good.
TimestampSample sampleTimestamps(const QByteArray& json) {
    constexpr int examined = 11;
    TimestampSample sample;
    int position = 0;
    const std::string_view output(json.constData(), std::size_t(json.size()));
    sample.summary = walkLogArray(output, [&](const LogFields* object) {
        if (position++ >= examined || object == nullptr || !object->timestamp) return;
        ++sample.examined;
        if (object->timestamp->size() == 31 && parseLongTimestamp(*object->timestamp))
            sample.readable = true;
    });
    return sample;
}

}  // namespace

deDysfunction::deDysfunction(host::ToolSet tools)
    : setClockScript(
          QStringLiteral("tell application \"System Preferences\"\n"
                         "activate\n"
                         "set the current pane to pane id \"com.apple.Localization\"\n"
                         "reveal anchor \"Language\" of pane id \"com.apple.Localization\"\n"
                         "end tell")),
      roundTripLocalTime(systemRoundTrip),
      tools(std::move(tools)) {}

bool deDysfunction::isAdminUser() const {
    const host::ToolResult run =
        tools.run(QLatin1String(host::idPath), {QStringLiteral("-G"), userName()},
                  host::Capture::StandardOutput, probeLimits());
    const auto decoded = host::decodeUtf8Strictly(run.standardOutput);
    QString groups = decoded ? *decoded : QString();
    // id ends its line with a line feed, which would stick to the last group.
    if (groups.endsWith(u'\n')) groups.chop(1);
    bool member = false;
    const QStringList& readers = tools.profile().logReaderGroupIds;
    for (const QString& item : groups.split(u' ')) member = member || readers.contains(item);
    return member;
}

bool deDysfunction::directoryHasEntries(const QString& path) {
    if (!QFileInfo(path).isDir()) return false;
    // An unreadable folder lists as empty; hidden entries count.
    const QDir dir(path);
    return !dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty();
}

bool deDysfunction::hasLogFiles() const {
    return directoryHasEntries(tools.profile().logStoreFolder);
}

bool deDysfunction::hasTimesyncFiles() const {
    return directoryHasEntries(tools.profile().logTimesyncFolder);
}

LogEntries deDysfunction::logEntries() const {
    const host::ToolResult run =
        tools.run(QLatin1String(host::logPath),
                  {QStringLiteral("show"), QStringLiteral("--last"), QStringLiteral("2")},
                  host::Capture::StandardOutput, probeLimits(logQueryLimit));
    if (run.timedOut) return LogEntries::tookTooLong;
    if (!run.succeeded()) return LogEntries::none;
    const auto text = host::decodeUtf8Strictly(run.standardOutput);
    return text && text->contains(u'\n') ? LogEntries::found : LogEntries::none;
}

bool deDysfunction::hasCorrectTimeFormat() const {
    const auto sample = roundTripLocalTime(QStringLiteral("2021-04-07 18:22:06"));
    if (!sample || sample->contains(u'm') || sample->contains(u'M')) return false;
    if (tools.profile().store == host::LogStore::journal) return journalTimesReadable();

    host::ToolResult run =
        tools.run(QLatin1String(host::logPath),
                  {QStringLiteral("show"), QStringLiteral("--style"), QStringLiteral("json"),
                   QStringLiteral("--last"), QStringLiteral("2")},
                  host::Capture::StandardOutput, probeLimits(logQueryLimit));
    // A log too slow to answer says nothing of its format; the entries question tells that.
    if (run.timedOut) return true;
    if (!run.succeeded()) return false;
    const TimestampSample found = sampleTimestamps(run.standardOutput);
    // A test of the format wants output that reads in full.
    return found.summary.clean() && found.readable;
}

bool deDysfunction::journalTimesReadable() const {
    // A quiet journal may have nothing in the last seconds; looking further back, each
    // span only when the shorter one was empty, keeps the output small on a busy one.
    for (const char* span : {"2", "1m", "1h"}) {
        host::ToolLimits limits = probeLimits(logQueryLimit);
        limits.maxBytesPerStream = 1 << 20;
        const host::ToolResult run =
            tools.run(QLatin1String(host::logPath),
                      {QStringLiteral("show"), QStringLiteral("--style"), QStringLiteral("json"),
                       QStringLiteral("--last"), QLatin1String(span)},
                      host::Capture::StandardOutput, limits);
        // A journal that can't be read says nothing of its times; the entries question
        // tells that failure. Output cut at the cap still begins with whole entries.
        if (!run.succeeded() && !run.truncated) return true;
        const TimestampSample found = sampleTimestamps(run.standardOutput);
        if (found.examined > 0) return found.readable;
    }
    return true;
}

}  // namespace varko::unifiedlog
