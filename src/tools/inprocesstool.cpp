#include "tools/inprocesstool.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <streambuf>
#include <vector>

#include "concurrency/work.h"
#include "tools/pathbytes.h"

namespace varko::host {

namespace {

/// Keeps what is written up to `cap` bytes and drops the rest, noting it: the tool runs on
/// as its process would until the pipe's reader stopped it, and costs no memory past the cap.
class CappedBuffer final : public std::streambuf {
public:
    CappedBuffer(QByteArray& sink, qint64 cap) : sink(sink), cap(std::max<qint64>(cap, 0)) {}
    [[nodiscard]] bool overflowed() const { return over; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const qint64 keep = std::clamp<qint64>(cap - sink.size(), 0, n);
        sink.append(s, qsizetype(keep));
        over = over || keep < n;
        return n;
    }

private:
    QByteArray& sink;
    const qint64 cap;
    bool over = false;
};

}  // namespace

ToolResult runInProcess(const InProcessTool& tool, const QStringList& arguments, Capture capture,
                        const ToolLimits& limits) {
    ToolResult result;
    std::vector<std::string> encoded;
    encoded.reserve(std::size_t(arguments.size()));
    for (const QString& argument : arguments) {
        // As for a process: a NUL would cut the argument short in its argv.
        if (argument.contains(QChar(0))) {
            result.startError = QStringLiteral("An argument contains a NUL character");
            return result;
        }
        encoded.push_back(pathToSystem(argument).toStdString());
    }
    result.started = true;
    const Work& outer = Work::current();
    const Work own{outer.threads, limits.cancel ? limits.cancel : outer.cancel};
    if (own.cancelled()) {
        result.cancelled = true;
        return result;
    }
    const bool both = capture == Capture::Both;
    CappedBuffer out(result.standardOutput, limits.maxBytesPerStream);
    // A bounded standard error drops its rest and runs on; an unbounded one is cut at the cap.
    CappedBuffer err(result.standardError,
                     limits.maxErrorBytes >= 0 ? limits.maxErrorBytes : limits.maxBytesPerStream);
    std::ostream outStream(&out), errStream(&err);
    const auto started = std::chrono::steady_clock::now();
    {
        const Work::Scope scope(own);
        try {
            result.exitStatus = tool(encoded, outStream, both ? errStream : std::cerr);
        } catch (...) {
            // A tool's code answers with its status; anything thrown past it is its crash.
            result.crashed = true;
            result.exitStatus = SIGABRT;  // as an uncaught exception ends a program
        }
    }
    result.truncated = out.overflowed() || (limits.maxErrorBytes < 0 && err.overflowed());
    result.errorCut = limits.maxErrorBytes >= 0 && err.overflowed();
    result.cancelled = own.cancelled();
    result.timedOut = !result.cancelled && limits.timeout.count() > 0 &&
                      std::chrono::steady_clock::now() - started > limits.timeout;
    return result;
}

}  // namespace varko::host
