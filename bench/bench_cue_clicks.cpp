// Click decisions of a cue built through the Cue API and compiled: 100 tempo
// changes and 100 meter changes (some with their own click) spread over one
// hour, with a cue end at the hour.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "BenchTargets.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventTempoChange.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"
#include "timebase/NoteDuration.h"

namespace tollvane {
namespace {

constexpr size_t kPoints = 4096;
constexpr double kCueSeconds = 3600.0;

struct Fixture {
    std::shared_ptr<Cue> cue;
    double end = 0.0;
    std::vector<double> positions;
};

const Fixture& oneHourCue() {
    static const Fixture fixture = [] {
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        Fixture f;
        f.cue = Cue::create();
        std::mt19937 random(11);
        std::uniform_real_distribution<double> bpm(60.0, 180.0);
        std::uniform_int_distribution<int> bars(2, 20), pick(0, 5);
        const TimeSignature meters[] = {{4, 4}, {3, 4}, {7, 8}, {6, 8}, {5, 4}, {2, 4}};
        const int32_t clicks[] = {NoteDuration::kNoChange, 6, 8, NoteDuration::kNoChange, 6, 4};

        // About 7,000 beats at an average of 120 bpm; a tempo change every 70
        // beats and a meter change every 11 bars or so.
        for (int i = 0; i < 100; ++i) {
            f.cue->tempoEvents().push_back(
                CueEventTempoChange::tempoChangeEventWithCue(f.cue, bpm(random), 6, 70.0 * i));
        }
        int32_t bar = 1;
        for (int i = 0; i < 100; ++i) {
            bar += bars(random);
            f.cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(
                f.cue, meters[pick(random)], clicks[pick(random)], bar));
        }
        f.cue->reallyUpdateSequence();

        const auto sequence = f.cue->sequence();
        f.end = sequence->beatsForSeconds(sequence->secondsForBeats(Cue::kPrerollBeats) + kCueSeconds);
        auto cueEnd = CueEventCueEnd::cueEndEventWithCue(f.cue);
        cueEnd->setLockPrerollShiftedBeats(f.end);
        f.cue->setCueEndEvent(cueEnd);
        f.cue->reallyUpdateSequence();

        std::uniform_real_distribution<double> where(0.0, f.end);
        f.positions.resize(kPoints);
        for (double& position : f.positions) position = where(random);
        return f;
    }();
    return fixture;
}

void BM_nextClickTime(benchmark::State& state) {
    const Fixture& f = oneHourCue();
    size_t i = 0;
    bool sounds = true;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.cue->nextClickTimeAfterPrerollShiftedBeats(f.positions[i], &sounds));
        i = (i + 1) % kPoints;
    }
    // What the compiled map holds: the pre-roll's own tempo and meter too.
    const auto map = f.cue->sequence()->musicSequence()->tempoMap();
    state.counters["tempos"] = static_cast<double>(map->tempoSegments().size());
    state.counters["meters"] = static_cast<double>(map->meterSegments().size());
}
BENCHMARK(BM_nextClickTime);
TOLLVANE_BENCH_TARGET(BM_nextClickTime, "at most 2 us per call");

// The same question asked of the published map directly, without the cue's
// pointer copy and settings around it.
void BM_nextClickTimeOnTheMap(benchmark::State& state) {
    const Fixture& f = oneHourCue();
    const auto map = f.cue->timingMap();
    const CueTimingMap::ClickContext context = f.cue->clickContext();
    size_t i = 0;
    bool sounds = true;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            map->nextClickTimeAfterPrerollShiftedBeats(f.positions[i], context, &sounds));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_nextClickTimeOnTheMap);

void BM_nextVisualClickTime(benchmark::State& state) {
    const Fixture& f = oneHourCue();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.cue->nextVisualClickTimeAfterPrerollShiftedBeats(f.positions[i]));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_nextVisualClickTime);
TOLLVANE_BENCH_TARGET(BM_nextVisualClickTime, "at most 2 us per call");

// Every click from the start to the cue end, as the click-track export asks.
void BM_walkOneHourCue(benchmark::State& state) {
    const Fixture& f = oneHourCue();
    size_t clicks = 0;
    for (auto _ : state) {
        clicks = 0;
        bool sounds = true;
        double position = 0.0;
        for (;;) {
            const double next = f.cue->nextClickTimeAfterPrerollShiftedBeats(position, &sounds);
            if (next <= 0.0 || next < position) break;
            ++clicks;
            position = next + 0.01;
        }
        benchmark::DoNotOptimize(clicks);
    }
    state.counters["clicks"] = static_cast<double>(clicks);
}
BENCHMARK(BM_walkOneHourCue)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_walkOneHourCue, "at most 50 ms per walk");

}  // namespace
}  // namespace tollvane
