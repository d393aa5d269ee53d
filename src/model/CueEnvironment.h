#pragma once

// What a cue asks of controllers that sit above the model: the transport's
// playback start, whether the cue player plays, the sync controller's
// current timecode, the project frame rate and where the sequence's user
// events go. The application installs its controllers here; with nothing
// installed a cue behaves as one with no transport: playback starts at 128,
// nothing plays, there is no current timecode, the project rate is the
// timecode formatters' (29.97 non-drop until the application installs its
// provider), and user events go nowhere.
//
// Threads: install on the main thread before cues are made. The accessors
// are called on the main thread (compilation) and, for the project frame
// rate, from any thread.

#include <memory>

#include "timebase/EMTimecode.h"
#include "timebase/EMTimecodeFormatter.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

class FFMusicUserEventDestination;

class CueEnvironment {
public:
    virtual ~CueEnvironment() = default;

    // The transport's `playbackStartPrerollShiftedBeats`.
    virtual double playbackStartPrerollShiftedBeats() const { return 128.0; }
    // The shared cue controller reports that it is playing.
    virtual bool cuePlayerIsPlaying() const { return false; }
    // The sync controller's current timecode, or none.
    virtual std::shared_ptr<EMTimecode> currentTimecode() const { return nullptr; }
    // The MIDI controller's `projectFramerate`; by default the rate the
    // timecode formatters parse at, so that one provider serves both.
    virtual EMTimecodeFramerate projectFramerate() const { return EMTimecodeFormatter::projectFramerate(); }
    // The transport's `processingAutoFollow` flag: set while the cue list
    // selects a cue on its own, so that the change is not taken for a
    // manual one.
    virtual void setProcessingAutoFollow(bool /*processing*/) {}
    // The shared event controller, destination of compiled sequences' user
    // events; null: none.
    virtual FFMusicUserEventDestination* userEventDestination() const { return nullptr; }

    // The installed environment (a default one until something is installed).
    static CueEnvironment& current();
    // Installs an environment (null restores the default); answers the previous one.
    static std::shared_ptr<CueEnvironment> install(std::shared_ptr<CueEnvironment> environment);
};

}  // namespace tollvane
