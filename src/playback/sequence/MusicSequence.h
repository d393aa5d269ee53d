#pragma once

// The music-sequence store: a tempo track and an ordered list of tracks of
// time-stamped events in beats, the tempo/meter map built from the tempo
// track, and the user callback that a player calls for every user event it
// passes. The FF wrappers (FFMusicSequence and friends) sit on top of it.
//
// Threads: every member may be called from any thread; none is real-time
// safe. One store lock guards the tracks and their events; it is held only
// inside a call, never while calling out (the user callback is called by the
// player, not from here). Conversions read the current tempo map, which
// reflects every tempo and meter event added before the call.
//
// The tempo map is kept private until tempoMap() hands it out; from then on
// it is a snapshot that never changes (the next change works on a copy). Its
// tempo part and its meter part are kept up to date apart: an added tempo
// (meter) event at or after every other of its kind extends its part in
// place, an earlier one makes that part alone be rebuilt when next used, and
// any other change of the tempo track rebuilds both. So building a sequence
// that alternates additions and conversions stays linear when each kind is
// added in time order, and looking up bars never waits for tempo changes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "playback/sequence/BarBeatTime.h"
#include "playback/sequence/MusicEventData.h"
#include "playback/sequence/MusicTrack.h"
#include "playback/sequence/TempoMap.h"

namespace tollvane {

// Status codes of the sequence service: 0 is success.
constexpr int kMusicSequenceNoErr = 0;
constexpr int kMusicSequenceError_InvalidArgument = -1;   // bad value, null pointer, divisor 0
constexpr int kMusicSequenceError_TrackNotFound = -2;     // no such track or index
constexpr int kMusicSequenceError_EndOfTrack = -3;        // no event at that position
constexpr int kMusicSequenceError_OutOfRange = -4;        // result does not fit its record
constexpr int kMusicSequenceError_InvalidEventType = -5;  // type outside 1-10 or wrong layout
constexpr int kMusicSequenceError_InvalidFile = -10;      // not a Standard MIDI File / damaged
constexpr int kMusicSequenceError_UnsupportedFile = -11;  // a valid file we do not read
constexpr int kMusicSequenceError_FileIO = -12;           // the file cannot be opened/read/written
constexpr int kMusicSequenceError_FileTooLarge = -13;     // beyond what we accept

// Opaque handle of an audio-unit graph; carried, never used.
using AUGraphHandle = void*;

class MusicSequence {
public:
    // Called by a player, on its own thread, for each user event it passes:
    // the sequence, the event's track, its time in beats, the user-event
    // block (length word and bytes; valid only during the call) and the
    // start and end beats of the playback slice in which it fell.
    using UserCallback =
        std::function<void(MusicSequence& sequence, MusicTrack& track, double eventTime,
                           std::span<const uint8_t> userData, double startSliceBeat, double endSliceBeat)>;

    // A user event as a player takes it from the store.
    struct ScheduledUserEvent {
        MusicTrack* track = nullptr;
        double time = 0.0;
        std::vector<uint8_t> userData;  // length word and bytes
    };

    // An empty beats-type sequence: an empty tempo track and no tracks.
    MusicSequence();
    ~MusicSequence();
    MusicSequence(const MusicSequence&) = delete;
    MusicSequence& operator=(const MusicSequence&) = delete;

    // Tracks. The tempo track is not among the indexed tracks.
    int newTrack(MusicTrack*& track);
    // Removes a track; its pointer becomes invalid. The tempo track cannot be
    // disposed (kMusicSequenceError_InvalidArgument).
    int disposeTrack(MusicTrack* track);
    uint32_t trackCount() const;
    int trackAtIndex(uint32_t index, MusicTrack*& track) const;
    // kMusicSequenceError_TrackNotFound for the tempo track and foreign tracks.
    int trackIndex(const MusicTrack* track, uint32_t& index) const;
    MusicTrack& tempoTrack() { return *tempoTrack_; }
    const MusicTrack& tempoTrack() const { return *tempoTrack_; }

    // Conversions through the tempo and meter events present now.
    int secondsForBeats(double beats, double& seconds) const;
    int beatsForSeconds(double seconds, double& beats) const;
    int beatsToBarBeatTime(double beats, uint16_t subbeatDivisor, BarBeatTime& out) const;
    int barBeatTimeToBeats(const BarBeatTime& time, double& beats) const;
    // The current map as a snapshot that never changes (cheap while the
    // tempo track does not change).
    std::shared_ptr<const TempoMap> tempoMap() const;

    // The longest track length, tempo track included.
    double lengthInBeats() const;

    // For file readers: takes over the tempo track's events and length and
    // the tracks of `source` (built on the side), replacing this sequence's
    // own. Pointers to this sequence's old tracks become invalid; those of
    // `source`'s tracks now belong to this sequence. `source` is left empty.
    void adoptContentsOf(MusicSequence& source);

    // User callback (replaces any earlier one; an empty function removes it).
    void setUserCallback(UserCallback callback);
    std::shared_ptr<const UserCallback> userCallback() const;

    // The user events of every track with times in [fromBeats, toBeats), in
    // time order; equal times: the tempo track's first, then the tracks' in
    // index order, each track's in its own order.
    void copyUserEvents(double fromBeats, double toBeats, std::vector<ScheduledUserEvent>& into) const;
    // The earliest user-event time at or after `fromBeats`; false when none.
    bool nextUserEventTime(double fromBeats, double& time) const;
    // Grows by one with every change of any track; a player may use it to
    // notice edits.
    uint64_t changeCount() const;

    // The playback rate of the sequence (FFMusicSequence's `playbackRate`),
    // kept here so that a player sees it: FFMusicSequence's seconds are this
    // store's seconds divided by it. 1.0 by default; a value that is not
    // finite and positive is refused (kMusicSequenceError_InvalidArgument).
    // Lock-free; also safe on real-time threads.
    double playbackRate() const { return playbackRate_.load(std::memory_order_acquire); }
    int setPlaybackRate(double rate);

    // Pass-through settings, remembered and not used here.
    int setMIDIEndpoint(uint32_t endpoint);
    uint32_t midiEndpoint() const;
    int setAUGraph(AUGraphHandle graph);
    AUGraphHandle auGraph() const;

private:
    friend class MusicTrack;

    // Callers hold mutex_. Called after any change of `track`.
    void trackChangedLocked(const MusicTrack& track);
    // Callers hold mutex_. Called after one event was added to the tempo track.
    void tempoTrackEventAddedLocked(const MusicEventData& event);
    // Callers hold mutex_. The map with the named parts current.
    const TempoMap& tempoMapLocked(bool tempo, bool meter) const;
    // Callers hold mutex_. The map, made private (copied if handed out) to be
    // changed.
    TempoMap& privateTempoMapLocked() const;

    mutable std::mutex mutex_;
    std::unique_ptr<MusicTrack> tempoTrack_;
    std::vector<std::unique_ptr<MusicTrack>> tracks_;
    // Guarded by mutex_. Null until first used and after changes that are
    // not additions. Once handed out by tempoMap() it is never changed again
    // (tempoMapShared_). A stale part is rebuilt when next used.
    mutable std::shared_ptr<TempoMap> tempoMap_;
    mutable bool tempoMapShared_ = false;
    mutable bool tempoPartStale_ = false;
    mutable bool meterPartStale_ = false;
    std::shared_ptr<const UserCallback> userCallback_;
    uint64_t changeCount_ = 0;
    std::atomic<double> playbackRate_{1.0};
    uint32_t midiEndpoint_ = 0;
    AUGraphHandle auGraph_ = nullptr;
};

}  // namespace tollvane
