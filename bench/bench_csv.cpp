// Splitting delimited text: an ADR list of 10,000 rows in six columns, some
// quoted with delimiters, doubled quotes and line ends inside; and importing
// it into a document's ADR/Foley list, including the hidden cue's rebuild
// (the run loop's pending work is drained, so a deferred rebuild counts too).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BenchTargets.h"
#include "document/ADRFoleyEventArrayController.h"
#include "document/CSVParser.h"
#include "document/Document.h"
#include "document/TextEncodingDetector.h"
#include "model/CueDefaults.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

std::string adrList(int rows) {
    std::string text = "cue,sync,character,text,tags,notes\n";
    char line[256];
    for (int i = 0; i < rows; ++i) {
        const int frames = i * 37;
        std::snprintf(line, sizeof line,
                      "%d,01:%02d:%02d:%02d,NARRATOR %d,\"Line %d, said \"\"softly\"\"\nand again\",\"dx, "
                      "walla\",take %d\n",
                      100 + i, frames / 1800 % 60, frames / 30 % 60, frames % 30, i % 7, i, i % 5);
        text += line;
    }
    return text;
}

void BM_csvRowsWithDelimiter(benchmark::State& state) {
    const std::string text = adrList(10000);
    for (auto _ : state) {
        auto rows = CSVParser::csvRowsWithDelimiter(text, ",");
        benchmark::DoNotOptimize(rows.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_csvRowsWithDelimiter)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_csvRowsWithDelimiter, "at most 20 ms");

void BM_detectEncodingAndSplit(benchmark::State& state) {
    const std::string text = adrList(10000);
    for (auto _ : state) {
        const auto decoded = TextEncodingDetector::stringFromBytes(text);
        auto rows = CSVParser::csvRowsWithDelimiter(decoded.text, ",");
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_detectEncodingAndSplit)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_detectEncodingAndSplit, "at most 20 ms");

void BM_importCSV(benchmark::State& state) {
    ManualRunLoop loop;
    RunLoop* previousLoop = RunLoop::setMain(&loop);
    Log::Sink previousSink = Log::setSink([](const std::string&) {});
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    const std::string text = adrList(10000);
    const std::vector<std::string> columns{"cuenumber", "sync", "(ignore)", "text", "tags", "(ignore)"};
    for (auto _ : state) {
        state.PauseTiming();
        auto document = Document::create();
        auto controller = std::make_unique<ADRFoleyEventArrayController>(*document);
        state.ResumeTiming();
        const auto added = controller->importRows(CSVParser::csvRowsWithDelimiter(text, ","), columns);
        loop.runPending();
        benchmark::DoNotOptimize(added.data());
        state.PauseTiming();
        controller.reset();
        document.reset();
        loop.runPending();
        state.ResumeTiming();
    }
    Log::setSink(previousSink);
    RunLoop::setMain(previousLoop);
}
BENCHMARK(BM_importCSV)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_importCSV, "at most 100 ms");

}  // namespace
}  // namespace tollvane
