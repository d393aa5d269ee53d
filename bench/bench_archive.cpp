// Keyed archive speeds on a document-sized graph: a root dictionary with a
// thousand cue-like records (strings, numbers, a colour, an object of an
// unknown class), as a document open and save handle them.

#include <benchmark/benchmark.h>

#include <string>

#include "BenchTargets.h"
#include "platform/archive/Color.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

constexpr int kCues = 1000;

Value documentGraph() {
    auto cues = Value::array();
    for (int i = 0; i < kCues; ++i) {
        Value cue = Value::dictionary();
        auto& d = *cue.dictionaryValue();
        d.set("title", "Cue " + std::to_string(i));
        d.set("cueNumber", std::to_string(i / 10) + "M" + std::to_string(i % 10));
        d.set("bpm", 96.0 + i % 40);
        d.set("enabled", i % 3 != 0);
        d.set("streamerColor", Value(Color::calibrated(i % 7 / 7.0, 0.5, 1.0)));
        d.set("timecode", Value(std::make_shared<GenericArchiveObject>(
                              "EMTimecode", std::vector<std::string>{"EMTimecode", "NSObject"},
                              ArchiveFields{{"EMTimecodeHH", ArchiveField::inlineValue(1)},
                                            {"EMTimecodeMM", ArchiveField::inlineValue(i % 60)},
                                            {"EMTimecodeFramerate.fps", ArchiveField::inlineValue(30)}})));
        cues.arrayValue()->items.push_back(cue);
    }
    Value root = Value::dictionary();
    root.dictionaryValue()->set("minVersion", "218");
    root.dictionaryValue()->set("cues", cues);
    return root;
}

void BM_archiveDocument(benchmark::State& state) {
    const Value graph = documentGraph();
    size_t bytes = 0;
    for (auto _ : state) {
        Data data = KeyedArchiver::archivedDataWithRootObject(graph);
        bytes = data.size();
        benchmark::DoNotOptimize(data.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_archiveDocument)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_archiveDocument, "at most 25 ms per 1000-cue document");

void BM_unarchiveDocument(benchmark::State& state) {
    const Data data = KeyedArchiver::archivedDataWithRootObject(documentGraph());
    for (auto _ : state) {
        Value root = KeyedUnarchiver::unarchivedObjectWithData(data);
        benchmark::DoNotOptimize(root.isDictionary());
    }
    state.counters["bytes"] = static_cast<double>(data.size());
}
BENCHMARK(BM_unarchiveDocument)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_unarchiveDocument, "at most 25 ms per 1000-cue document");

void BM_colorFromArchivedData(benchmark::State& state) {
    const Data data = Color::calibrated(0.2, 0.4, 0.6, 0.8)->archivedData();
    for (auto _ : state) benchmark::DoNotOptimize(Color::fromArchivedData(data));
}
BENCHMARK(BM_colorFromArchivedData);
TOLLVANE_BENCH_TARGET(BM_colorFromArchivedData, "at most 20 us per colour");

}  // namespace
}  // namespace tollvane
