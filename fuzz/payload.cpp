// What a flat package would install, over hostile bytes: the xar around it, its PackageInfo,
// and payloads and scripts in cpio, gzip or pbzx, under a small budget so that a bomb the
// fuzzer finds costs milliseconds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "package/payload.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = varko::fuzzing::scratchFile("fuzz.pkg", std::span(data, size));
    varko::package::PayloadBudget budget;
    budget.maxExpandedBytes = 64u << 20;
    budget.minBytesForRatio = 1u << 20;
    budget.maxFiles = 10000;
    budget.timeLimit = std::chrono::seconds(5);
    const auto contents = varko::package::readPackageContents(path, budget);
    if (!contents) return 0;
    for (const auto& c : contents->components) {
        // Every script's kept text stays within its bound, and every path within its own.
        for (const auto& s : c.scripts)
            if (s.text.size() > budget.maxScriptBytes) std::abort();
        for (const auto& f : c.files)
            if (f.path.size() > budget.maxPathBytes + c.installLocation.size() + 2) std::abort();
    }
    return 0;
}
