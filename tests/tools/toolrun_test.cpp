// Running the platform's tools and our stand-ins: how a run ends and what it wrote, its bounds,
// time limits and threads; and which program a tool set runs for each of their paths.
#include "tools/toolrun.h"
#include "tools/toolset.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThreadPool>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "format/casetable.h"
#include "support/faketool.h"

namespace varko::host {
namespace {

using ::testing::HasSubstr;
using varko::testing::FakeTools;
using varko::testing::pidIn;
using varko::testing::processRuns;
using varko::testing::untilExists;

/// What `seq first last` prints.
QByteArray sequence(int first, int last) {
    QByteArray bytes;
    for (int i = first; i <= last; ++i) bytes += QByteArray::number(i) + '\n';
    return bytes;
}

/// Runs `work` with our descriptor `fd` on a temporary file holding `content`; what the file
/// holds afterwards.
QByteArray redirected(int fd, const QByteArray& content, const std::function<void()>& work) {
    QTemporaryFile file;
    if (!file.open() || file.write(content) != content.size() || !file.flush()) return "<no file>";
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    ::lseek(file.handle(), 0, SEEK_SET);
    ::dup2(file.handle(), fd);
    work();
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

/// Polls `done` for up to `ms` milliseconds without running an event loop; whether it held.
bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) ::usleep(1000);
    return done();
}

[[nodiscard]] bool hasNoChildrenLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(RunProgram, ReportsHowTheToolEndedAndWhatItWrote) {
    FakeTools tools;
    ASSERT_TRUE(tools.isValid());
    int n = 0;
    for (const auto& [body, capture, status, crashed, out, err, interruption] :
         varko::testing::caseTable<7>("endings.txt")) {
        SCOPED_TRACE(body);
        const ToolResult result =
            runProgram(tools.script(QString::number(++n), QByteArray::fromStdString(body)), {},
                       capture == "both" ? Capture::Both : Capture::StandardOutput);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(std::to_string(result.exitStatus), status);
        EXPECT_EQ(result.crashed, crashed == "yes");
        EXPECT_EQ(result.succeeded(), status == "0" && crashed == "no");
        EXPECT_FALSE(result.truncated);
        EXPECT_EQ(result.standardOutput.toStdString(), out);
        EXPECT_EQ(result.standardError.toStdString(), err);
        EXPECT_EQ(result.interruption().toStdString(), interruption);
    }
    EXPECT_TRUE(hasNoChildrenLeft());
}

TEST(RunProgram, DrainsFloodsFarAbovePipeCapacityExactly) {
    FakeTools tools;
    // First stderr floods while stdout stays open and idle, then both write at once.
    const QString flood = tools.script("flood",
                                       "seq 1 300000\n"
                                       "seq 1 600000 >&2\n"
                                       "seq 300001 1200000 &\n"
                                       "seq 600001 1200000 >&2\n"
                                       "wait");
    const QByteArray expected = sequence(1, 1200000);
    ASSERT_GT(expected.size(), 8 * 1024 * 1024);

    const ToolResult both = runProgram(flood, {}, Capture::Both);
    EXPECT_TRUE(both.succeeded());
    EXPECT_FALSE(both.truncated);
    EXPECT_TRUE(both.standardOutput == expected) << both.standardOutput.size();
    EXPECT_TRUE(both.standardError == expected) << both.standardError.size();

    const QString single = tools.script("single", "seq 1 1200000");
    const ToolResult out = runProgram(single, {}, Capture::StandardOutput);
    EXPECT_TRUE(out.succeeded());
    EXPECT_TRUE(out.standardOutput == expected) << out.standardOutput.size();
}

TEST(RunProgram, PassesEachArgumentAsOneArgvEntry) {
    FakeTools tools;
    // The program's own path carries blanks, quotes and a dollar sign too.
    const QString echo = tools.script(QStringLiteral("fake tool 'x' $y"),
                                      "printf '%s\\n' \"$#\"\n"
                                      "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
    const QStringList arguments = {
        QStringLiteral("two words"),     QStringLiteral("it's \"quoted\""),
        QStringLiteral("$HOME"),         QStringLiteral("-n"),
        QStringLiteral("first\nsecond"), QString(),
        QStringLiteral("ünïcödé"),       QStringLiteral("*"),
        QStringLiteral("a;b|c`d`"),
    };
    const ToolResult result = runProgram(echo, arguments, Capture::Both);
    ASSERT_TRUE(result.started) << result.startError.toStdString();
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(QString::fromUtf8(result.standardOutput),
              QStringLiteral("9\n[two words]\n[it's \"quoted\"]\n[$HOME]\n[-n]\n[first\nsecond]\n"
                             "[]\n[ünïcödé]\n[*]\n[a;b|c`d`]\n"));
}

TEST(RunProgram, ReportsProgramsThatCannotStart) {
    FakeTools tools;
    struct Case {
        QString program;
        QStringList arguments;
        const char* reason;
    };
    const Case cases[] = {
        {tools.path("absent"), {}, "No such file or directory"},
        {tools.file("not-executable", "#!/bin/sh\necho hi\n"), {}, "Permission denied"},
        {tools.file("garbage", "\177ELF but not really\n", FakeTools::executable),
         {},
         "Exec format error"},
        {tools.path(QString()), {}, "Permission denied"},  // the folder itself
        {QString(), {}, "No program"},
        {tools.script("fine", "echo hi"), {QStringLiteral("a") + QChar(0) + "b"}, "NUL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        const ToolResult result = runProgram(c.program, c.arguments, Capture::Both);
        EXPECT_FALSE(result.started);
        EXPECT_FALSE(result.succeeded());
        EXPECT_FALSE(result.crashed);
        EXPECT_EQ(result.exitStatus, -1);
        EXPECT_TRUE(result.standardOutput.isEmpty());
        EXPECT_THAT(result.startError.toStdString(), HasSubstr("could not be started"));
        EXPECT_THAT(result.startError.toStdString(), HasSubstr(c.program.toStdString()));
        EXPECT_THAT(result.startError.toStdString(), HasSubstr(c.reason));
    }
    EXPECT_TRUE(hasNoChildrenLeft());
}

TEST(RunProgram, CutsStreamsAtTheCapAndStopsTheTool) {
    FakeTools tools;
    const qint64 cap = 1024 * 1024;
    struct Case {
        QString program;
        Capture capture;
        bool onStandardError;
    };
    const Case floods[] = {
        {tools.script("yes-out", "exec yes"), Capture::StandardOutput, false},
        {tools.script("yes-err", "exec yes >&2"), Capture::Both, true},
        // The killed shell's own child keeps writing; it must not keep us waiting.
        {tools.script("yes-grandchild", "yes &\nwait"), Capture::StandardOutput, false},
    };
    for (const Case& c : floods) {
        SCOPED_TRACE(c.program.toStdString());
        QElapsedTimer timer;
        timer.start();
        const ToolResult result = runProgram(c.program, {}, c.capture, ToolLimits{cap, {}, {}});
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_TRUE(result.truncated);
        EXPECT_FALSE(result.succeeded());
        const QByteArray& kept = c.onStandardError ? result.standardError : result.standardOutput;
        EXPECT_EQ(kept.size(), cap);
        EXPECT_TRUE(kept.startsWith("y\ny\n"));
    }

    const QString exact = tools.script("exact", "head -c 1000 /dev/zero");
    const ToolResult atCap =
        runProgram(exact, {}, Capture::StandardOutput, ToolLimits{1000, {}, {}});
    EXPECT_FALSE(atCap.truncated);
    EXPECT_TRUE(atCap.succeeded());
    EXPECT_EQ(atCap.standardOutput, QByteArray(1000, '\0'));
    const ToolResult overCap =
        runProgram(exact, {}, Capture::StandardOutput, ToolLimits{999, {}, {}});
    EXPECT_TRUE(overCap.truncated);
    EXPECT_EQ(overCap.standardOutput.size(), 999);

    const QString silent = tools.script("silent", "exit 0");
    EXPECT_FALSE(runProgram(silent, {}, Capture::Both, ToolLimits{0, {}, {}}).truncated);

    // Standard error with a bound of its own is kept up to it; the tool runs to its end.
    const QString chatty =
        tools.script("chatty", "head -c 3000000 /dev/zero | tr '\\0' e >&2\necho done");
    const ToolResult talked = runProgram(chatty, {}, Capture::Both, ToolLimits{cap, {}, {}, 100});
    EXPECT_TRUE(talked.succeeded());
    EXPECT_TRUE(talked.errorCut);
    EXPECT_EQ(talked.standardError, QByteArray(100, 'e'));
    EXPECT_EQ(talked.standardOutput, "done\n");
    EXPECT_TRUE(hasNoChildrenLeft());
}

TEST(RunProgram, InheritsEnvironmentWorkingDirectoryAndStandardInput) {
    FakeTools tools;
    const QString show =
        tools.script("show", "printf '%s\\n' \"$VARKO_TOOLS_TEST_VALUE\"\npwd -P\ncat");
    qputenv("VARKO_TOOLS_TEST_VALUE", "a b $c");
    const QString previous = QDir::currentPath();
    QTemporaryDir workDir;
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));
    ToolResult result;
    redirected(STDIN_FILENO, "from our stdin\n",
               [&] { result = runProgram(show, {}, Capture::StandardOutput); });
    QDir::setCurrent(previous);
    qunsetenv("VARKO_TOOLS_TEST_VALUE");
    EXPECT_EQ(QString::fromUtf8(result.standardOutput),
              "a b $c\n" + QDir(workDir.path()).canonicalPath() + "\nfrom our stdin\n");
}

TEST(RunProgram, LeavesUncapturedStandardErrorOnOurs) {
    FakeTools tools;
    // More than a pipe holds, so a pipe nobody drains would block the tool.
    const QString noisy = tools.script(
        "noisy", "echo out\nhead -c 300000 /dev/zero | tr '\\000' e >&2\necho done >&2");
    ToolResult result;
    const QByteArray ours = redirected(
        STDERR_FILENO, {}, [&] { result = runProgram(noisy, {}, Capture::StandardOutput); });
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.standardOutput, "out\n");
    EXPECT_TRUE(result.standardError.isEmpty());
    EXPECT_TRUE(ours == QByteArray(300000, 'e') + "done\n");
}

// With our own streams closed, a new pipe lands on 0-2. Its ends must move above them:
// glibc's spawn clears close-on-exec on a dup2 onto itself, but not every system's does,
// and macOS passes an open stdin on explicitly, so a tool would get its own pipe as a
// standard stream. The tool waits until we have looked where the ends are.
TEST(RunProgram, PipesStayOffOurClosedStandardStreams) {
    FakeTools tools;
    const QByteArray ready = tools.path("ready").toLocal8Bit(), go = tools.path("go").toLocal8Bit();
    const QString waiting = tools.script("waiting", ": > '" + ready + "'\nwhile [ ! -e '" + go +
                                                        "' ]; do sleep 0.01; done\n"
                                                        "echo out\necho err >&2\nexit 3");
    ToolResult result;
    std::array<bool, 3> takenDuringRun{};
    std::fflush(nullptr);
    std::array<int, 3> saved{};
    for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
        saved[fd] = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
        ::close(fd);
    }
    std::thread run([&] {
        result = runProgram(waiting, {}, Capture::Both,
                            ToolLimits{1 << 20, std::chrono::seconds(30), {}});
    });
    waitFor([&] { return ::access(ready.constData(), F_OK) == 0; });
    for (int fd = 0; fd <= STDERR_FILENO; ++fd) takenDuringRun[fd] = ::fcntl(fd, F_GETFD) != -1;
    ::close(::open(go.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    run.join();
    for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
        ::dup2(saved[fd], fd);
        ::close(saved[fd]);
    }
    EXPECT_EQ(takenDuringRun, (std::array<bool, 3>{})) << "a pipe end took one of 0-2";
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.standardOutput, "out\n");
    EXPECT_EQ(result.standardError, "err\n");
}

TEST(RunProgram, WaitsForBackgroundChildrenHoldingThePipe) {
    // End of file comes only when every holder of the write end is gone, as with
    // a shell's command substitution; the run ends with the last holder. The child
    // writes only once released, which happens after the tool itself has ended.
    FakeTools tools;
    const QString pidFile = tools.path("parent.pid"), release = tools.path("release");
    const QString parent = tools.script(
        "parent", QStringLiteral("(%1; echo late) &\necho $$ > '%2'\necho early\nexit 4")
                      .arg(untilExists(release), pidFile)
                      .toUtf8());
    std::atomic<bool> parentEnded = false;
    std::thread releaser([&] {
        parentEnded = waitFor([&] { return pidIn(pidFile) > 0; }) &&
                      waitFor([&] { return !processRuns(pidIn(pidFile)); });
        tools.file("release", {});
    });
    const ToolResult result = runProgram(parent, {}, Capture::Both);
    releaser.join();
    EXPECT_TRUE(parentEnded);
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.standardOutput, "early\nlate\n");
}

TEST(RunProgram, ATimeLimitEndsTheToolAndWhatItStartedAndSaysSo) {
    FakeTools tools;
    const QString pidFile = tools.path("child.pid");
    // A tool that hangs, with a child of its own that holds the pipe open.
    const QString hanging = tools.script(
        "hanging",
        QStringLiteral("sleep 600 &\necho $! > '%1'\necho started\nwait").arg(pidFile).toUtf8());
    ToolLimits limits;
    limits.timeout = std::chrono::milliseconds(300);
    QElapsedTimer timer;
    timer.start();
    const ToolResult result = runProgram(hanging, {}, Capture::Both, limits);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.standardOutput, "started\n");
    EXPECT_THAT(result.interruption().toStdString(), HasSubstr("time limit"));
    const pid_t child = pidIn(pidFile);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(waitFor([&] { return !processRuns(child); }, 5000))
        << "the tool's own child outlived the run";
    EXPECT_TRUE(hasNoChildrenLeft());

    // A quick tool is untouched by a limit it stays within.
    const ToolResult quick =
        runProgram(tools.script("quick", "echo ok"), {}, Capture::Both, limits);
    EXPECT_TRUE(quick.succeeded());
    EXPECT_TRUE(quick.interruption().isEmpty());
}

TEST(RunProgram, ACancelFlagRaisedFromAnotherThreadEndsTheRun) {
    FakeTools tools;
    // A tool that hangs, and one that closes its streams and lingers: both held to the flag.
    const std::pair<QString, Capture> cases[] = {
        {tools.script("hanging", "exec sleep 600"), Capture::StandardOutput},
        {tools.script("lingering", "exec >/dev/null 2>&1\nexec sleep 600"), Capture::Both}};
    for (const auto& [hanging, capture] : cases) {
        SCOPED_TRACE(hanging.toStdString());
        ToolLimits limits;
        limits.cancel = std::make_shared<std::atomic<bool>>(false);
        std::thread raiser([flag = limits.cancel] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            flag->store(true);
        });
        QElapsedTimer timer;
        timer.start();
        const ToolResult result = runProgram(hanging, {}, capture, limits);
        raiser.join();
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_TRUE(result.cancelled);
        EXPECT_THAT(result.interruption().toStdString(), HasSubstr("window closed or Varko quit"));
        EXPECT_TRUE(hasNoChildrenLeft());
    }
}

void ignoreSignal(int) {}

TEST(RunProgram, SurvivesInterruptingSignals) {
    FakeTools tools;
    const QString ticking =
        tools.script("ticking", "for i in 1 2 3 4 5; do echo $i; sleep 0.1; done\nexit 2");
    struct sigaction action = {};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll, read and waitpid see EINTR
    struct sigaction previous = {};
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    itimerval every = {{0, 1000}, {0, 1000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);

    const ToolResult result = runProgram(ticking, {}, Capture::Both);

    itimerval off = {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.standardOutput, "1\n2\n3\n4\n5\n");
}

TEST(RunProgramConcurrently, FastRunDoesNotWaitForSlowOne) {
    FakeTools tools;
    // The slow run lasts until the fast one has returned, so a fast run that waited
    // for it could never return: the slow one gives up after a minute and the check fails.
    const QString started = tools.path("started"), release = tools.path("release");
    const QString slow = tools.script(
        "slow",
        QStringLiteral(": > '%1'\n%2\necho slow").arg(started, untilExists(release)).toUtf8());
    const QString fast = tools.script("fast", "echo fast");

    std::atomic<bool> slowReturned = false;
    ToolResult slowResult;
    std::thread slowThread([&] {
        slowResult = runProgram(slow, {}, Capture::Both);
        slowReturned = true;
    });
    waitFor([&] { return QFile::exists(started) || slowReturned; }, 60000);
    const ToolResult fastResult = runProgram(fast, {}, Capture::Both);
    EXPECT_FALSE(slowReturned);
    tools.file("release", {});
    slowThread.join();

    EXPECT_EQ(fastResult.standardOutput, "fast\n");
    EXPECT_EQ(slowResult.standardOutput, "slow\n");
}

// A pipe end that leaked into a long-lived child started on another thread would
// hold a short run until that child ends; with many spawns racing, some would.
TEST(RunProgramConcurrently, PipesDoNotLeakIntoOtherThreadsChildren) {
    FakeTools tools;
    const QString sleeper = tools.script("sleeper", "exec sleep 2");
    const QString quick = tools.script("quick", "echo \"$1\"\necho \"$1\" >&2");

    std::atomic<bool> stop = false;
    std::vector<std::thread> sleepers;
    for (int i = 0; i < 4; ++i) {
        sleepers.emplace_back([&, i] {
            while (!stop)
                (void)runProgram(sleeper, {}, i % 2 ? Capture::Both : Capture::StandardOutput);
        });
    }

    QThreadPool pool;
    pool.setMaxThreadCount(6);
    std::atomic<qint64> slowest = 0;
    std::atomic<int> wrong = 0;
    for (int job = 0; job < 6; ++job) {
        pool.start([&, job] {
            for (int run = 0; run < 40; ++run) {
                const QByteArray tag = QByteArray::number(job * 1000 + run);
                QElapsedTimer timer;
                timer.start();
                const ToolResult result =
                    runProgram(quick, {QString::fromLatin1(tag)}, Capture::Both);
                const qint64 elapsed = timer.elapsed();
                qint64 seen = slowest;
                while (elapsed > seen && !slowest.compare_exchange_weak(seen, elapsed)) {
                }
                if (!result.succeeded() || result.standardOutput != tag + '\n' ||
                    result.standardError != tag + '\n')
                    ++wrong;
            }
        });
    }
    pool.waitForDone();
    stop = true;
    for (std::thread& thread : sleepers) thread.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_LT(slowest, 1500);
}

TEST(ToolSet, MapsNamedPathsAndRunsOthersAsThemselves) {
    FakeTools tools;
    const QString fake = tools.script("codesign", "printf '%s|' \"$0\" \"$@\"");
    const ToolSet set = ToolSet::withPrograms({{QLatin1String(codesignPath), fake}});

    EXPECT_EQ(set.programFor(QLatin1String(codesignPath)), fake);
    EXPECT_EQ(set.programFor(QLatin1String(spctlPath)), QLatin1String(spctlPath));
    EXPECT_EQ(set.programFor(QStringLiteral("relative/tool")), QStringLiteral("relative/tool"));

    const ToolResult result =
        set.run(QLatin1String(codesignPath), {"-dv", "a b"}, Capture::StandardOutput);
    EXPECT_EQ(QString::fromUtf8(result.standardOutput), fake + "|-dv|a b|");

    const QString shell = tools.script("sh-stand-in", "echo passed-through");
    EXPECT_EQ(ToolSet::withPrograms({}).run(shell, {}, Capture::StandardOutput).standardOutput,
              "passed-through\n");
}

TEST(ToolSet, AToolInProcessIsBoundedAndCalledOffAsItsProcessWouldBe) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    // Writes `size` bytes on each stream; "off" calls its run off midway; "throw" throws.
    const InProcessTool tool = [&](std::span<const std::string> args, std::ostream& out,
                                   std::ostream& err) {
        const std::string bytes(std::stoul(args[1]), 'x');
        out << args[0] << bytes;
        err << bytes;
        if (args[0] == "throw") throw std::runtime_error("thrown");
        if (args[0] == "off") cancel->store(true);
        return 3;
    };
    const ToolSet set = ToolSet::withPrograms({{codesignPath, "/nonexistent"}})
                            .withInProcess(QLatin1String(codesignPath), tool);
    const struct {
        const char* what;
        qint64 errorBytes;
        const char* size;
        bool cancelledBefore, truncated, errorCut, cancelled, crashed;
        qsizetype outSize, errSize;
    } cases[] = {
        {"run", -1, "10", false, false, false, false, false, 13, 10},
        {"run", -1, "200", false, true, false, false, false, 100, 100},
        {"run", 50, "200", false, true, true, false, false, 100, 50},
        {"run", 50, "20", false, false, false, false, false, 23, 20},
        {"off", -1, "1", false, false, false, true, false, 4, 1},
        {"run", -1, "1", true, false, false, true, false, 0, 0},
        {"throw", -1, "1", false, false, false, false, true, 6, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + c.size);
        cancel->store(c.cancelledBefore);
        ToolLimits limits;
        limits.maxBytesPerStream = 100;
        limits.maxErrorBytes = c.errorBytes;
        limits.cancel = cancel;
        const ToolResult r =
            set.run(QLatin1String(codesignPath), {c.what, c.size}, Capture::Both, limits);
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.exitStatus, c.crashed ? SIGABRT : c.cancelledBefore ? -1 : 3);
        EXPECT_EQ(r.truncated, c.truncated);
        EXPECT_EQ(r.errorCut, c.errorCut);
        EXPECT_EQ(r.cancelled, c.cancelled);
        EXPECT_EQ(r.crashed, c.crashed);
        EXPECT_EQ(r.standardOutput.size(), c.outSize);
        EXPECT_EQ(r.standardError.size(), c.errSize);
    }
}

#if !defined(Q_OS_MACOS)
TEST(ToolSet, SystemUsesOurStandInsBesideTheProgram) {
    const QString dir = QStringLiteral("/opt/varko stand-ins");
    const ToolSet set = ToolSet::system(dir);
    for (const char* tool : {codesignPath, spctlPath, pkgutilPath, logPath, hdiutilPath})
        EXPECT_EQ(set.programFor(QLatin1String(tool)),
                  dir + "/varko-" + QFileInfo(QLatin1String(tool)).fileName());
    EXPECT_EQ(set.programFor(QLatin1String(idPath)), QLatin1String(idPath));
    EXPECT_EQ(set.programFor(QStringLiteral("/usr/bin/true")), QStringLiteral("/usr/bin/true"));

    // Without an application object the running executable's folder is found anyway.
    const QString beside =
        QFileInfo(ToolSet::system().programFor(QLatin1String(codesignPath))).absolutePath();
    EXPECT_EQ(QDir(beside).canonicalPath(), QDir(QStringLiteral(VARKO_BIN_DIR)).canonicalPath());

    const ToolResult id =
        ToolSet::system(dir).run(QLatin1String(idPath), {"-u"}, Capture::StandardOutput);
    EXPECT_TRUE(id.succeeded());
    EXPECT_EQ(id.standardOutput.trimmed().toLongLong(), qint64(::getuid()));
}
#endif

TEST(PlatformProfile, TheJournalIsFoundWhereverJournaldKeepsIt) {
    FakeTools places;
    const QString id = "0123456789abcdef0123456789abcdef";
    places.file("machine-id", id.toLatin1() + "\n");
    const JournalPlaces where{places.path("var"), places.path("run"), places.path("machine-id"),
                              "jane"};
    const auto folder = [&where] { return PlatformProfile::journal(where).logStoreFolder; };
    // Neither holds one: the persistent place is named.
    EXPECT_EQ(folder(), where.persistentRoot + "/" + id);
    // An empty persistent root, and even an empty machine folder in it, hide nothing.
    QDir().mkpath(where.persistentRoot + "/" + id);
    QDir().mkpath(where.volatileRoot + "/" + id);
    places.file("run/" + id + "/system.journal", "x");
    EXPECT_EQ(folder(), where.volatileRoot + "/" + id);
    places.file("var/" + id + "/system.journal", "x");
    EXPECT_EQ(folder(), where.persistentRoot + "/" + id);
    // A machine ID that is no ID names no folder.
    places.file("machine-id", "../../etc\n");
    EXPECT_EQ(folder(), where.persistentRoot);
    EXPECT_EQ(PlatformProfile::journal(where).logTimesyncFolder, where.persistentRoot);
}

TEST(PlatformProfile, TheJournalsTextsSpeakOfThisComputer) {
    const PlatformProfile journal = PlatformProfile::journal({"/v", "/r", "/nothing", "jane"});
    const ProbeMessages& says = journal.messages;
    EXPECT_EQ(journal.store, LogStore::journal);
    for (const QString& text :
         {says.notAdmin, says.noLogFiles, says.noTimesync, says.noEntries, says.timeFormat}) {
        EXPECT_FALSE(text.contains("Mac")) << text.toStdString();
        EXPECT_FALSE(text.contains("timesync")) << text.toStdString();
        EXPECT_FALSE(text.contains("Language & Region")) << text.toStdString();
    }
    for (const QString& text : {says.notAdmin, says.noLogFiles, says.noEntries})
        EXPECT_TRUE(text.endsWith(ProbeMessages::disabledLine)) << text.toStdString();
    EXPECT_EQ(says.noLogFiles,
              "Varko can't find the system journal on this computer: neither /v nor /r holds "
              "one. This computer keeps no journal, so there is no log to browse.\nThe Open Log "
              "Browser command has been disabled.");
    EXPECT_EQ(says.noTimesync, says.noLogFiles);
    EXPECT_TRUE(says.noEntries.contains("on this computer"));
    // The reader test names the groups found here and how to join the first.
    EXPECT_EQ(journal.logReaderGroupIds.value(0), "0");
    QStringList groups;
    for (const char* name : {"systemd-journal", "adm", "wheel"})
        if (getgrnam(name) != nullptr) groups << name;
    for (const QString& group : groups) EXPECT_TRUE(says.notAdmin.contains(group));
    EXPECT_EQ(journal.logReaderGroupIds.size(), groups.size() + 1);
    if (!groups.isEmpty()) {
        EXPECT_TRUE(says.notAdmin.contains("sudo usermod -aG " + groups.first() + " jane"));
    }
}

}  // namespace
}  // namespace varko::host
