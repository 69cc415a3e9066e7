// Building the record of a bundle must not depend on the size of its executable:
// the entitlement reader touches only the headers and the signature.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "fixtures/bundlewriter.h"
#include "fixtures/exampleapp.h"
#include "fixtures/machowriter.h"
#include "inspection/info.h"

namespace {

using namespace varko;

/// One bundle per executable size, made once per run, with the example's Info.plist
/// and entitlements.
QString bundleWithExecutable(std::uint64_t size) {
    static QTemporaryDir dir;
    const QString app = dir.filePath(QStringLiteral("Size%1.app").arg(size));
    if (QDir(app).exists()) return app;
    const std::vector<std::byte> none;
    const auto exe =
        examplegen::writeBundle(app.toStdString(), examplegen::exampleInfoPlist(), "Example", none);
    examplegen::MachOOptions options;
    options.signature->entitlements = examplegen::exampleEntitlements();
    if (!exe || !examplegen::writeSparseMachO(*exe, size, options)) {
        std::fprintf(stderr, "cannot make the bundle of %llu bytes\n",
                     static_cast<unsigned long long>(size));
        std::exit(1);
    }
    return app;
}

void buildInfo(benchmark::State& state) {
    const QUrl url =
        QUrl::fromLocalFile(bundleWithExecutable(static_cast<std::uint64_t>(state.range(0))));
    // The stand-in codesign beside this program, as Varko itself runs it.
    const host::ToolSet tools = host::ToolSet::system();
    for (auto _ : state) {
        const Info info(url, true, tools);
        if (!info.pubMike) state.SkipWithError("entitlements were not read");
        benchmark::DoNotOptimize(info.entitleList);
    }
}

}  // namespace

// 100 KB is the baseline; the 200 MB case should cost about the same.
BENCHMARK(buildInfo)
    ->Arg(100 * 1000)
    ->Arg(200 * 1000 * 1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
