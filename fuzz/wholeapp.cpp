// A whole app made from the bytes (see filetree.h): every piece of code found, read and
// verified, its services and flags, the verdict and the JSON that varko-report prints.
//
// Whatever the tree, the walk stays inside the app, every piece it lists lies inside and
// comes after the piece it sits in, and the verdict never says the app is sealed while a
// piece it found is not as signed. Nothing outside the app is opened.
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

#include "filetree.h"
#include "overview/componentcheck.h"
#include "overview/overview.h"
#include "overview/overviewjson.h"
#include "overview/verdict.h"
#include "scratch.h"
#include "systools/codesign/hashbudget.h"

namespace fs = std::filesystem;
using namespace varko::overview;

namespace {

constexpr std::int64_t jan2024 = 1704067200;
constexpr const char* appName = "Fuzz.app";
constexpr std::size_t maxChecked = 32;

struct Sandbox {
    fs::path app;
    int watch = -1;
};

const Sandbox& sandbox() {
    static const Sandbox s = [] {
        Sandbox out;
        out.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (out.watch < 0) std::abort();
        fs::path dir = varko::fuzzing::scratchFolder();
        for (std::size_t level = 0;; ++level) {
            for (const char* decoy : {"Info.plist", "PrivacyInfo.xcprivacy", "Fuzz", "Contents"})
                std::ofstream(dir / decoy) << "<plist><dict><key>CFBundleExecutable</"
                                              "key><string>Fuzz</string></dict></plist>";
            if (inotify_add_watch(out.watch, dir.c_str(), IN_OPEN) < 0) std::abort();
            if (level > varko::fuzzing::maxTreeClimbs) break;
            dir /= "up" + std::to_string(level);
            fs::create_directory(dir);
        }
        out.app = dir / appName;
        return out;
    }();
    return s;
}

bool openedOutside(int watch) {
    bool found = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (!(event->len && std::string(event->name) == appName)) found = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return found;
}

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Sandbox& s = sandbox();
    std::error_code ec;
    fs::remove_all(s.app, ec);
    if (!fs::create_directory(s.app, ec)) std::abort();
    varko::fuzzing::buildTree(std::span(data, size), s.app);
    // Files from the records have no modes; code is found by its executable bit too.
    for (auto it = fs::recursive_directory_iterator(s.app, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_exec, fs::perm_options::add, ec);
    (void)openedOutside(s.watch);

    Overview o = readOverview(s.app);
    varko::codesign::HashBudget budget(16 << 20);
    for (std::size_t i = 0; i < o.components.size() && i < maxChecked; ++i)
        if (o.components[i].identity.codeFound)
            o.components[i].check = checkComponent(
                s.app, o.components[i], varko::signing::TrustAnchors::apple(), jan2024, &budget);
    flagComponents(o, PrivacyCatalog::builtIn());
    const Verdict v = judge(true, &o, std::nullopt, {false, false});
    (void)v.lines();
    (void)componentsJson(o);
    (void)servicesJson(o);
    (void)verdictJson(v);

    if (o.components.size() > maxComponents) fail("more components than the bound");
    for (std::size_t i = 0; i < o.components.size(); ++i) {
        const Component& c = o.components[i];
        if (c.path.starts_with('/') || c.path == ".." || c.path.starts_with("../") ||
            c.path.find("/../") != std::string::npos || c.path.ends_with("/.."))
            fail("a component outside the app");
        if (c.parent && *c.parent >= i) fail("a component before the one it sits in");
        if (v.sealed == Tri::yes && c.check && !c.check->intact)
            fail("sealed, beside a piece that is not as signed");
    }
    if (openedOutside(s.watch)) fail("read outside the app");
    return 0;
}
