#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventTempoChange.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

// The sync thread and the exporters query a cue while the main thread edits
// and rebuilds it: every query must see one whole published map.
TEST(CueThreads, QueriesFromAnotherThreadDuringRebuilds) {
    RunLoop* previousLoop = RunLoop::setMain(nullptr);
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    auto cue = Cue::create();
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1"));
    const auto probe = EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:30:00");

    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<long> queries{0};
    std::atomic<long> faults{0};
    std::thread reader([&] {
        double position = 100.0;
        while (!stop.load(std::memory_order_acquire)) {
            bool sounds = true;
            const double next = cue->nextClickTimeAfterPrerollShiftedBeats(position, &sounds);
            const double visual = cue->nextVisualClickTimeAfterPrerollShiftedBeats(position);
            cue->visualClickAtPrerollShiftedBeats(position);
            cue->audioClickAtPrerollShiftedBeats(position);
            const double beat = cue->nextBeatTimeAfterPrerollShiftedBeats(position);
            const auto timecode = cue->timecodeForPrerollShiftedBeats(position);
            const double back = cue->prerollShiftedBeatsForTimecode(*probe);
            const double seconds = cue->secondsFromSyncPointForPrerollShiftedBeats(position);
            const double start = cue->playbackStartTimeStamp();
            const double length = cue->lengthInSeconds();
            double sequenceSeconds = 0.0;
            if (const auto sequence = cue->sequence()) sequenceSeconds = sequence->secondsForBeats(position);
            const bool finite = std::isfinite(next) && std::isfinite(visual) && std::isfinite(beat) &&
                                std::isfinite(back) && std::isfinite(seconds) && std::isfinite(start) &&
                                std::isfinite(length) && std::isfinite(sequenceSeconds);
            if (!timecode || !finite) faults.fetch_add(1, std::memory_order_relaxed);
            position = position > 400.0 ? 100.0 : position + 0.37;
            queries.fetch_add(1, std::memory_order_relaxed);
            started.store(true, std::memory_order_release);
        }
    });
    while (!started.load(std::memory_order_acquire)) std::this_thread::yield();

    constexpr int kRebuilds = 60;
    for (int i = 0; i < kRebuilds; ++i) {
        const double timeStamp = 4.0 * i;
        cue->tempoEvents().push_back(
            CueEventTempoChange::tempoChangeEventWithCue(cue, 90.0 + i % 40, 6, timeStamp + 2.0));
        if (i % 5 == 0) {
            cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(
                cue, TimeSignature{uint16_t(3 + i % 4), 4}, 6, i + 1));
        }
        if (i % 7 == 0)
            cue->meterEvents().push_back(CueEventClickChange::clickChangeEventWithCue(cue, timeStamp));
        auto sync = EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1");
        sync->addFrames(i);
        cue->setSyncTimecode(sync);
        cue->setSyncPrerollShiftedBeats(Value(128.0 + i % 3));
        cue->setPlaybackStartTimeStamp(timeStamp);
        cue->reallyUpdateSequence();
    }
    stop.store(true, std::memory_order_release);
    reader.join();

    EXPECT_GT(queries.load(), 0);
    EXPECT_EQ(faults.load(), 0);
    cue.reset();
    RunLoop::setMain(previousLoop);
}

}  // namespace
}  // namespace tollvane
