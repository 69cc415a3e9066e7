#pragma once

// Runs a piece of a test as a user that permissions bind: as root they don't, and CI runs
// as root. The work runs in a child process that gives up root, and hands back text.

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace varko::testsupport {

/// The user and group nobody has on Debian and macOS alike.
inline constexpr uid_t unprivilegedId = 65534;

/// Lets anyone walk down to `path` and read what lies under it, so that the unprivileged
/// child can reach a fixture in a folder that only root could enter.
inline void openUpTo(const std::filesystem::path& path) {
    std::error_code ec;
    for (std::filesystem::path p = path; !p.empty() && p != p.root_path(); p = p.parent_path())
        std::filesystem::permissions(
            p, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
            std::filesystem::perm_options::add, ec);
}

/// `work`'s text, computed as an unprivileged user: in a child that drops root when this
/// process has it, else in this process. None if the child failed.
inline std::optional<std::string> asUnprivileged(const std::function<std::string()>& work) {
    if (::geteuid() != 0) return work();
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(unprivilegedId) != 0 ||
            ::setuid(unprivilegedId) != 0)
            ::_exit(2);
        const std::string text = work();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) ::_exit(3);
            done += std::size_t(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

}  // namespace varko::testsupport
