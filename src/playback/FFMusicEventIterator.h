#pragma once

// Walks one track's events (wrapping the store's MusicEventIterator, which it
// owns). A new iterator stands on the track's first event.
//
// Threads: one thread at a time; takes no lock of its own.

#include <cstdint>
#include <memory>
#include <vector>

#include "playback/sequence/MusicEventIterator.h"

namespace tollvane {

class MusicTrack;

class FFMusicEventIterator {
public:
    // An iterator on `track`, or one without a platform iterator when the
    // track is null.
    explicit FFMusicEventIterator(MusicTrack* track);
    explicit FFMusicEventIterator(std::unique_ptr<MusicEventIterator> iterator);

    MusicEventIterator* musicEventIterator() const { return iterator_.get(); }
    // Replacing disposes the old platform iterator.
    void setMusicEventIterator(std::unique_ptr<MusicEventIterator> iterator) {
        iterator_ = std::move(iterator);
    }

    // Moves to the next event and answers true; false at the last event.
    bool advance();
    // Whether the iterator stands on an event (false on an empty track).
    bool hasCurrentEvent() const;
    // The current event: its type, a copy of its payload and its size, and
    // its time in beats.
    bool getEventType(uint32_t& eventType, std::vector<uint8_t>& eventData, uint32_t& dataSize,
                      double& timeStamp) const;
    // Moves the current event to a new beat (see MusicEventIterator for where
    // the walk goes on).
    bool setCurrentEventTime(double timeStamp);

private:
    std::unique_ptr<MusicEventIterator> iterator_;
};

}  // namespace tollvane
