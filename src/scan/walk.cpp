#include "scan/walk.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varko::scan {

namespace {

std::string joined(const std::string& folder, std::string_view name) {
    return folder + (folder.ends_with('/') ? "" : "/") + std::string(name);
}

class Walk {
public:
    Walk(const WalkLimits& limits, const std::function<void(const std::string&)>& beforeEntering,
         const std::atomic<bool>* cancel)
        : limits(limits), beforeEntering(beforeEntering), cancel(cancel) {}

    Walked found;

    void root(const std::string& path) {
        if (full) return;
        const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
        struct stat st {};
        // The folder named may itself be a link: the one link the walk follows.
        if (::stat(path.c_str(), &st) != 0) {
            problem(path, std::strerror(errno));
        } else if (hasBundleSuffix(name, ".app") || hasBundleSuffix(name, ".pkg")) {
            add(path, path);
        } else if (!S_ISDIR(st.st_mode)) {
            problem(path, "not a folder");
        } else if (const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                   fd < 0) {
            problem(path, std::strerror(errno));
        } else {
            folderAt(fd, path, 0);
        }
    }

private:
    const WalkLimits& limits;
    const std::function<void(const std::string&)>& beforeEntering;
    const std::atomic<bool>* cancel;
    std::set<std::pair<dev_t, ino_t>> seen;
    std::set<std::string> listed;
    std::size_t entries = 0;
    bool full = false;  // a bound that ends the whole walk was reached

    void cutAt(CutKind kind, const std::string& folder, std::size_t limit) {
        for (CutAt<std::string>& cut : found.cuts)
            if (cut.kind == kind) {
                ++cut.times;
                return;
            }
        found.cuts.push_back({kind, folder, limit, 1});
    }

    void problem(const std::string& path, const char* why) {
        if (found.problems.size() < limits.problems)
            found.problems.emplace_back(path, why);
        else
            cutAt(CutKind::problems, path, limits.problems);
    }

    void add(const std::string& path, const std::string& folder) {
        if (listed.contains(path)) return;
        if (listed.size() >= limits.items) {
            cutAt(CutKind::items, folder, limits.items);
            full = true;
            return;
        }
        listed.insert(path);
        found.items.push_back(path);
    }

    /// Walks the folder open at `fd`, which it closes, named `path`. Its subfolders are
    /// opened from its descriptor while it stays open, so a link that took the place of any
    /// folder above since it was opened changes nothing.
    void folderAt(int fd, const std::string& path, int depth) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            problem(path, std::strerror(errno));
            ::close(fd);
            return;
        }
        // A folder reached twice (nested folders on the command line, a bind mount) is
        // walked once.
        if (!seen.insert({st.st_dev, st.st_ino}).second) {
            ::close(fd);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            problem(path, std::strerror(errno));
            ::close(fd);
            return;
        }
        std::vector<std::string> folders;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) problem(path, std::strerror(errno));
                break;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                full = true;
                break;
            }
            if (++entries > limits.entries) {
                cutAt(CutKind::entries, path, limits.entries);
                full = true;
                break;
            }
            struct stat cst {};
            // Links are never followed: where one leads may be outside, or back here.
            if (::fstatat(::dirfd(dir), entry->d_name, &cst, AT_SYMLINK_NOFOLLOW) != 0 ||
                S_ISLNK(cst.st_mode))
                continue;
            if (hasBundleSuffix(name, ".app") && S_ISDIR(cst.st_mode))
                add(joined(path, name), path);
            else if (hasBundleSuffix(name, ".pkg"))
                // Flat or a folder, or something else by that name: the scan says which.
                add(joined(path, name), path);
            else if (limits.containers && S_ISREG(cst.st_mode) &&
                     (hasBundleSuffix(name, ".dmg") || hasBundleSuffix(name, ".zip")))
                add(joined(path, name), path);
            else if (S_ISDIR(cst.st_mode))
                folders.emplace_back(name);
            if (full) break;
        }
        for (const std::string& name : folders) {
            if (full) break;
            const std::string child = joined(path, name);
            if (depth + 1 >= limits.depth) {
                cutAt(CutKind::depth, child, std::size_t(limits.depth));
                continue;
            }
            if (beforeEntering) beforeEntering(child);
            const int childFd = ::openat(::dirfd(dir), name.c_str(),
                                         O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
            if (childFd >= 0)
                folderAt(childFd, child, depth + 1);
            else if (errno != ELOOP && errno != ENOTDIR)
                // A link or a file that took the folder's place since is passed over, as
                // one found there in the first place is.
                problem(child, std::strerror(errno));
        }
        ::closedir(dir);
    }
};

}  // namespace

bool hasBundleSuffix(std::string_view name, std::string_view suffix) {
    if (name.size() <= suffix.size()) return false;
    const std::string_view end = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = end[i];
        const char lower = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        if (lower != suffix[i]) return false;
    }
    return true;
}

Walked walkFolders(const std::vector<std::string>& roots, const WalkLimits& limits,
                   const std::function<void(const std::string&)>& beforeEntering,
                   const std::atomic<bool>* cancel) {
    Walk walk(limits, beforeEntering, cancel);
    for (const std::string& root : roots) walk.root(root);
    return std::move(walk.found);
}

}  // namespace varko::scan
