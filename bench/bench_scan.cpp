// A scan of many apps must use every core: measured in one run on 300 generated apps, each
// signed by the test authority with three components (a framework with a privacy manifest,
// a helper, an XPC service with entitlements and a usage description), scanned with the
// real tools by one worker and by two. Target: throughput with two workers >= 1.7 times
// that with one.
//
// The machine may be shared: other work on it slows either run. --rounds=N runs the two in
// turn N times (1, 2, 1, 2, …) and compares the best of each; every run also says how many
// cores' worth of time it had (its own and its tools' processor time over the wall time).
// Beside them, starting as many tools as a scan does, from one thread and from two: how far
// process creation itself scales on this machine bounds what a scan can gain.
//
// Options after Google Benchmark's own: --apps=N sets how many apps (default 300),
// --rounds=N (default 1), --keep prints the folder and leaves it in place.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/componentbundle.h"
#include "ratioreporter.h"
#include "scan/scan.h"

namespace {

namespace fs = std::filesystem;
using namespace varko;

std::size_t appCount = 300;
int rounds = 1;
bool keep = false;

/// Processor time of this process (RUSAGE_SELF) or of the tools it has waited for
/// (RUSAGE_CHILDREN), in seconds.
double processorSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const QStringList& items() {
    static QTemporaryDir dir;
    static const QStringList found = [] {
        dir.setAutoRemove(!keep);
        const examplegen::TestPki pki;
        const fs::path root(dir.path().toStdString());
        for (std::size_t i = 0; i < appCount; ++i) {
            examplegen::ComponentApp app = examplegen::manyComponents(3, 16 * 1024);
            app.name = "App" + std::to_string(i);
            app.identifier = "com.example.varko.app" + std::to_string(i);
            const auto written = examplegen::writeComponentApp(root, app, pki);
            if (!written) {
                std::fprintf(stderr, "bench_scan: %s\n", written.error().message.c_str());
                std::exit(1);
            }
        }
        if (keep) std::fprintf(stderr, "apps: %s\n", dir.path().toUtf8().constData());
        return scan::findItems({dir.path()}).items;
    }();
    return found;
}

void scanning(benchmark::State& state, unsigned workers) {
    const host::ToolSet tools = host::ToolSet::system(QStringLiteral(VARKO_BIN_DIR));
    std::atomic<std::size_t> unreadable{0}, answered{0};
    const double selfBefore = processorSeconds(RUSAGE_SELF);
    const double toolsBefore = processorSeconds(RUSAGE_CHILDREN);
    const auto wallBefore = std::chrono::steady_clock::now();
    for (auto _ : state) {
        scan::scanItems(items(), tools, {std::make_shared<CountedThreads>(workers - 1), {}},
                        workers, [&](std::size_t, scan::ItemSummary s) {
                            ++answered;
                            if (s.unreadable || s.toolFailed || s.services.empty()) ++unreadable;
                        });
    }
    if (unreadable != 0 || answered != state.iterations() * std::size_t(items().size()))
        state.SkipWithError((std::to_string(unreadable) + " of " + std::to_string(answered) +
                             " apps were not read in full")
                                .c_str());
    state.SetItemsProcessed(static_cast<std::int64_t>(answered.load()));
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
    const double self = processorSeconds(RUSAGE_SELF) - selfBefore;
    const double toolTime = processorSeconds(RUSAGE_CHILDREN) - toolsBefore;
    state.counters["cores"] = (self + toolTime) / wall.count();
    state.counters["ownCpu"] = self;
    state.counters["toolCpu"] = toolTime;
}

/// The machine's own ceiling: a scan is mostly starting tools, so starting one (its
/// `--version`, which does nothing else) as often as a scan of every app does, from one
/// thread and from two, tells how far process creation itself scales here.
void startingTools(benchmark::State& state, unsigned threads) {
    const QByteArray program = VARKO_BIN_DIR "/varko-codesign";
    const std::size_t runs = 7 * appCount;  // spctl, codesign twice, one verify per component
    std::atomic<std::size_t> failed{0};
    for (auto _ : state) {
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            while (next.fetch_add(1) < runs) {
                char* const argv[] = {const_cast<char*>("varko-codesign"),
                                      const_cast<char*>("--version"), nullptr};
                posix_spawn_file_actions_t actions;
                posix_spawn_file_actions_init(&actions);
                posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
                pid_t pid = -1;
                int status = 0;
                if (::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) !=
                        0 ||
                    ::waitpid(pid, &status, 0) != pid || status != 0)
                    ++failed;
                posix_spawn_file_actions_destroy(&actions);
            }
        };
        std::vector<std::thread> helpers;
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
        work();
        for (std::thread& t : helpers) t.join();
    }
    if (failed != 0) state.SkipWithError("a tool could not be started");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--apps=", 7) == 0)
            appCount = static_cast<std::size_t>(std::max(1, std::atoi(argv[i] + 7)));
        else if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
    }
    // Written before any timing.
    std::fprintf(stderr, "writing %zu signed apps of 3 components each…\n", appCount);
    if (std::size_t(items().size()) != appCount) {
        std::fprintf(stderr, "bench_scan: found %lld apps\n",
                     static_cast<long long>(items().size()));
        return 1;
    }
    // Each run inspects every app with its tools, seconds of work: one iteration is a measure.
    for (int round = 1; round <= rounds; ++round)
        for (const unsigned workers : {1U, 2U})
            benchmark::RegisterBenchmark(
                ("scanning/workers:" + std::to_string(workers) + "/round:" + std::to_string(round))
                    .c_str(),
                scanning, workers)
                ->Iterations(1)
                ->Unit(benchmark::kSecond)
                ->UseRealTime();
    for (const unsigned threads : {1U, 2U})
        benchmark::RegisterBenchmark(("startingTools/threads:" + std::to_string(threads)).c_str(),
                                     startingTools, threads)
            ->Iterations(1)
            ->Unit(benchmark::kSecond)
            ->UseRealTime();
    varko::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // The best of each: what other work on the machine took away is least there.
    double one = 0, two = 0;
    for (const auto& [name, seconds] : reporter.seconds) {
        if (!name.starts_with("scanning/")) continue;
        double& best = name.starts_with("scanning/workers:1/") ? one : two;
        if (best == 0 || seconds < best) best = seconds;
    }
    const auto started = [&](const char* threads) {
        for (const auto& [name, seconds] : reporter.seconds)
            if (name.starts_with(std::string("startingTools/threads:") + threads + "/"))
                return seconds;
        return 0.0;
    };
    if (started("1") > 0 && started("2") > 0)
        std::printf(
            "starting %zu tools: %.2f s from 1 thread, %.2f s from 2; ratio %.2f  "
            "(the machine's ceiling)\n",
            7 * appCount, started("1"), started("2"), started("1") / started("2"));
    if (one > 0 && two > 0)
        std::printf(
            "%zu apps: %.2f s with 1 worker, %.2f s with 2; throughput ratio %.2f  "
            "(target >= 1.7)\n",
            appCount, one, two, one / two);
    benchmark::Shutdown();
    return 0;
}
