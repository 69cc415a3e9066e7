#pragma once

// A place for a bundle made from fuzz input, below more watched folders than the bundle's
// links can climb, each holding files a bundle would read: opening anything in them but
// the bundle itself is a finding.

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "filetree.h"
#include "scratch.h"

namespace varko::fuzzing {

struct WatchedSandbox {
    std::filesystem::path bundle;  ///< where the bundle goes: made and removed per input
    int watch = -1;
};

/// The sandbox for a bundle named `name`, made on first use.
inline const WatchedSandbox& watchedSandbox(const char* name) {
    static const WatchedSandbox s = [name] {
        WatchedSandbox out;
        out.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (out.watch < 0) std::abort();
        std::filesystem::path dir = scratchFolder();
        for (std::size_t level = 0;; ++level) {
            for (const char* decoy :
                 {"Info.plist", "CodeResources", "PrivacyInfo.xcprivacy", "Fuzz", "Contents"})
                std::ofstream(dir / decoy) << "<plist><dict><key>CFBundleExecutable</"
                                              "key><string>Fuzz</string></dict></plist>";
            if (inotify_add_watch(out.watch, dir.c_str(), IN_OPEN) < 0) std::abort();
            if (level > maxTreeClimbs) break;
            dir /= "up" + std::to_string(level);
            std::filesystem::create_directory(dir);
        }
        out.bundle = dir / name;
        return out;
    }();
    return s;
}

/// The name of the first thing opened outside the bundle since the last call, if any.
inline std::optional<std::string> openedOutside(const WatchedSandbox& sandbox) {
    std::optional<std::string> found;
    const std::string name = sandbox.bundle.filename().string();
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(sandbox.watch, buffer, sizeof buffer);
        if (n <= 0) return found;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const std::string opened = event->len ? event->name : "";
            if (opened != name && !found) found = opened.empty() ? "a watched folder" : opened;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace varko::fuzzing
