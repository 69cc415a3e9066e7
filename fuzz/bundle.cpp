// A bundle on disk made from the bytes (see filetree.h): the locator finds its main
// executable, then strict validation walks it against its seal, nested code included,
// and Gatekeeper's assessment runs over every slice.
//
// Nothing may be read from outside the bundle, however its links lead. The bundle sits
// below more watched folders than its links can climb, each holding files a bundle would
// read; opening anything in them but the bundle itself is a finding.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <variant>

#include "filetree.h"
#include "scratch.h"
#include "systools/codesign/assessment.h"
#include "systools/codesign/bundlelocator.h"
#include "systools/codesign/codeobject.h"
#include "systools/codesign/codeverifier.h"

namespace fs = std::filesystem;
using namespace varko::codesign;

namespace {

constexpr std::int64_t jan2024 = 1704067200;
constexpr const char* bundleName = "Fuzz.app";

struct Sandbox {
    fs::path bundle;
    int watch = -1;
};

const Sandbox& sandbox() {
    static const Sandbox s = [] {
        Sandbox out;
        out.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (out.watch < 0) std::abort();
        fs::path dir = varko::fuzzing::scratchFolder();
        for (std::size_t level = 0;; ++level) {
            for (const char* decoy : {"Info.plist", "CodeResources", "Fuzz", "Contents"})
                std::ofstream(dir / decoy) << "<plist><dict><key>CFBundleExecutable</"
                                              "key><string>Fuzz</string></dict></plist>";
            if (inotify_add_watch(out.watch, dir.c_str(), IN_OPEN) < 0) std::abort();
            if (level > varko::fuzzing::maxTreeClimbs) break;
            dir /= "up" + std::to_string(level);
            fs::create_directory(dir);
        }
        out.bundle = dir / bundleName;
        return out;
    }();
    return s;
}

/// The name of the first thing opened outside the bundle since the last call, if any.
std::optional<std::string> openedOutside(int watch) {
    std::optional<std::string> found;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(watch, buffer, sizeof buffer);
        if (n <= 0) return found;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const std::string name = event->len ? event->name : "";
            if (name != bundleName && !found) found = name.empty() ? "a watched folder" : name;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Sandbox& s = sandbox();
    std::error_code ec;
    fs::remove_all(s.bundle, ec);
    if (!fs::create_directory(s.bundle, ec)) std::abort();
    varko::fuzzing::buildTree(std::span(data, size), s.bundle);
    (void)openedOutside(s.watch);

    if (const auto location = locateCode(s.bundle)) {
        (void)verifyBundle(*location, 3);
        if (const auto slices = loadEverySlice(*location))
            (void)assessCode(*slices, *location, varko::signing::TrustAnchors::apple(), jan2024);
    }
    if (const auto name = openedOutside(s.watch)) {
        std::fprintf(stderr, "read outside the bundle: %s\n", name->c_str());
        std::abort();
    }
    return 0;
}
