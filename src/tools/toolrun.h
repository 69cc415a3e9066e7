#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace varko::tools {

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

    /// A cut-off output is never a success, however the tool ended.
    [[nodiscard]] bool succeeded() const { return started && !crashed && !truncated && exitStatus == 0; }
};

struct ToolLimits {
    /// Upper bound for each captured stream; a tool that writes more is stopped.
    qint64 maxBytesPerStream = qint64(1) << 30;
};

/// Runs `program` with `arguments`, each passed as one argument without a shell.
/// Standard input, environment and working directory are inherited. Both captured
/// pipes are drained together until end of file, then the child is waited for.
/// Blocks the calling thread; safe to call from any thread.
[[nodiscard]] ToolResult runProgram(const QString& program, const QStringList& arguments,
                                    Capture capture, ToolLimits limits = {});

}  // namespace varko::tools
