// Compiling a cue into its sequence: cues of 1,000 and 10,000 events mixing
// streamers, punches, tempo changes (by beat and by bar), meter changes,
// click changes and count-offs, spread evenly over the cue. The second
// figure's ratio to the first shows how compilation grows with the cue
// (n log n would be about 13).

#include <benchmark/benchmark.h>

#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "BenchTargets.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventPunch.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/CueSequenceCompiler.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

// Two beats between events; every twentieth event a tempo change, a meter
// change, a click change in turn; every fortieth a count-off.
std::shared_ptr<Cue> preparedCue(int eventCount) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    auto cue = Cue::create();
    cue->setUpdatesSuspended(true);
    const auto red = Color::calibrated(1, 0, 0);
    const auto blue = Color::calibrated(0, 0, 1);
    for (int i = 0; i < eventCount; ++i) {
        const double timeStamp = 2.0 * i;
        const int32_t bar = i / 2 + 1;
        switch (i % 40) {
            case 5:
            case 25: {
                auto tempo =
                    CueEventTempoChange::tempoChangeEventWithCue(cue, 90.0 + (i % 7) * 10.0, 6, timeStamp);
                if (i % 40 == 25) {
                    tempo->setLockType(CueEvent::kLockTypeBar);
                    tempo->setLockBar(bar);
                }
                cue->tempoEvents().push_back(tempo);
                break;
            }
            case 12:
            case 32: {
                const TimeSignature meter{static_cast<uint16_t>(i % 80 == 12 ? 3 : 4), 4};
                cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(cue, meter, 6, bar));
                break;
            }
            case 18:
            case 38:
                cue->meterEvents().push_back(
                    CueEventClickChange::clickChangeWithCue(cue, i % 3 ? 6 : 8, timeStamp));
                break;
            case 30:
                cue->countoffEvents().push_back(CueEventCountoff::countoffEventWithCue(cue, timeStamp));
                break;
            default:
                if (i % 3 == 0) {
                    cue->trackEvents().push_back(
                        CueEventPunch::punchEventWithCue(cue, red, 3, 1.0f, timeStamp));
                } else {
                    cue->trackEvents().push_back(
                        CueEventStreamer::streamerEventWithCue(cue, blue, 3.0f, 1.0f, timeStamp));
                }
        }
    }
    // One compilation places the bar-locked events; then the meter list is
    // in the order a cue keeps it.
    CueSequenceCompiler(*cue, CueSequenceCompiler::Settings::current()).calculatedSequence();
    cue->sortMeterEvents();
    return cue;
}

// The ratio is taken on this thread's processor time: wall time on a busy
// machine says more about the machine than about the growth.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor seconds per compilation, by event count, for the ratio.
std::map<int, double>& secondsPerCompilation() {
    static std::map<int, double> table;
    return table;
}

void compileCue(benchmark::State& state, int eventCount) {
    // Edits ask for rebuilds on the run loop; without one they would rebuild
    // at once, once per event added.
    ManualRunLoop loop;
    RunLoop* previousLoop = RunLoop::setMain(&loop);
    size_t warnings = 0;
    const Log::Sink previous = Log::setSink([&warnings](const std::string&) { ++warnings; });
    const std::shared_ptr<Cue> cue = preparedCue(eventCount);
    const CueSequenceCompiler::Settings settings = CueSequenceCompiler::Settings::current();
    size_t events = 0;
    double total = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        auto sequence = CueSequenceCompiler(*cue, settings).calculatedSequence();
        total += threadSeconds() - start;
        benchmark::DoNotOptimize(sequence);
        events = sequence ? sequence->musicSequence()->tempoTrack().eventCount() : 0;
    }
    Log::setSink(previous);
    RunLoop::setMain(previousLoop);
    const double perCompilation = total / static_cast<double>(state.iterations());
    secondsPerCompilation()[eventCount] = perCompilation;
    state.counters["tempo_track_events"] = static_cast<double>(events);
    state.counters["log_lines"] = static_cast<double>(warnings);
    if (const auto smaller = secondsPerCompilation().find(eventCount / 10);
        smaller != secondsPerCompilation().end()) {
        state.counters["ratio_to_1000"] = perCompilation / smaller->second;
    }
}

void BM_compileCue1000(benchmark::State& state) {
    compileCue(state, 1000);
}
BENCHMARK(BM_compileCue1000)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_compileCue1000, "at most 3 ms per compilation of 1,000 events");

void BM_compileCue10000(benchmark::State& state) {
    compileCue(state, 10000);
}
BENCHMARK(BM_compileCue10000)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_compileCue10000,
                      "at most 40 ms per compilation of 10,000 events; ratio to 1,000 no worse than n log n");

}  // namespace
}  // namespace tollvane
