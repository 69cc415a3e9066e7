#include "support/childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace varko::testing {

Finished runProgram(const Run& run, rlim_t addressSpace) {
    Finished result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return result;
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const std::string& e : run.environment) putenv(const_cast<char*>(e.c_str()));
        if (addressSpace) {
            const rlimit limit{addressSpace, addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv;
        for (const std::string& a : run.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (run.closeOutput) close(out[0]);
    // Our own writes into a child that already left must not kill the test.
    signal(SIGPIPE, SIG_IGN);

    int inFd = in[1], outFd = run.closeOutput ? -1 : out[0], errFd = err[0];
    std::size_t written = 0;
    if (run.input.empty()) {
        close(inFd);
        inFd = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool timedOut = false;
    while (inFd >= 0 || outFd >= 0 || errFd >= 0) {
        pollfd fds[3] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        if (poll(fds, 3, static_cast<int>(left.count())) < 0) continue;
        if (inFd >= 0 && fds[0].revents) {
            const ssize_t n = write(inFd, run.input.data() + written, run.input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n <= 0 || written == run.input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        const auto drain = [](int& fd, short revents, std::string& into) {
            if (fd < 0 || !revents) return;
            char buffer[65536];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fd);
                fd = -1;
            }
        };
        drain(outFd, fds[1].revents, result.out);
        drain(errFd, fds[2].revents, result.err);
    }
    for (const int fd : {inFd, outFd, errFd})
        if (fd >= 0) close(fd);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace varko::testing
