#pragma once

// Lets a cue see the playback start and frame rate of the command line, as
// it would see the transport's and the project's in the application.

#include "model/Cue.h"
#include "model/CueEnvironment.h"
#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

class CommandLineCueEnvironment final : public CueEnvironment {
public:
    explicit CommandLineCueEnvironment(EMTimecodeFramerate rate) : rate_(rate) {}
    double playbackStartPrerollShiftedBeats() const override { return playbackStart_; }
    EMTimecodeFramerate projectFramerate() const override { return rate_; }
    void setPlaybackStart(double beats) { playbackStart_ = beats; }
    void setProjectFramerate(EMTimecodeFramerate rate) { rate_ = rate; }

private:
    EMTimecodeFramerate rate_;
    double playbackStart_ = Cue::kPrerollBeats;
};

}  // namespace tollvane
