#pragma once

// The CueEnvironment the application installs: a cue asks the transport for
// its playback start and the auto-follow flag, the cue player whether it
// plays, the sync controller for the current timecode and the event
// controller to take its sequence's user events.
//
// Threads: as CueEnvironment. The controllers must outlive the environment
// while it is installed.

#include <memory>
#include <optional>

#include "model/CueEnvironment.h"

namespace tollvane {

class CueController;
class SyncController;
class TransportController;

class PlaybackEnvironment : public CueEnvironment {
public:
    // On the program's shared controllers (made here if not made yet).
    PlaybackEnvironment();
    PlaybackEnvironment(TransportController& transport, CueController& cueController,
                        SyncController& syncController, FFMusicUserEventDestination* destination,
                        std::optional<EMTimecodeFramerate> projectFramerate = std::nullopt);

    double playbackStartPrerollShiftedBeats() const override;
    bool cuePlayerIsPlaying() const override;
    std::shared_ptr<EMTimecode> currentTimecode() const override;
    void setProcessingAutoFollow(bool processing) override;
    FFMusicUserEventDestination* userEventDestination() const override { return destination_; }
    // The rate given, or else the front document's.
    EMTimecodeFramerate projectFramerate() const override;

private:
    TransportController& transport_;
    CueController& cueController_;
    SyncController& syncController_;
    FFMusicUserEventDestination* destination_;
    std::optional<EMTimecodeFramerate> projectFramerate_;
};

}  // namespace tollvane
