#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <memory>

#include "concurrency/work.h"

namespace varko::host {

/// Which of the child's output streams are read back; the others go to Varko's own.
enum class Capture { StandardOutput, Both };

/// One finished run of a command-line tool.
struct ToolResult {
    /// False when the program could not be started at all; then no status exists.
    bool started = false;
    /// Why it could not be started (with `started` false), in plain words.
    QString startError;
    /// The exit status; for a tool killed by a signal, the signal's number (never 0).
    int exitStatus = -1;
    bool crashed = false;  ///< ended by a signal
    QByteArray standardOutput;
    QByteArray standardError;  ///< empty unless both streams were captured
    /// A stream that passed its byte cap was cut there and the tool was stopped.
    bool truncated = false;
    /// Standard error passed `ToolLimits::maxErrorBytes`; the rest of it was dropped.
    bool errorCut = false;
    /// The tool ran past its time limit and was ended.
    bool timedOut = false;
    /// The run was called off (its window closed, or Varko quit) and the tool ended.
    bool cancelled = false;

    /// A cut-off output is never a success, however the tool ended.
    [[nodiscard]] bool succeeded() const {
        return started && !crashed && !truncated && !timedOut && !cancelled && exitStatus == 0;
    }
    /// Why the run did not end on its own, in words, or empty when it did.
    [[nodiscard]] QString interruption() const;
};

/// Set from any thread to end the runs that were given it.
using CancelFlag = varko::CancelFlag;

struct ToolLimits {
    /// Upper bound for each captured stream; a tool that writes more is stopped.
    qint64 maxBytesPerStream = qint64(1) << 30;
    /// A tool still running after this long is ended; zero means no limit.
    std::chrono::milliseconds timeout{0};
    /// A run whose flag is raised ends its tool within a fraction of a second.
    CancelFlag cancel;
    /// When not negative, standard error's own bound: what passes it is read and
    /// dropped, and the tool runs on, so a chatty tool costs no memory and no result.
    qint64 maxErrorBytes = -1;
};

/// Ends every tool that is running now, and every one started later: for quitting,
/// when nothing may keep the process alive.
void endAllRuns();

/// Runs `program` with `arguments`, each passed as one argument without a shell.
/// Standard input, environment and working directory are inherited. Both captured
/// pipes are drained together until end of file, then the child is waited for.
/// The tool runs in a process group of its own, so ending it ends what it started.
/// Blocks the calling thread; safe to call from any thread.
[[nodiscard]] ToolResult runProgram(const QString& program, const QStringList& arguments,
                                    Capture capture, ToolLimits limits = {});

}  // namespace varko::host
