// A bundle on disk made from the bytes (see filetree.h): the locator finds its main
// executable, then strict validation walks it against its seal, nested code included,
// and Gatekeeper's assessment runs over every slice.
//
// Nothing may be read from outside the bundle, however its links lead. The bundle sits
// below more watched folders than its links can climb, each holding files a bundle would
// read; opening anything in them but the bundle itself is a finding.
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
#include "signature/assessment.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "watchedsandbox.h"

namespace fs = std::filesystem;
using namespace varko::codesign;

namespace {

constexpr std::int64_t jan2024 = 1704067200;
constexpr const char* bundleName = "Fuzz.app";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& s = varko::fuzzing::watchedSandbox(bundleName);
    std::error_code ec;
    fs::remove_all(s.bundle, ec);
    if (!fs::create_directory(s.bundle, ec)) std::abort();
    varko::fuzzing::buildTree(std::span(data, size), s.bundle);
    (void)varko::fuzzing::openedOutside(s);

    if (const auto location = locateCode(s.bundle)) {
        (void)verifyBundle(*location, 3);
        if (const auto slices = loadEverySlice(*location))
            (void)assessCode(*slices, *location, varko::signing::TrustAnchors::apple(), jan2024);
    }
    if (const auto name = varko::fuzzing::openedOutside(s)) {
        std::fprintf(stderr, "read outside the bundle: %s\n", name->c_str());
        std::abort();
    }
    return 0;
}
