// Finding every piece of code in a bundle and reading its identity, entitlements and privacy
// must cost no more than reading each file of the bundle once. Measured in one run on a
// generated app of 300 signed components (frameworks with privacy manifests, helpers, XPC
// services with entitlements and usage descriptions) against two ways of reading every
// file: an in-process walk that reads each regular file to its end, and the shell's
// `find BUNDLE -type f -exec cat {} + >/dev/null`. Target: readOverview / reading <= 1.
//
// Options after Google Benchmark's own: --code-kib=N sets each component's code (default
// 256 KiB), --keep prints the bundle's folder and leaves it in place.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "fixtures/componentbundle.h"
#include "overview/overview.h"
#include "ratioreporter.h"

namespace {

namespace fs = std::filesystem;
using namespace varko;

constexpr std::size_t componentCount = 300;
std::size_t codeKib = 256;
bool keep = false;

const fs::path& bundle() {
    static QTemporaryDir dir;
    static const fs::path app = [] {
        dir.setAutoRemove(!keep);
        const examplegen::TestPki pki;
        auto written = examplegen::writeComponentApp(
            fs::path(dir.path().toStdString()),
            examplegen::manyComponents(componentCount, codeKib * 1024), pki);
        if (!written) {
            std::fprintf(stderr, "bench_components: %s\n", written.error().message.c_str());
            std::exit(1);
        }
        if (keep) std::fprintf(stderr, "bundle: %s\n", written->c_str());
        return *written;
    }();
    return app;
}

/// Every regular file under `root`, links not followed, as `find -type f` lists them.
std::uint64_t readEveryFile(const fs::path& root) {
    std::vector<char> buffer(1 << 20);
    std::uint64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += n;
        ::close(fd);
    }
    return total;
}

void readingEveryFile(benchmark::State& state) {
    std::uint64_t bytes = 0;
    for (auto _ : state) bytes = readEveryFile(bundle());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void findExecCat(benchmark::State& state) {
    const std::string command =
        "find '" + bundle().string() + "' -type f -exec cat {} + >/dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("find or cat failed");
}

void readingTheOverview(benchmark::State& state) {
    const auto& app = bundle();
    overview::Overview last;
    for (auto _ : state) {
        last = overview::readOverview(app);
        benchmark::DoNotOptimize(last.services.data());
    }
    // The main executable and every component, each with what it declares: a third are
    // frameworks with manifests (the app has one too), a third XPC services with entitlements.
    std::size_t manifests = 0, entitled = 0;
    for (const auto& c : last.components) {
        manifests += c.identity.privacyManifest.has_value();
        entitled += !c.identity.entitlements.empty();
    }
    const std::size_t third = (componentCount + 2) / 3;
    if (last.components.size() != componentCount + 1 || manifests != third + 1 ||
        entitled != componentCount / 3)
        state.SkipWithError(("found " + std::to_string(last.components.size()) + " components, " +
                             std::to_string(manifests) + " manifests, " + std::to_string(entitled) +
                             " with entitlements")
                                .c_str());
    state.counters["components"] = static_cast<double>(last.components.size());
}

}  // namespace

BENCHMARK(readingEveryFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(findExecCat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(readingTheOverview)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--code-kib=", 11) == 0)
            codeKib = static_cast<std::size_t>(std::max(1, std::atoi(argv[i] + 11)));
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
    }
    // Written before any timing, and read once so that every run finds it in the cache.
    std::fprintf(stderr, "writing %zu components of %zu KiB code each…\n", componentCount, codeKib);
    readEveryFile(bundle());
    varko::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.seconds;
    const auto overviewTime = s.find("readingTheOverview/real_time");
    if (overviewTime != s.end()) {
        for (const char* baseline : {"readingEveryFile/real_time", "findExecCat/real_time"}) {
            if (const auto b = s.find(baseline); b != s.end() && b->second > 0)
                std::printf("readOverview / %-28s %6.2f  (target <= 1)\n", baseline,
                            overviewTime->second / b->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
