// A scan of apps that hold no code (empty bundles, bundles whose main executable is gone),
// against what such a scan cost when each app still started its three signature tool runs
// (spctl, codesign twice): those runs, started for every app in the same run, by two
// workers each time. Target: the scan at least 10 times faster than the runs alone.
//
// Options after Google Benchmark's own: --apps=N (default 1000).
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "ratioreporter.h"
#include "report/signaturechecks.h"
#include "scan/scan.h"

namespace {

using namespace varko;

std::size_t appCount = 1000;

const QStringList& items() {
    static QTemporaryDir dir;
    static const QStringList found = [] {
        for (std::size_t i = 0; i < appCount; ++i)
            QDir().mkpath(dir.filePath(QStringLiteral("App%1.app").arg(i) +
                                       (i % 2 ? "/Contents/MacOS" : "")));
        return scan::findItems({dir.path()}).items;
    }();
    return found;
}

const host::ToolSet& tools() {
    static const host::ToolSet set = host::ToolSet::system(QStringLiteral(VARKO_BIN_DIR));
    return set;
}

void scanning(benchmark::State& state) {
    std::atomic<std::size_t> told{0};
    for (auto _ : state)
        scan::scanItems(items(), tools(), {}, 2, [&](std::size_t, scan::ItemSummary s) {
            if (s.problem.startsWith(QLatin1String("it holds no code"))) ++told;
        });
    if (told != state.iterations() * std::size_t(items().size()))
        state.SkipWithError("an app was not told as one without code");
}

/// The runs each app started before: the entitlements, the assessment and the signature.
void startingTheTools(benchmark::State& state) {
    for (auto _ : state) {
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < std::size_t(items().size());) {
                const QString& path = items()[qsizetype(i)];
                (void)tools().run(host::codesignPath, {"--display", "--entitlements", ":-", path},
                                  host::Capture::Both);
                (void)runSignatureTools(tools(), true, path);
            }
        };
        std::thread helper(work);
        work();
        helper.join();
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--apps=", 7) == 0)
            appCount = static_cast<std::size_t>(std::max(1, std::atoi(argv[i] + 7)));
    (void)items();
    for (const auto& [name, run] :
         {std::pair{"scanning", &scanning}, std::pair{"startingTheTools", &startingTheTools}})
        benchmark::RegisterBenchmark(name, run)
            ->Iterations(1)
            ->Unit(benchmark::kSecond)
            ->UseRealTime();
    varko::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Named with their settings ("scanning/iterations:1/real_time").
    double scan = 0, runs = 0;
    for (const auto& [name, seconds] : reporter.seconds)
        (name.starts_with("scanning/") ? scan : runs) = seconds;
    if (scan > 0 && runs > 0)
        std::printf(
            "%zu apps without code: scan %.2f s, their tool runs alone %.2f s; ratio %.1f  "
            "(target >= 10)\n",
            appCount, scan, runs, runs / scan);
    benchmark::Shutdown();
    return 0;
}
