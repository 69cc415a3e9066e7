#include "tools/toolrun.h"

#include "format/expected.h"
#include "tools/pathbytes.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace varko::host {

namespace {

[[nodiscard]] char** currentEnvironment() {
#if defined(__APPLE__)
    // A static library cannot rely on `environ` being linked in on macOS.
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

/// Why the tool could not be started, from the errno of the step that failed.
[[nodiscard]] Error startFailure(int error) {
    // generic_category uses the thread-safe strerror_r, unlike strerror.
    return Error{0, std::generic_category().message(error), ErrorCode::toolFailed};
}

[[nodiscard]] ToolResult notStarted(const QString& program, const QString& why) {
    ToolResult result;
    result.startError = QStringLiteral("The program %1 could not be started: %2").arg(program, why);
    return result;
}

class Fd final {
public:
    Fd() = default;
    explicit Fd(int fd) : fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    [[nodiscard]] int get() const { return fd; }
    [[nodiscard]] bool isOpen() const { return fd >= 0; }
    [[nodiscard]] int release() { return std::exchange(fd, -1); }
    void reset(int next = -1) {
        // close() may fail with EINTR, but the descriptor is gone either way on
        // Linux and macOS, so retrying would close someone else's.
        if (fd >= 0) ::close(fd);
        fd = next;
    }

private:
    int fd = -1;
};

/// Keeps a pipe end away from 0–2: when Varko's own standard streams are closed a
/// new pipe can land there, and dup2 onto itself would keep it close-on-exec.
[[nodiscard]] Expected<void> moveAboveStandardStreams(Fd& fd) {
    if (fd.get() > STDERR_FILENO) return {};
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return startFailure(errno);
    fd.reset(moved);
    return {};
}

/// Both ends close-on-exec, so a child started on another thread meanwhile never
/// holds our write end open and keeps us from seeing end of file.
[[nodiscard]] Expected<void> makePipe(Fd& readEnd, Fd& writeEnd) {
    int ends[2];
#if defined(__APPLE__)
    // No pipe2 here; the window before FD_CLOEXEC is closed for our own spawns
    // by POSIX_SPAWN_CLOEXEC_DEFAULT.
    if (::pipe(ends) != 0) return startFailure(errno);
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    if (::fcntl(ends[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(ends[1], F_SETFD, FD_CLOEXEC) != 0)
        return startFailure(errno);
#else
    if (::pipe2(ends, O_CLOEXEC) != 0) return startFailure(errno);
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
#endif
    if (auto moved = moveAboveStandardStreams(readEnd); !moved) return moved;
    return moveAboveStandardStreams(writeEnd);
}

struct SpawnSetup final {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
};

[[maybe_unused]] bool isOpenDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

/// Starts the child and gives its pid, or the errno of setting it up or starting it.
[[nodiscard]] Expected<pid_t> spawn(const QByteArray& path, std::vector<char*>& argv, int outWrite,
                                    int errWrite) {
    SpawnSetup setup;
    int rc = posix_spawn_file_actions_adddup2(&setup.actions, outWrite, STDOUT_FILENO);
    if (rc == 0 && errWrite >= 0)
        rc = posix_spawn_file_actions_adddup2(&setup.actions, errWrite, STDERR_FILENO);

    // A group of its own, so that ending the tool also ends whatever it started.
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
    if (rc == 0) rc = posix_spawnattr_setpgroup(&setup.attributes, 0);
#if defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    // With CLOEXEC_DEFAULT the inherited streams must be named explicitly.
    if (rc == 0 && isOpenDescriptor(STDIN_FILENO))
        rc = posix_spawn_file_actions_addinherit_np(&setup.actions, STDIN_FILENO);
    if (rc == 0 && errWrite < 0 && isOpenDescriptor(STDERR_FILENO))
        rc = posix_spawn_file_actions_addinherit_np(&setup.actions, STDERR_FILENO);
#endif
    // The calling thread may block signals, and Varko may ignore SIGPIPE; neither
    // should leak into the tool, which expects a fresh process.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&setup.attributes, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    if (rc == 0) rc = posix_spawnattr_setflags(&setup.attributes, flags);
    if (rc != 0) return startFailure(rc);
    // glibc (vfork-style clone) and macOS both report a failed exec here.
    pid_t pid = -1;
    rc = posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(),
                     currentEnvironment());
    if (rc != 0) return startFailure(rc);
    return pid;
}

/// The tools running now, so that quitting can end them. A pid leaves the set in
/// the same locked step that reaps it, so it is never signalled after it could
/// have been reused.
struct RunningTools {
    std::mutex lock;
    std::set<pid_t> groups;
    bool ending = false;
};

RunningTools& runningTools() {
    static RunningTools* const tools = new RunningTools;  // outlives every thread's last run
    return *tools;
}

using Clock = std::chrono::steady_clock;

/// When the run must stop, and why; checked between reads.
struct Stopwatch {
    Clock::time_point deadline = Clock::time_point::max();
    CancelFlag cancel;

    [[nodiscard]] bool timedOut() const { return Clock::now() >= deadline; }
    [[nodiscard]] bool cancelled() const {
        if (cancel && cancel->load()) return true;
        RunningTools& running = runningTools();
        const std::lock_guard guard(running.lock);
        return running.ending;
    }
    /// How long one wait may block before the conditions are checked again.
    [[nodiscard]] int pollMilliseconds() const {
        constexpr int slice = 50;
        if (deadline == Clock::time_point::max()) return slice;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return int(std::clamp<long long>(left, 0, slice));
    }
};

/// Stops and reaps the child on every way out, so no run leaves a zombie or a
/// running tool behind.
class ChildGuard final {
public:
    /// A child started while Varko quits is ended at once.
    explicit ChildGuard(pid_t pid) : pid(pid) {
        RunningTools& running = runningTools();
        const std::lock_guard guard(running.lock);
        running.groups.insert(pid);
        if (running.ending) ::kill(-pid, SIGKILL);
    }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    ~ChildGuard() {
        if (pid <= 0) return;
        stop();
        int ignored = 0;
        // Never a blocking wait under the lock; a killed child goes within moments.
        while (!reap(ignored, WNOHANG)) ::usleep(1000);
    }
    void stop() const {
        RunningTools& running = runningTools();
        const std::lock_guard guard(running.lock);
        if (pid > 0) ::kill(-pid, SIGKILL);
    }
    /// Waits for the child; a tool that lingers after closing its streams is still
    /// held to the stopwatch. False when no status exists (SIGCHLD ignored).
    [[nodiscard]] bool wait(int& status, const Stopwatch& watch, bool& timedOut, bool& cancelled) {
        for (;;) {
            if (pid <= 0) return false;
            if (reap(status, WNOHANG)) return pid == 0;
            if (pid < 0) return false;
            if (!timedOut && !cancelled) {
                timedOut = watch.timedOut();
                cancelled = !timedOut && watch.cancelled();
                if (timedOut || cancelled) stop();
            }
            ::usleep(2000);
        }
    }

private:
    /// True once the child is gone: pid becomes 0 when reaped with a status, -1 when
    /// the system reaped it for us.
    bool reap(int& status, int options) {
        RunningTools& running = runningTools();
        const std::lock_guard guard(running.lock);
        const pid_t r = ::waitpid(pid, &status, options);
        if (r == 0) return false;
        if (r < 0 && errno == EINTR) return false;
        running.groups.erase(pid);
        pid = r > 0 ? 0 : -1;
        return true;
    }

    pid_t pid;
};

struct Stream final {
    Fd fd;
    QByteArray* sink = nullptr;
    /// Bytes past this are dropped instead of ending the run; negative: never.
    qint64 dropPast = -1;
    bool dropped = false;
};

enum class DrainEnd { EndOfFile, Cut, TimedOut, Cancelled };

/// Reads every open stream until end of file, until one passes `cap`, or until the
/// stopwatch says to stop.
[[nodiscard]] DrainEnd drain(std::array<Stream, 2>& streams, qint64 cap, const Stopwatch& watch) {
    constexpr qint64 chunk = 64 * 1024;
    const auto buffer = std::make_unique<char[]>(chunk);
    for (;;) {
        std::array<pollfd, 2> polled{};
        std::array<Stream*, 2> owners{};
        nfds_t count = 0;
        for (Stream& stream : streams) {
            if (!stream.fd.isOpen()) continue;
            polled[count] = pollfd{stream.fd.get(), POLLIN, 0};
            owners[count++] = &stream;
        }
        if (count == 0) return DrainEnd::EndOfFile;
        if (watch.timedOut()) return DrainEnd::TimedOut;
        if (watch.cancelled()) return DrainEnd::Cancelled;
        const int ready = ::poll(polled.data(), count, watch.pollMilliseconds());
        if (ready == 0) continue;
        if (ready < 0) {
            if (errno == EINTR) continue;
            // Nothing sensible can be read any more; treat it as the end.
            for (nfds_t i = 0; i < count; ++i) owners[i]->fd.reset();
            return DrainEnd::EndOfFile;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (polled[i].revents == 0) continue;
            Stream& stream = *owners[i];
            const ssize_t n = ::read(stream.fd.get(), buffer.get(), chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                stream.fd.reset();
                continue;
            }
            if (stream.dropPast >= 0) {
                const qint64 keep = std::clamp<qint64>(stream.dropPast - stream.sink->size(), 0, n);
                stream.sink->append(buffer.get(), qsizetype(keep));
                stream.dropped = stream.dropped || keep < n;
                continue;
            }
            const qint64 room = cap - stream.sink->size();
            if (n > room) {
                stream.sink->append(buffer.get(), qsizetype(room));
                return DrainEnd::Cut;
            }
            stream.sink->append(buffer.get(), qsizetype(n));
        }
    }
}

}  // namespace

QString ToolResult::interruption() const {
    if (!started) return {};
    if (timedOut) return QStringLiteral("The tool ran past its time limit and was ended.");
    if (cancelled)
        return QStringLiteral("The tool was ended because its window closed or Varko quit.");
    if (truncated) return {};
    if (!crashed) return {};
    // strsignal is not thread-safe; these are the ones a crashing tool meets.
    static const std::pair<int, const char*> names[] = {
        {SIGABRT, "aborted"},         {SIGSEGV, "segmentation fault"},
        {SIGBUS, "bus error"},        {SIGILL, "illegal instruction"},
        {SIGFPE, "arithmetic error"}, {SIGKILL, "killed"},
        {SIGTERM, "terminated"},      {SIGTRAP, "trap"},
        {SIGPIPE, "broken pipe"},
    };
    for (const auto& [number, name] : names)
        if (number == exitStatus)
            return QStringLiteral("The tool crashed (signal %1, %2).")
                .arg(exitStatus)
                .arg(QLatin1String(name));
    return QStringLiteral("The tool crashed (signal %1).").arg(exitStatus);
}

void endAllRuns() {
    RunningTools& running = runningTools();
    const std::lock_guard guard(running.lock);
    running.ending = true;
    for (const pid_t group : running.groups) ::kill(-group, SIGKILL);
}

ToolResult runProgram(const QString& program, const QStringList& arguments, Capture capture,
                      ToolLimits limits) {
    if (program.isEmpty()) return notStarted(program, QStringLiteral("No program was named"));
    if (program.contains(QChar(0)))
        return notStarted(program, QStringLiteral("The path contains a NUL character"));

    const QByteArray path = pathToSystem(program);
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments) {
        // A NUL would silently cut the argument short in the child's argv.
        if (argument.contains(QChar(0)))
            return notStarted(program, QStringLiteral("An argument contains a NUL character"));
        encoded.push_back(pathToSystem(argument));
    }
    std::vector<char*> argv;
    argv.reserve(encoded.size() + 1);
    for (QByteArray& item : encoded) argv.push_back(item.data());
    argv.push_back(nullptr);

    const bool both = capture == Capture::Both;
    Fd outRead, outWrite, errRead, errWrite;
    const auto why = [](const Error& e) { return QString::fromStdString(e.message); };
    if (auto piped = makePipe(outRead, outWrite); !piped)
        return notStarted(program, why(piped.error()));
    if (both) {
        if (auto piped = makePipe(errRead, errWrite); !piped)
            return notStarted(program, why(piped.error()));
    }

    const auto pid = spawn(path, argv, outWrite.get(), both ? errWrite.get() : -1);
    if (!pid) return notStarted(program, why(pid.error()));
    ChildGuard child(*pid);
    // Only the child may hold the write ends, or end of file would never come.
    outWrite.reset();
    errWrite.reset();

    ToolResult result;
    result.started = true;
    std::array<Stream, 2> streams;
    streams[0].fd.reset(outRead.release());
    streams[0].sink = &result.standardOutput;
    streams[1].fd.reset(errRead.release());
    streams[1].sink = &result.standardError;
    streams[1].dropPast = limits.maxErrorBytes;

    Stopwatch watch;
    watch.cancel = limits.cancel;
    if (limits.timeout.count() > 0) watch.deadline = Clock::now() + limits.timeout;
    const DrainEnd end = drain(streams, std::max<qint64>(limits.maxBytesPerStream, 0), watch);
    result.errorCut = streams[1].dropped;
    if (end != DrainEnd::EndOfFile) {
        result.truncated = end == DrainEnd::Cut;
        result.timedOut = end == DrainEnd::TimedOut;
        result.cancelled = end == DrainEnd::Cancelled;
        child.stop();
        // Closing our ends means a grandchild still writing cannot keep us here.
        for (Stream& stream : streams) stream.fd.reset();
    }

    int status = 0;
    if (!child.wait(status, watch, result.timedOut, result.cancelled)) {
        // Only when SIGCHLD is ignored and the system reaped it for us: no status exists.
        return result;
    }
    if (WIFSIGNALED(status)) {
        result.crashed = true;
        result.exitStatus = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace varko::host
