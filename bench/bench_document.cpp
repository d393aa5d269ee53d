// Opening and saving a document of 1,000 cues of 50 events each (streamers,
// punches, tempo, meter and click changes, a count-off, a cue end with
// auto-follow), as a session's file would hold them. Opening includes
// compiling every cue; the run loop's pending work is drained so that a
// rebuild deferred to the loop is counted too.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "BenchTargets.h"
#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventPunch.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

constexpr int kCues = 1000;
constexpr int kEventsPerCue = 50;

std::shared_ptr<Cue> sessionCue(int index) {
    auto cue = Cue::create();
    cue->setUpdatesSuspended(true);
    cue->setTitle(std::to_string(index / 10 + 1) + "M" + std::to_string(index % 10 + 1) + " Cue");
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 1 + index / 60,
                                                           index % 60, 0, 0));
    const auto red = Color::calibrated(1, 0, 0);
    const auto blue = Color::calibrated(0, 0, 1);
    cue->tempoEvents().push_back(CueEventTempoChange::tempoChangeEventWithCue(cue, 120.0, 6, 0.0));
    cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{4, 4}, 6, 1));
    cue->countoffEvents().push_back(CueEventCountoff::countoffEventWithCue(cue, 0.0));
    for (int i = 3; i < kEventsPerCue - 1; ++i) {
        const double timeStamp = 2.0 * i;
        switch (i % 12) {
            case 4:
                cue->tempoEvents().push_back(
                    CueEventTempoChange::tempoChangeEventWithCue(cue, 96.0 + i % 5, 6, timeStamp));
                break;
            case 8:
                cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(
                    cue, TimeSignature{static_cast<uint16_t>(i % 24 == 8 ? 3 : 4), 4}, 6, i / 2 + 1));
                break;
            case 10:
                cue->meterEvents().push_back(CueEventClickChange::clickChangeWithCue(cue, 8, timeStamp));
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
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockPrerollShiftedBeats(128.0 + 2.0 * kEventsPerCue);
    end->setAutoFollow(index % 2 == 0);
    end->setAutoFollowCueNumber(std::to_string(index + 2));
    cue->setCueEndEvent(end);
    cue->setUpdatesSuspended(false);
    // Compiled, so that the file holds every event's derived bar and timecode
    // as a saved session does.
    cue->reallyUpdateSequence();
    return cue;
}

// The file, made once.
const Data& sessionFile() {
    static const Data data = [] {
        auto document = Document::create();
        for (int r = 0; r < 10; ++r) {
            auto reel = Reel::create();
            reel->setTitle("Reel " + std::to_string(r + 1));
            reel->setStartTimecode(
                EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), r + 1, 0, 0, 0));
            document->reelController().addObject(reel);
        }
        std::vector<std::shared_ptr<Cue>> cues;
        for (int i = 0; i < kCues; ++i) cues.push_back(sessionCue(i));
        document->cueController().setContent(cues);
        std::string error;
        return document->dataOfType(&error);
    }();
    return data;
}

class Environment {
public:
    Environment() {
        previousLoop_ = RunLoop::setMain(&loop_);
        previousSink_ = Log::setSink([](const std::string&) {});
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    }
    ~Environment() {
        loop_.runPending();
        Log::setSink(previousSink_);
        RunLoop::setMain(previousLoop_);
    }
    // Whatever the loop holds for the cues (a deferred rebuild) runs now.
    void drain() { loop_.advance(Cue::kUpdateDelay * 2); }

private:
    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    Log::Sink previousSink_;
};

void BM_openDocument(benchmark::State& state) {
    Environment environment;
    const Data& data = sessionFile();
    size_t compiled = 0;
    for (auto _ : state) {
        std::string error;
        auto document = Document::documentWithData(data, &error);
        environment.drain();
        compiled = 0;
        for (const auto& cue : document->cueController().content()) compiled += cue->sequence() != nullptr;
        state.PauseTiming();
        document.reset();
        environment.drain();
        state.ResumeTiming();
    }
    state.counters["compiledCues"] = static_cast<double>(compiled);
    state.counters["bytes"] = static_cast<double>(data.size());
}
BENCHMARK(BM_openDocument)->Unit(benchmark::kMillisecond)->MinTime(2.0);
TOLLVANE_BENCH_TARGET(BM_openDocument, "at most 300 ms (1,000 cues of 50 events, every cue compiled)");

void BM_saveDocument(benchmark::State& state) {
    Environment environment;
    std::string error;
    auto document = Document::documentWithData(sessionFile(), &error);
    environment.drain();
    size_t bytes = 0;
    for (auto _ : state) {
        const Data data = document->dataOfType(&error);
        bytes = data.size();
        benchmark::DoNotOptimize(data.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_saveDocument)->Unit(benchmark::kMillisecond)->MinTime(2.0);
TOLLVANE_BENCH_TARGET(BM_saveDocument, "at most 200 ms (1,000 cues of 50 events)");

}  // namespace
}  // namespace tollvane
