// Selecting a cue by the incoming timecode in a document of 1,000 cues, one
// a minute from 1:00:00:00, each ending 30 s after its sync point: the call
// the document makes for every timecode it receives.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "BenchTargets.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "platform/UserDefaults.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

constexpr int kCues = 1000;
constexpr size_t kTimecodes = 4096;

std::shared_ptr<EMTimecode> timecodeAt(double seconds) {
    auto timecode = EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "0");
    timecode->setSecondsFromZero(seconds);
    return timecode;
}

struct Fixture {
    std::shared_ptr<Document> document;
    // Anywhere from a minute before the first cue to a minute after the last.
    std::vector<std::shared_ptr<EMTimecode>> timecodes;
};

Fixture& thousandCues() {
    static Fixture fixture = [] {
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        Fixture f;
        f.document = Document::create();
        std::vector<std::shared_ptr<Cue>> cues;
        for (int i = 0; i < kCues; ++i) {
            const double sync = 3600.0 + 60.0 * i;
            auto cue = Cue::create();
            cue->setSyncTimecode(timecodeAt(sync));
            auto end = CueEventCueEnd::cueEndEventWithCue(cue);
            end->setLockType(CueEvent::kLockTypeTimecode);
            end->setLockTimecode(timecodeAt(sync + 30.0));
            cue->setCueEndEvent(end);
            cues.push_back(cue);
        }
        // Stored in an order other than by time, as cues added over a project are.
        std::shuffle(cues.begin(), cues.end(), std::mt19937(5));
        f.document->cueController().setContent(cues);

        std::mt19937 random(17);
        std::uniform_real_distribution<double> when(3540.0, 3600.0 + 60.0 * kCues + 60.0);
        for (size_t i = 0; i < kTimecodes; ++i) f.timecodes.push_back(timecodeAt(when(random)));
        return f;
    }();
    return fixture;
}

void BM_selectCueForTimecode(benchmark::State& state) {
    Fixture& f = thousandCues();
    CueArrayController& cues = f.document->cueController();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cues.selectCueForTimecode(*f.timecodes[i]));
        i = (i + 1) % kTimecodes;
    }
}
BENCHMARK(BM_selectCueForTimecode);
TOLLVANE_BENCH_TARGET(BM_selectCueForTimecode, "at most 50 us per call");

// Before every cue the walk visits all of them.
void BM_selectCueForTimecodeBeforeEveryCue(benchmark::State& state) {
    Fixture& f = thousandCues();
    CueArrayController& cues = f.document->cueController();
    const auto early = timecodeAt(3000.0);
    for (auto _ : state) benchmark::DoNotOptimize(cues.selectCueForTimecode(*early));
}
BENCHMARK(BM_selectCueForTimecodeBeforeEveryCue);
TOLLVANE_BENCH_TARGET(BM_selectCueForTimecodeBeforeEveryCue, "at most 50 us per call");

}  // namespace
}  // namespace tollvane
