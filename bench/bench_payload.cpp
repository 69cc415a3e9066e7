// Listing what a package would install must go at the speed of the tools an administrator
// would use by hand: a flat package whose pbzx payload holds MiB of files (500 by default),
// listed by Varko, against `xz -dc | cpio -t` over the same xz chunks, in the same run.
// Target: Varko's listing within 1.3 times the pipeline's time.
//
// Options after Google Benchmark's own: --mib=N sets the payload's size, --keep prints the
// folder and leaves it in place.
#include <benchmark/benchmark.h>

#include <lzma.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fixtures/pkgwriter.h"
#include "package/payload.h"
#include "ratioreporter.h"

namespace {

using namespace varko::examplegen;

std::size_t mib = 500;
bool keep = false;
constexpr std::size_t chunk = 16u << 20;  // as Apple's tools frame pbzx

struct Material {
    QTemporaryDir dir;
    std::string package;  ///< the flat package
    std::string xzFile;   ///< the same chunks as one .xz file of concatenated streams
    std::size_t entries = 0;
};

/// Files like an app's: text that compresses well, and code-like bytes that compress less.
std::vector<ArchiveEntry> payloadEntries() {
    std::vector<ArchiveEntry> entries{folderEntry("."), folderEntry("./Big.app")};
    std::mt19937 random(7);
    std::size_t total = 0;
    for (int i = 0; total < mib << 20; ++i) {
        const std::size_t size = std::size_t(4096 + random() % (1u << 20));
        std::string data(size, '\0');
        for (std::size_t at = 0; at < size; ++at)
            data[at] = i % 3 == 0 ? char(random() & 0x0f) : "lorem ipsum dolor "[(at + i) % 18];
        total += size;
        entries.push_back(fileEntry("./Big.app/Contents/Resources/file" + std::to_string(i), data));
    }
    return entries;
}

Material& material() {
    static Material m = [] {
        Material made;
        made.dir.setAutoRemove(!keep);
        const auto entries = payloadEntries();
        made.entries = entries.size();
        const auto payload = makeCpio(entries, Compression::pbzx, chunk);
        made.package = made.dir.filePath("Big.pkg").toStdString();
        const auto pkg =
            makeFlatPackage({{"Big.pkg/PackageInfo", packageInfo("b", "1", "/Applications")},
                             {"Big.pkg/Payload", payload}});
        std::ofstream(made.package, std::ios::binary)
            .write(reinterpret_cast<const char*>(pkg.data()), std::streamsize(pkg.size()));
        // The pbzx chunks' xz streams, back to back: what xz -dc reads as one file.
        made.xzFile = made.dir.filePath("payload.xz").toStdString();
        std::ofstream xz(made.xzFile, std::ios::binary);
        auto be = [&](std::size_t at) {
            std::uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | std::uint8_t(payload[at + std::size_t(i)]);
            return v;
        };
        for (std::size_t at = 12; at + 16 <= payload.size();) {
            const std::size_t length = be(at + 8);
            xz.write(reinterpret_cast<const char*>(payload.data() + at + 16),
                     std::streamsize(length));
            at += 16 + length;
        }
        if (keep) std::printf("material in %s\n", qPrintable(made.dir.path()));
        return made;
    }();
    return m;
}

void listingByVarko(benchmark::State& state) {
    for (auto _ : state) {
        const auto contents = varko::package::readPackageContents(material().package);
        if (!contents || contents->components.empty() ||
            contents->components[0].files.size() != material().entries ||
            !contents->components[0].problems.empty()) {
            state.SkipWithError("the package was not listed in full");
            return;
        }
    }
}

void listingByXzAndCpio(benchmark::State& state) {
    const std::string command = "xz -dc '" + material().xzFile + "' | cpio -t --quiet > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("xz or cpio failed");
            return;
        }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--mib=", 6) == 0)
            mib = std::size_t(std::max(1, std::atoi(argv[i] + 6)));
        if (std::strcmp(argv[i], "--keep") == 0) keep = true;
    }
    (void)material();
    benchmark::RegisterBenchmark("varko", listingByVarko)
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("xzCpio", listingByXzAndCpio)
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(3);
    varko::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double ours = 0, theirs = 0;
    for (const auto& [name, seconds] : reporter.seconds)
        (name.starts_with("varko") ? ours : theirs) = seconds;
    if (ours > 0 && theirs > 0)
        std::printf(
            "%zu MiB pbzx payload, %zu entries: Varko %.2f s, xz -dc | cpio -t %.2f s; "
            "ratio %.2f  (target <= 1.3)\n",
            mib, material().entries, ours, theirs, ours / theirs);
    benchmark::Shutdown();
    return 0;
}
