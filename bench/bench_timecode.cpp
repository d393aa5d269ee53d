// Timecode arithmetic, text and archiving speeds.

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "BenchTargets.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const EMTimecodeFramerate kDropFrame = EMTimecodeFramerate::framerateForIndex(5);
constexpr int64_t kDay = 24 * 107892;

void BM_framesFromZero(benchmark::State& state) {
    auto timecode = EMTimecode::timecodeWithFramerate(kDropFrame, 1, 23, 45, 12, 40);
    for (auto _ : state) {
        benchmark::DoNotOptimize(timecode->framesFromZero());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_framesFromZero);
TOLLVANE_BENCH_TARGET(BM_framesFromZero, "at most 50 ns per call");

void BM_setFramesFromZero(benchmark::State& state) {
    EMTimecode timecode;
    timecode.setFramerate(kDropFrame);
    int64_t count = 0;
    for (auto _ : state) {
        timecode.setFramesFromZero(count);
        count = count + 7919 < kDay ? count + 7919 : count + 7919 - kDay;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_setFramesFromZero);
TOLLVANE_BENCH_TARGET(BM_setFramesFromZero, "at most 50 ns per call");

void BM_secondsFromZero(benchmark::State& state) {
    auto timecode = EMTimecode::timecodeWithFramerate(kDropFrame, 1, 23, 45, 12, 40);
    for (auto _ : state) {
        benchmark::DoNotOptimize(timecode->secondsFromZero());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_secondsFromZero);
TOLLVANE_BENCH_TARGET(BM_secondsFromZero, "at most 50 ns per call");

void BM_setSecondsFromZero(benchmark::State& state) {
    EMTimecode timecode;
    timecode.setFramerate(kDropFrame);
    double seconds = 0.0;
    for (auto _ : state) {
        timecode.setSecondsFromZero(seconds);
        seconds = seconds < 86000.0 ? seconds + 263.17 : 0.0;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_setSecondsFromZero);
TOLLVANE_BENCH_TARGET(BM_setSecondsFromZero, "at most 50 ns per call");

void BM_setStringRepresentation(benchmark::State& state) {
    const std::array<const char*, 4> texts = {"01:23:45;12", "1:2:3:4:40", "01020304", "23:59:59;29/79"};
    EMTimecode timecode;
    timecode.setFramerate(kDropFrame);
    size_t i = 0;
    for (auto _ : state) {
        timecode.setStringRepresentation(texts[i++ & 3]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_setStringRepresentation);
TOLLVANE_BENCH_TARGET(BM_setStringRepresentation, "at most 50 ns per call");

void BM_stringRepresentation(benchmark::State& state) {
    auto timecode = EMTimecode::timecodeWithFramerate(kDropFrame, 1, 23, 45, 12, 40);
    for (auto _ : state) benchmark::DoNotOptimize(timecode->stringRepresentation());
}
BENCHMARK(BM_stringRepresentation);
TOLLVANE_BENCH_TARGET(BM_stringRepresentation, "at most 50 ns per call");

void BM_stringRepresentationWithBits(benchmark::State& state) {
    auto timecode = EMTimecode::timecodeWithFramerate(kDropFrame, 1, 23, 45, 12, 40);
    for (auto _ : state) benchmark::DoNotOptimize(timecode->stringRepresentationWithBits());
}
BENCHMARK(BM_stringRepresentationWithBits);
TOLLVANE_BENCH_TARGET(BM_stringRepresentationWithBits, "at most 50 ns per call");

void BM_stringRepresentationWithBitsAndFramerate(benchmark::State& state) {
    auto timecode = EMTimecode::timecodeWithFramerate(kDropFrame, 1, 23, 45, 12, 40);
    for (auto _ : state) benchmark::DoNotOptimize(timecode->stringRepresentationWithBitsAndFramerate());
}
BENCHMARK(BM_stringRepresentationWithBitsAndFramerate);
TOLLVANE_BENCH_TARGET(BM_stringRepresentationWithBitsAndFramerate, "at most 50 ns per call");

Value hundredThousandTimecodes() {
    EMTimecode::registerArchiveClass();
    Value array = Value::array();
    auto& items = array.arrayValue()->items;
    items.reserve(100000);
    for (int64_t i = 0; i < 100000; ++i) {
        auto timecode = std::make_shared<EMTimecode>();
        timecode->setFramerate(EMTimecodeFramerate::framerateForIndex(i % 8));
        timecode->setFramesFromZero(i * 37);
        timecode->setBits(static_cast<uint32_t>(i % 80));
        items.emplace_back(timecode);
    }
    return array;
}

void BM_archive100000Timecodes(benchmark::State& state) {
    const Value array = hundredThousandTimecodes();
    size_t bytes = 0;
    for (auto _ : state) {
        Data data = KeyedArchiver::archivedDataWithRootObject(array);
        bytes = data.size();
        benchmark::DoNotOptimize(data.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_archive100000Timecodes)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_archive100000Timecodes, "at most 300 ms");

void BM_unarchive100000Timecodes(benchmark::State& state) {
    const Data data = KeyedArchiver::archivedDataWithRootObject(hundredThousandTimecodes());
    for (auto _ : state) {
        Value decoded = KeyedUnarchiver::unarchivedObjectWithData(data);
        if (!decoded.isArray() || decoded.arrayValue()->items.size() != 100000 ||
            !decoded.arrayValue()->items.back().object<EMTimecode>()) {
            state.SkipWithError("the archive did not read back as 100,000 timecodes");
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_unarchive100000Timecodes)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_unarchive100000Timecodes, "at most 300 ms");

}  // namespace
}  // namespace tollvane
