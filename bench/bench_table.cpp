// The Applications table with 5,000 items: filling it through its sorted view, against
// filtering it by a service and sorting it by another column, measured in the same run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdio>
#include <map>
#include <random>

#include "ratioreporter.h"
#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"

namespace {

using namespace varko;

constexpr int itemCount = 5000;
// As many as the window delivers at once when a fast scan answers within one tick.
constexpr int batchSize = 100;

const std::vector<scan::ItemSummary>& generated() {
    static const std::vector<scan::ItemSummary> items = [] {
        std::mt19937 random(15);
        const ApplicationsModel columns;
        const std::vector<ServiceName>& services = columns.services();
        const QStringList signers = {"Developer ID Application: Maker %1 (T%1)",
                                     "Apple Mac OS Application Signing", "Software Signing",
                                     "ad hoc", "unsigned"};
        const QStringList verdicts = {"accepted", "rejected", "unknown"};
        std::vector<scan::ItemSummary> out;
        for (int i = 0; i < itemCount; ++i) {
            scan::ItemSummary item;
            const QString word = QString::number(random(), 36);
            item.name = word + QStringLiteral(".app");
            item.path = QStringLiteral("/Applications/") + item.name;
            item.identifier = QStringLiteral("com.maker%1.%2").arg(random() % 500).arg(word);
            item.version = QStringLiteral("%1.%2.%3")
                               .arg(random() % 20)
                               .arg(random() % 30)
                               .arg(random() % 200);
            item.signer = signers[int(random() % signers.size())].arg(random() % 500);
            item.teamIdentifier = item.signer.startsWith("Developer") ? "T" + word.left(9) : "";
            item.verdict = verdicts[int(random() % verdicts.size())];
            item.hardenedRuntime = random() % 2 ? "yes" : "no";
            // About one service in six, each way of asking for it about as likely.
            for (const ServiceName& service : services)
                if (random() % 6 == 0)
                    item.services.push_back(
                        {service.key,
                         service.title,
                         {random() % 2 == 0, random() % 3 == 0, random() % 5 == 0}});
            out.push_back(std::move(item));
        }
        return out;
    }();
    return items;
}

/// The model behind a view sorted by name, as the window starts, filled as a scan fills it.
void fill(ApplicationsModel& model) {
    const std::vector<scan::ItemSummary>& items = generated();
    for (std::size_t i = 0; i < items.size(); i += batchSize)
        model.appendItems(
            {items.begin() + i, items.begin() + std::min(items.size(), i + batchSize)});
}

void fillingTheTable(benchmark::State& state) {
    generated();
    for (auto _ : state) {
        ApplicationsModel model;
        ApplicationsFilter shown;
        shown.setSourceModel(&model);
        shown.sort(ApplicationsModel::name);
        fill(model);
        benchmark::DoNotOptimize(shown.rowCount());
    }
    state.counters["rows"] = itemCount;
}

void filteringAndSorting(benchmark::State& state) {
    ApplicationsModel model;
    ApplicationsFilter shown;
    shown.setSourceModel(&model);
    shown.sort(ApplicationsModel::name);
    fill(model);
    state.counters["columns"] = model.columnCount();
    // Each round asks something new, so that nothing is left sorted or filtered from before.
    const std::vector<ServiceName>& services = model.services();
    const int columns[] = {ApplicationsModel::version, ApplicationsModel::signer,
                           ApplicationsModel::identifier, ApplicationsModel::servicesUsed,
                           ApplicationsModel::name};
    std::size_t round = 0;
    int shownRows = 0;
    for (auto _ : state) {
        shown.setService(services[round % services.size()].key);
        shown.sort(columns[round % std::size(columns)],
                   round % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        shownRows = shown.rowCount();
        benchmark::DoNotOptimize(shown.index(0, 0));
        ++round;
    }
    state.counters["shown"] = shownRows;
}

/// The worst case of a sort: every row shown, each round by another column.
void sortingEveryRow(benchmark::State& state) {
    ApplicationsModel model;
    ApplicationsFilter shown;
    shown.setSourceModel(&model);
    shown.sort(ApplicationsModel::name);
    fill(model);
    const int columns[] = {ApplicationsModel::version, ApplicationsModel::signer,
                           ApplicationsModel::identifier, ApplicationsModel::servicesUsed,
                           ApplicationsModel::name};
    std::size_t round = 0;
    for (auto _ : state) {
        shown.sort(columns[round % std::size(columns)],
                   round % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        benchmark::DoNotOptimize(shown.index(0, 0));
        ++round;
    }
    state.counters["shown"] = shown.rowCount();
}

}  // namespace

BENCHMARK(fillingTheTable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(filteringAndSorting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sortingEveryRow)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    varko::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.seconds;
    const auto fillTime = s.find("fillingTheTable/real_time");
    const auto filterTime = s.find("filteringAndSorting/real_time");
    if (fillTime != s.end() && filterTime != s.end() && fillTime->second > 0)
        std::printf(
            "filter by a service + sort: %.2f ms (target < 50 ms); filling: %.2f ms; "
            "ratio %.3f\n",
            filterTime->second * 1000, fillTime->second * 1000,
            filterTime->second / fillTime->second);
    if (const auto sortTime = s.find("sortingEveryRow/real_time"); sortTime != s.end())
        std::printf("sort of all %d rows: %.2f ms\n", itemCount, sortTime->second * 1000);
    benchmark::Shutdown();
    return 0;
}
