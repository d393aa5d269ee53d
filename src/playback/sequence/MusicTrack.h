#pragma once

// One track of a MusicSequence: its events in time order (an event added at
// the time of existing ones goes after them). Tracks are made and owned by
// their sequence (MusicSequence::newTrack); a MusicTrack* stays valid until
// the track is disposed or its sequence destroyed.
//
// Threads: every member may be called from any thread (not real-time safe);
// each takes the sequence's store lock for the length of the call. Changes to
// the tempo track make the sequence rebuild its tempo map on next use.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "playback/sequence/MusicEventData.h"

namespace tollvane {

class MusicSequence;

class MusicTrack {
public:
    MusicTrack(const MusicTrack&) = delete;
    MusicTrack& operator=(const MusicTrack&) = delete;

    MusicSequence& sequence() const { return *sequence_; }
    bool isTempoTrack() const { return isTempoTrack_; }

    // Adding events; each answers a status (0, or
    // kMusicSequenceError_InvalidArgument for a time that is not finite or a
    // payload that does not have its type's layout). Payloads are copied.
    int newExtendedNoteEvent(double beats, const ExtendedNoteOnEvent& note);
    int newExtendedControlEvent(double beats, const ExtendedControlEvent& control);
    int newExtendedTempoEvent(double beats, double bpm);
    // `userData` points at the user-event block: the length word, then that
    // many bytes.
    int newUserEvent(double beats, const uint8_t* userData);
    int newMetaEvent(double beats, uint8_t metaType, const uint8_t* data, uint32_t length);
    int newMIDINoteEvent(double beats, const MIDINoteMessage& note);
    int newMIDIChannelEvent(double beats, const MIDIChannelMessage& message);
    // `rawData` points at the length word, then that many bytes.
    int newMIDIRawDataEvent(double beats, const uint8_t* rawData);
    int newParameterEvent(double beats, const ParameterEvent& parameter);
    int newAUPresetEvent(double beats, const AUPresetEvent& preset);
    // Any event of types 1 to 10 whose payload has its type's layout.
    int addEvent(MusicEventData event);
    // Many events at once (one lock, one sort): for file readers.
    int addEvents(std::vector<MusicEventData> events);

    // The track length in beats: the length set with setLength(), or the end
    // of the last-ending event (a note's time stamp plus its duration, any
    // other event's time stamp) where that is later; 0 for a new track. So an
    // event added past the set length extends the track.
    double length() const;
    // Sets the length the track keeps however short its events; a file's
    // end-of-track time, for instance. Status 0, or
    // kMusicSequenceError_InvalidArgument for a value that is not finite or
    // is below 0.
    int setLength(double beats);
    size_t eventCount() const;
    // A copy of every event, in order.
    std::vector<MusicEventData> events() const;
    // Calls `visit` for every event in order while holding the store lock:
    // `visit` must not call back into the sequence.
    void forEachEvent(const std::function<void(const MusicEventData&)>& visit) const;

    // Index-based access, for MusicEventIterator. Status 0, or
    // kMusicSequenceError_EndOfTrack for an index past the last event.
    int eventAt(size_t index, MusicEventData& out) const;
    // Moves the event at `index` to a new time; `newIndex` receives its new
    // place (after any events already at that time).
    int setEventTime(size_t index, double beats, size_t& newIndex);
    // The index of the first event at or after `beats`.
    size_t indexOfFirstEventAtOrAfter(double beats) const;
    // Removes every event in [fromBeats, toBeats).
    int clear(double fromBeats, double toBeats);

private:
    friend class MusicSequence;
    MusicTrack(MusicSequence& sequence, bool isTempoTrack);

    // Callers hold the store lock. Answers where the event went.
    const MusicEventData& insertLocked(MusicEventData&& event);
    void changedLocked();
    double lengthLocked() const;

    MusicSequence* sequence_;  // moved over by MusicSequence::adoptContentsOf
    const bool isTempoTrack_;
    std::vector<MusicEventData> events_;
    size_t userEventCount_ = 0;
    double assignedLength_ = 0.0;     // from setLength()
    mutable double eventsEnd_ = 0.0;  // cache of the last-ending event's end
    mutable bool eventsEndValid_ = true;
};

}  // namespace tollvane
