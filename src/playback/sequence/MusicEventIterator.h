#pragma once

// Walks the events of one MusicTrack by position. A new iterator stands on
// the track's first event (or past the end of an empty track). Edits of the
// track by other means while walking shift positions, as with any index.
//
// After setEventTime the iterator stands on the moved event, and nextEvent
// goes on with the event that followed it before the move, so a walk that
// moves events earlier meets every event once. An event moved later than the
// walk's position is met again when the walk gets there.
//
// Threads: one iterator belongs to one thread at a time; each call takes the
// sequence's store lock briefly. Not real-time safe.

#include <cstddef>
#include <optional>

#include "playback/sequence/MusicEventData.h"

namespace tollvane {

class MusicTrack;

class MusicEventIterator {
public:
    explicit MusicEventIterator(MusicTrack& track);

    MusicTrack& track() const { return track_; }

    // Status results are the kMusicSequence... codes of MusicSequence.h.
    // Stands on the first event at or after `beats` (past the end if none).
    int seek(double beats);
    // Moves one event on; past the last event the iterator has no current event.
    int nextEvent();
    int previousEvent();
    int hasCurrentEvent(bool& answer) const;
    int hasNextEvent(bool& answer) const;
    int hasPreviousEvent(bool& answer) const;
    // The current event (kMusicSequenceError_EndOfTrack when there is none).
    int getEventInfo(MusicEventData& event) const;
    // Moves the current event to a new time.
    int setEventTime(double beats);

private:
    size_t nextIndex() const { return followingIndex_ ? *followingIndex_ : index_ + 1; }

    MusicTrack& track_;
    size_t index_ = 0;
    std::optional<size_t> followingIndex_;  // set by setEventTime until the next move
};

}  // namespace tollvane
