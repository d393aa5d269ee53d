#include "playback/PlaybackEnvironment.h"

#include "playback/CueController.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "playback/TransportController.h"

namespace tollvane {

PlaybackEnvironment::PlaybackEnvironment()
    : PlaybackEnvironment(TransportController::sharedTransportController(),
                          CueController::sharedCueController(), SyncController::sharedInstance(),
                          &TLEventController::sharedController()) {}

PlaybackEnvironment::PlaybackEnvironment(TransportController& transport, CueController& cueController,
                                         SyncController& syncController,
                                         FFMusicUserEventDestination* destination,
                                         std::optional<EMTimecodeFramerate> projectFramerate)
    : transport_(transport),
      cueController_(cueController),
      syncController_(syncController),
      destination_(destination),
      projectFramerate_(projectFramerate) {}

double PlaybackEnvironment::playbackStartPrerollShiftedBeats() const {
    return transport_.playbackStartPrerollShiftedBeats();
}

bool PlaybackEnvironment::cuePlayerIsPlaying() const {
    return cueController_.isPlaying();
}

std::shared_ptr<EMTimecode> PlaybackEnvironment::currentTimecode() const {
    return syncController_.currentTimecode();
}

void PlaybackEnvironment::setProcessingAutoFollow(bool processing) {
    transport_.setProcessingAutoFollow(processing);
}

EMTimecodeFramerate PlaybackEnvironment::projectFramerate() const {
    return projectFramerate_ ? *projectFramerate_ : CueEnvironment::projectFramerate();
}

}  // namespace tollvane
