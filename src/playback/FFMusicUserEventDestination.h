#pragma once

// Where a sequence's user events go while a player plays it (the event
// controller). Installed with FFMusicSequence::setUserEventDestination and not
// owned by the sequence: it must outlive every player of that sequence.

#include <cstdint>
#include <span>

namespace tollvane {

class MusicSequence;
class MusicTrack;

class FFMusicUserEventDestination {
public:
    virtual ~FFMusicUserEventDestination() = default;

    // Called on the player's thread for every user event that the play
    // position passes, in time order: the user-event block (length word and
    // bytes, valid only during the call: copy what you need), the sequence and
    // track holding it, its time in beats, and the start and end beats of the
    // playback slice in which it fell.
    virtual void takeUserEvent(std::span<const uint8_t> userEvent, MusicSequence* fromSequence,
                               MusicTrack* track, double atTime, double startSliceBeat,
                               double endSliceBeat) = 0;
};

}  // namespace tollvane
