#pragma once

// The transport, cue player and sync controller on a manual run loop and its
// clock, installed as the main loop, the shared clock and the cues'
// environment, with the cue model's defaults registered. The sync thread is
// off: tests run its passes by hand. Players step on the manual clock.
//
// A fixture calls tearDown() where its own TearDown wants the rig gone (the
// destructor does it otherwise), so that what the fixture still holds (cues,
// views) goes after the last pending work has run.

#include <memory>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "platform/HostClock.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"

namespace tollvane {

class TransportRig {
public:
    TransportRig() {
        previousLoop_ = RunLoop::setMain(&loop);
        previousClock_ = HostClock::setShared(&loop.clock());
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        loop.clock().set(1'000'000'000'000);
        previousEnvironment_ =
            CueEnvironment::install(std::make_shared<PlaybackEnvironment>(transport, cues, sync, nullptr));
        cues.setPlayerFactory([this](Cue& cue) {
            auto player = std::make_unique<FFMusicPlayer>(loop.clock(), MusicPlayer::Delivery::stepped);
            player->setSequence(cue.sequence());
            return player;
        });
        sync.setSyncThreadEnabled(false);
        sync.setCueController(&cues);
    }
    ~TransportRig() { tearDown(); }
    TransportRig(const TransportRig&) = delete;
    TransportRig& operator=(const TransportRig&) = delete;

    void tearDown() {
        if (tornDown_) return;
        tornDown_ = true;
        sync.setCueController(nullptr);
        loop.runPending();
        CueEnvironment::install(previousEnvironment_);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    // Lets a cue's pending rebuild run.
    void settle() { loop.advance(Cue::kUpdateDelay + 0.01); }

    ManualRunLoop loop;
    CueController cues{nullptr, loop.clock()};
    SyncController sync{loop.clock()};
    TransportController transport{cues, sync};

private:
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    std::shared_ptr<CueEnvironment> previousEnvironment_;
    bool tornDown_ = false;
};

}  // namespace tollvane
