// A whole app made from the bytes (see filetree.h): every piece of code found, read and
// verified, its services and flags, the verdict and the JSON that varko-report prints.
//
// Whatever the tree, the walk stays inside the app, every piece it lists lies inside and
// comes after the piece it sits in, and the verdict never says the app is sealed while a
// piece it found is not as signed. Nothing outside the app is opened.
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
#include "signature/hashbudget.h"
#include "watchedsandbox.h"

namespace fs = std::filesystem;
using namespace varko::overview;

namespace {

constexpr std::int64_t jan2024 = 1704067200;
constexpr const char* appName = "Fuzz.app";
constexpr std::size_t maxChecked = 32;

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& s = varko::fuzzing::watchedSandbox(appName);
    std::error_code ec;
    fs::remove_all(s.bundle, ec);
    if (!fs::create_directory(s.bundle, ec)) std::abort();
    varko::fuzzing::buildTree(std::span(data, size), s.bundle);
    // Files from the records have no modes; code is found by its executable bit too.
    for (auto it = fs::recursive_directory_iterator(s.bundle, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_exec, fs::perm_options::add, ec);
    (void)varko::fuzzing::openedOutside(s);

    Overview o = readOverview(s.bundle);
    varko::codesign::HashBudget budget(16 << 20);
    for (std::size_t i = 0; i < o.components.size() && i < maxChecked; ++i)
        if (o.components[i].identity.codeFound)
            o.components[i].check = checkComponent(
                s.bundle, o.components[i], varko::signing::TrustAnchors::apple(), jan2024, &budget);
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
    if (varko::fuzzing::openedOutside(s)) fail("read outside the app");
    return 0;
}
