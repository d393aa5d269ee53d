// The sync controller: one pass of the sync thread over a playing cue of
// 1,000 events, and the readers a display thread calls on every refresh,
// alone and while another thread keeps starting and stopping runs.

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "BenchTargets.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/ManualHostClock.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/FFMusicSequence.h"
#include "playback/SyncController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;

std::shared_ptr<EMTimecode> at25(int32_t hh, int32_t mm, int32_t ss) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), hh, mm, ss, 0);
}

// A cue synced at 1:00:00:00 with 100 tempo changes, 100 meter changes, 50
// click changes with punches and 750 streamers over about half an hour, and a
// cue end; played by a cue player on stepped players on a hand-moved clock.
struct Session {
    ManualHostClock clock{1000 * kSecond};
    std::shared_ptr<Cue> cue;
    std::unique_ptr<CueController> cues;
    std::unique_ptr<SyncController> sync;

    Session() {
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        cue = Cue::create();
        cue->setSyncTimecode(at25(1, 0, 0));
        std::mt19937 random(17);
        std::uniform_real_distribution<double> bpm(80.0, 160.0);
        std::uniform_int_distribution<int> bars(2, 12), pick(0, 3);
        const TimeSignature meters[] = {{4, 4}, {3, 4}, {6, 8}, {5, 4}};
        for (int i = 0; i < 100; ++i)
            cue->tempoEvents().push_back(
                CueEventTempoChange::tempoChangeEventWithCue(cue, bpm(random), 6, 36.0 * i));
        int32_t bar = 1;
        for (int i = 0; i < 100; ++i) {
            bar += bars(random);
            cue->meterEvents().push_back(
                CueEventMeterChange::meterChangeWithCue(cue, meters[pick(random)], 6, bar));
        }
        for (int i = 0; i < 50; ++i) {
            auto change = CueEventClickChange::clickChangeEventWithCue(cue, 72.0 * i);
            change->setChangePunches(true);
            change->setBarPunchEnabled(true);
            change->setBarPunchHoles(3);
            cue->meterEvents().push_back(change);
        }
        for (int i = 0; i < 750; ++i) {
            cue->trackEvents().push_back(
                CueEventStreamer::streamerEventWithCue(cue, Color::calibrated(0, 1, 0), 3.0f, 1.0f, 4.8 * i));
        }
        cue->reallyUpdateSequence();
        auto end = CueEventCueEnd::cueEndEventWithCue(cue);
        end->setLockPrerollShiftedBeats(128.0 + 3600.0);
        cue->setCueEndEvent(end);
        cue->reallyUpdateSequence();

        cues = std::make_unique<CueController>(nullptr, clock);
        cues->setPlayerFactory([this](Cue& selected) {
            auto player = std::make_unique<FFMusicPlayer>(clock, MusicPlayer::Delivery::stepped);
            player->setSequence(selected.sequence());
            return player;
        });
        cues->setSelectedCue(cue);
        cues->primeThePump();
        sync = std::make_unique<SyncController>(clock);
        sync->setSyncThreadEnabled(false);
        sync->setCueController(cues.get());
    }

    ~Session() {
        sync.reset();
        cues.reset();
    }

    // Time runs from 1:00:10:00, and the cue player has started.
    void start() {
        sync->pause();
        auto from = at25(1, 0, 10);
        auto before = from->copy();
        before->subtractFrames(1);
        clock.advance(10 * kSecond);
        sync->setCurrentTimecode(*before, true, clock.now());
        clock.advance(40'000'000);
        sync->setCurrentTimecode(*from, true, clock.now());
        sync->runSyncPass();
    }
};

void BM_syncPass(benchmark::State& state) {
    Session session;
    session.start();
    uint64_t elapsed = 0;
    for (auto _ : state) {
        // Passes 10 ms apart; after 20 minutes the run starts over.
        session.clock.advance(10'000'000);
        elapsed += 10'000'000;
        if (elapsed > 1200 * kSecond) {
            state.PauseTiming();
            session.start();
            elapsed = 0;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(session.sync->runSyncPass());
    }
}
BENCHMARK(BM_syncPass);
TOLLVANE_BENCH_TARGET(BM_syncPass, "at most 20 us per pass with a selected cue of 1,000 events");

void BM_timecodeAtHostTime(benchmark::State& state) {
    Session session;
    session.start();
    uint64_t hostTime = session.clock.now();
    for (auto _ : state) {
        hostTime += 16'683'333;
        benchmark::DoNotOptimize(session.sync->timecodeAtHostTime(hostTime));
    }
}
BENCHMARK(BM_timecodeAtHostTime);
TOLLVANE_BENCH_TARGET(BM_timecodeAtHostTime, "at most 200 ns per call");

void BM_cueTimeAtHostTime(benchmark::State& state) {
    Session session;
    session.start();
    uint64_t hostTime = session.clock.now();
    for (auto _ : state) {
        hostTime += 16'683'333;
        benchmark::DoNotOptimize(session.sync->cueTimeAtHostTime(hostTime));
    }
}
BENCHMARK(BM_cueTimeAtHostTime);
TOLLVANE_BENCH_TARGET(BM_cueTimeAtHostTime, "at most 200 ns per call");

// Both readers while another thread starts and stops rehearsals as fast as
// it can (each holding the sync mutex throughout): the readers never wait
// for it.
void BM_readersWhileRunsStartAndStop(benchmark::State& state) {
    Session session;
    session.start();
    std::atomic<bool> done{false};
    std::atomic<long> runs{0};
    std::thread writer([&] {
        auto from = at25(1, 0, 10);
        while (!done.load(std::memory_order_acquire)) {
            session.sync->rehearseFromTimecode(*from);
            session.sync->pause();
            runs.fetch_add(1, std::memory_order_relaxed);
        }
    });
    uint64_t hostTime = session.clock.now();
    for (auto _ : state) {
        hostTime += 16'683'333;
        benchmark::DoNotOptimize(session.sync->timecodeAtHostTime(hostTime));
        benchmark::DoNotOptimize(session.sync->cueTimeAtHostTime(hostTime));
    }
    done.store(true, std::memory_order_release);
    writer.join();
    state.counters["runs"] = static_cast<double>(runs.load());
}
BENCHMARK(BM_readersWhileRunsStartAndStop)->UseRealTime();
TOLLVANE_BENCH_TARGET(BM_readersWhileRunsStartAndStop,
                      "at most 400 ns for the two calls together, never blocked by the sync mutex");

}  // namespace
}  // namespace tollvane
