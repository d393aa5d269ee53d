// The transport bar's refresh, which runs 25 times a second on the main
// thread, and a cue-player start as the sync thread makes it (a fresh player
// each time, moved and started).

#include <benchmark/benchmark.h>

#include <memory>

#include "BenchTargets.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "playback/TransportViewController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

struct Controllers {
    Controllers() {
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        cues.setPlayerFactory([](Cue& cue) {
            auto player =
                std::make_unique<FFMusicPlayer>(HostClock::shared(), MusicPlayer::Delivery::stepped);
            player->setSequence(cue.sequence());
            return player;
        });
        sync.setSyncThreadEnabled(false);
        sync.setCueController(&cues);
        cue = Cue::create();
        cue->setSyncTimecode(
            EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 1, 0, 10, 0));
        cue->reallyUpdateSequence();
        cues.setSelectedCue(cue);
        sync.pauseAtTimecode(
            *EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 1, 0, 31, 7));
    }
    ~Controllers() { sync.setCueController(nullptr); }

    CueController cues{nullptr};
    SyncController sync;
    TransportController transport{cues, sync};
    TransportViewController view{transport};
    std::shared_ptr<Cue> cue;
};

void BM_TransportDisplayRefresh(benchmark::State& state) {
    Controllers controllers;
    for (auto _ : state) {
        controllers.view.updateCurrentTimeDisplays();
        benchmark::DoNotOptimize(controllers.view.barBeatText().data());
    }
}
BENCHMARK(BM_TransportDisplayRefresh);
TOLLVANE_BENCH_TARGET(BM_TransportDisplayRefresh, "at most 20 us per call (1/2000 of a 40 ms frame)");

void BM_CuePlayerStart(benchmark::State& state) {
    Controllers controllers;
    const auto at = EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 0, 59, 30, 0);
    for (auto _ : state) {
        std::lock_guard lock(controllers.cues.lock());
        controllers.cues.playFromTimecode(*at, HostClock::shared().now());
    }
    controllers.cues.stop();
}
BENCHMARK(BM_CuePlayerStart);
TOLLVANE_BENCH_TARGET(BM_CuePlayerStart, "at most 100 us per start (a sync pass is 50 ms)");

}  // namespace
}  // namespace tollvane
