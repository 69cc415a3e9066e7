// Parse throughput of 1 MB property lists, against baselines in the same run:
// pugixml alone over the XML (what our reader adds on top of it) and one pass
// over the binary file's bytes (the memory bandwidth floor).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <pugixml.hpp>
#include <string>

#include "format/plist/plist.h"
#include "format/plist_bplist_builder.h"

namespace {

using varko::plist::testing::BplistBuilder;

constexpr std::size_t targetSize = 1 << 20;

/// An array of small records, as preference and receipt files hold them.
std::string xmlDocument() {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
        "1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<array>\n";
    for (int i = 0; xml.size() < targetSize; ++i) {
        xml += "\t<dict>\n\t\t<key>name</key>\n\t\t<string>Entry number " + std::to_string(i) +
               " &amp; friends</string>\n\t\t<key>count</key>\n\t\t<integer>" +
               std::to_string(i * 37) + "</integer>\n\t\t<key>ratio</key>\n\t\t<real>0." +
               std::to_string(i) +
               "</real>\n\t\t<key>enabled</key>\n\t\t<true/>\n\t\t<key>blob</"
               "key>\n\t\t<data>AAECAwQFBgc=</data>\n"
               "\t\t<key>when</key>\n\t\t<date>2024-05-06T07:08:09Z</date>\n\t</dict>\n";
    }
    return xml + "</array>\n</plist>\n";
}

BplistBuilder::Bytes binaryDocument() {
    BplistBuilder b;
    b.refSize = 4;
    b.offsetSize = 4;
    const auto name = b.ascii("name"), count = b.ascii("count"), enabled = b.ascii("enabled"),
               blob = b.ascii("blob");
    const auto yes = b.add({0x09});
    std::vector<std::uint64_t> records;
    std::size_t bytes = 0;
    for (int i = 0; bytes < targetSize; ++i) {
        const std::string text = "Entry number " + std::to_string(i) + " & friends";
        const auto value = b.ascii(text);
        const auto n = b.integer(static_cast<std::uint64_t>(i) * 37);
        const auto d = b.data({0, 1, 2, 3, 4, 5, 6, 7});
        records.push_back(b.dict({name, count, enabled, blob}, {value, n, yes, d}));
        bytes += text.size() + 1 + 9 + 9 + 1 + 8 * 4 + 5 * 4;
    }
    b.top = b.array(records);
    return b.build();
}

std::span<const std::byte> asBytes(const auto& container) {
    return std::as_bytes(std::span(container.data(), container.size()));
}

void xmlPlist(benchmark::State& state) {
    const std::string xml = xmlDocument();
    for (auto _ : state) {
        auto value = varko::plist::parse(asBytes(xml));
        if (!value) state.SkipWithError(value.error().message.c_str());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void xmlBaselinePugixml(benchmark::State& state) {
    const std::string xml = xmlDocument();
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_buffer(xml.data(), xml.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void binaryPlist(benchmark::State& state) {
    const auto file = binaryDocument();
    for (auto _ : state) {
        auto value = varko::plist::parse(asBytes(file));
        if (!value) state.SkipWithError(value.error().message.c_str());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["fileBytes"] = static_cast<double>(file.size());
}

void binaryBaselineOnePass(benchmark::State& state) {
    const auto file = binaryDocument();
    for (auto _ : state)
        benchmark::DoNotOptimize(std::accumulate(file.begin(), file.end(), std::uint64_t{0}));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

}  // namespace

BENCHMARK(xmlPlist)->Unit(benchmark::kMillisecond);
BENCHMARK(xmlBaselinePugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(binaryPlist)->Unit(benchmark::kMillisecond);
BENCHMARK(binaryBaselineOnePass)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
