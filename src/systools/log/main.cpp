// varko-log: macOS's `log show`, read from the systemd journal.
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "systools/log/journalreader.h"
#include "systools/log/jsonformat.h"
#include "systools/log/options.h"
#include "systools/log/outputsink.h"
#include "systools/log/predicate.h"
#include "systools/log/textformat.h"
#include "systools/standardoptions.h"

using namespace varko::logtool;

namespace {

int usageError(const std::string& message) {
    std::cerr << "varko-log: " << message << '\n' << usage();
    return exitUsage;
}

[[nodiscard]] std::uint64_t nowUsec() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec / 1000);
}

int show(const Options& options) {
    std::optional<Predicate> predicate;
    if (options.predicate) {
        auto parsed = Predicate::parse(*options.predicate);
        if (!parsed) {
            std::cerr << "varko-log: invalid predicate: " << parsed.error().message << '\n';
            return exitUsage;
        }
        predicate = std::move(*parsed);
    }
    JournalFilter filter{options.startUsec, options.endUsec, options.info, options.debug,
                         predicate ? &*predicate : nullptr};
    if (options.lastUsec) {
        const std::uint64_t now = nowUsec();
        filter.startUsec = *options.lastUsec < now ? now - *options.lastUsec : 0;
    }

    auto opened = JournalReader::open({options.files, options.directory});
    if (!opened) {
        std::cerr << "varko-log: " << opened.error().message << '\n';
        return exitNoInput;
    }

    OutputSink sink(STDOUT_FILENO);
    const bool json = options.style == Style::Json;
    if (!json) appendTextHeader(sink.pending());
    bool any = false;
    const auto read = opened->read(filter, [&](const LogRecord& record) {
        if (json)
            appendJsonEntry(sink.pending(), record, !any);
        else
            appendTextEntry(sink.pending(), record);
        any = true;
        sink.flushIfFull();
        return sink.state() == OutputSink::State::Open;
    });
    // The array is closed even after a read error, so what was shown still parses.
    if (json) appendJsonEnd(sink.pending(), any);
    sink.flush();
    switch (sink.state()) {
        case OutputSink::State::ClosedPipe:
            return exitIOError;  // the reader left: no message
        case OutputSink::State::Failed:
            std::cerr << "varko-log: writing the output failed: " << std::strerror(sink.error())
                      << '\n';
            return exitIOError;
        case OutputSink::State::Open:
            break;
    }
    if (!read) {
        std::cerr << "varko-log: " << read.error().message << '\n';
        return exitIOError;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe must come back from write() as EPIPE, not kill us mid-entry.
    std::signal(SIGPIPE, SIG_IGN);
    if (const auto answered =
            varko::answerHelpOrVersion(argc, argv, "varko-log", VARKO_VERSION, usage()))
        return *answered;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseOptions(arguments);
    if (!parsed) return usageError(parsed.error().message);
    if (parsed->help) {
        std::cout << usage();
        return 0;
    }
    return show(*parsed);
}
