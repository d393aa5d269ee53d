#pragma once

// One track of a sequence (wrapping a store MusicTrack). The wrapper does not
// remove its track from the sequence when it is destroyed or pointed
// elsewhere: wrappers are made freely (FFMusicSequence::trackAtIndex makes a
// new one on every call), and a track must not vanish with a temporary
// wrapper. A track lives as long as its sequence.
//
// Threads: the main thread, or one thread at a time; takes no lock of its own
// (the store locks inside each call).

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "playback/FFMusicEvent.h"
#include "playback/FFMusicEventIterator.h"

namespace tollvane {

class MusicSequence;
class MusicTrack;

class FFMusicTrack {
public:
    explicit FFMusicTrack(MusicTrack* track = nullptr) : track_(track) {}

    // Adds a track to `sequence` with a track-name meta event (type 3) at
    // beat 0 holding the name's UTF-8 bytes; null after logging on failure.
    static std::shared_ptr<FFMusicTrack> newTrackInSequence(MusicSequence* sequence, const std::string& name);
    static std::shared_ptr<FFMusicTrack> trackWithMusicTrack(MusicTrack* track);

    MusicTrack* musicTrack() const { return track_; }
    void setMusicTrack(MusicTrack* track) { track_ = track; }
    const std::set<uint32_t>& selection() const { return selection_; }
    void setSelection(std::set<uint32_t> selection) { selection_ = std::move(selection); }

    // The text of the first track-name meta event; "" without one; "-" (after
    // a log line) without a track.
    std::string trackName() const;
    // The length in beats: the track's set length (a loaded file's
    // end-of-track time), or its last event's end where that is later; 0
    // after a log line without a track.
    double length() const;
    // Every event in time order, each with its own copy of the payload.
    std::vector<FFMusicEvent> events() const;
    // A new iterator at the first event.
    std::unique_ptr<FFMusicEventIterator> eventIterator() const;

    // Adds a user event: `userEvent` is the block (length word, then that many
    // bytes). False after a log line on failure.
    bool addUserEvent(std::span<const uint8_t> userEvent, double atTime);
    // Adds an event of types 1 to 10 at its time stamp. False after a log line
    // on failure.
    bool addEvent(const FFMusicEvent& event);

    // "Track '<name>': <events>".
    std::string description() const;

private:
    MusicTrack* track_ = nullptr;
    std::set<uint32_t> selection_;
};

}  // namespace tollvane
