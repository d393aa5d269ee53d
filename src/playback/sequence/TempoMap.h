#pragma once

// The tempo and meter map of a sequence: an immutable snapshot built from the
// events of its tempo track, answering every conversion by binary search.
// A sequence rebuilds it after its tempo track changes and publishes the new
// one by swapping a shared pointer, so a reader keeps one consistent map for
// the length of its query. Being immutable, a map may be read from any thread
// at once; no member allocates or locks except build().
//
// Tempo: extended tempo events (type 3); tempo meta events (0x51) are not
// read (file readers turn them into extended tempo events). Before the first one the tempo is
// 120 bpm; several at the same beat: the last added wins. A bpm that is not a
// finite positive number is ignored. Events before beat 0 take effect at 0;
// times before 0 are extrapolated at the tempo in force at beat 0.
//
// Meter: time-signature meta events (type 5, meta type 0x58, at least 4 data
// bytes): numerator = data byte 0, denominator = 2 to the power of byte 1.
// A numerator of 0 or an exponent above 7 (denominator above 128) is ignored.
// Before the first one the meter is 4/4. A bar of n/d lasts n * 4 / d beats.
// A meter event starts a new bar at its own beat: if it falls inside a bar,
// that bar ends early (a short bar, still counted) and the new meter's first
// bar starts at the event, numbered next. Bars before beat 0 are extrapolated
// in the first meter (bar 0, -1, ...).
//
// Status results are the kMusicSequence... codes of MusicSequence.h.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "playback/sequence/BarBeatTime.h"
#include "playback/sequence/MusicEventData.h"

namespace tollvane {

class TempoMap {
public:
    static constexpr double kDefaultBPM = 120.0;

    // One stretch of constant tempo, from `beat` (and `seconds`) on.
    struct TempoSegment {
        double beat = 0.0;
        double seconds = 0.0;
        double bpm = kDefaultBPM;
        double secondsPerBeat = 60.0 / kDefaultBPM;
    };

    // One stretch of constant meter, from `beat` on, whose first bar is `bar`.
    struct MeterSegment {
        double beat = 0.0;
        int64_t bar = 1;
        TimeSignature signature;
        double beatsPerBar = 4.0;   // in quarter notes
        double beatsPerUnit = 1.0;  // quarter notes in one beat of the meter
    };

    // 120 bpm and 4/4 throughout.
    TempoMap();

    // The map of the given tempo-track events (in time order, as a track
    // keeps them); other event types are passed over.
    static std::shared_ptr<const TempoMap> build(const std::vector<MusicEventData>& tempoTrackEvents);

    // Exact inverses of each other (to rounding).
    double secondsForBeats(double beats) const;
    double beatsForSeconds(double seconds) const;
    // The tempo in force at a beat.
    double bpmAtBeat(double beats) const;

    // Status 0, or kMusicSequenceError_InvalidArgument for a divisor of 0 or
    // a value that is not finite, kMusicSequenceError_OutOfRange when the bar
    // does not fit the record.
    int beatsToBarBeatTime(double beats, uint16_t subbeatDivisor, BarBeatTime& out) const;
    int barBeatTimeToBeats(const BarBeatTime& time, double& beats) const;
    // The beat at which a bar starts (any bar number; extrapolated below 1).
    double beatsForBarStart(int64_t bar) const;
    // The meter in force at a beat (an event exactly at the beat counts).
    TimeSignature timeSignatureAtBeat(double beats) const;

    const std::vector<TempoSegment>& tempoSegments() const { return tempo_; }
    const std::vector<MeterSegment>& meterSegments() const { return meter_; }

private:
    friend class MusicSequence;

    // Incremental building, for the sequence's own private map (a published
    // snapshot is never changed). The tempo part depends only on the tempo
    // events and the meter part only on the meter events, in track order;
    // an event at or after every applied event of its kind comes last among
    // them in the track, so applying it gives what build() would give.
    static bool isTempoEvent(const MusicEventData& event);
    static bool isMeterEvent(const MusicEventData& event);
    bool canExtendTempoWith(const MusicEventData& event) const { return event.timeStamp >= lastTempoTime_; }
    bool canExtendMeterWith(const MusicEventData& event) const { return event.timeStamp >= lastMeterTime_; }
    void applyTempo(const MusicEventData& event);
    void applyMeter(const MusicEventData& event);
    void rebuildTempo(const std::vector<MusicEventData>& tempoTrackEvents);
    void rebuildMeter(const std::vector<MusicEventData>& tempoTrackEvents);

    const TempoSegment& tempoSegmentForBeats(double beats) const;
    const MeterSegment& meterSegmentForBeats(double beats) const;
    const MeterSegment& meterSegmentForBar(int64_t bar) const;

    std::vector<TempoSegment> tempo_;  // never empty; the first starts at beat 0
    std::vector<MeterSegment> meter_;  // never empty; the first starts at beat 0, bar 1
    // Time stamps of the last tempo and meter events applied.
    double lastTempoTime_ = -std::numeric_limits<double>::infinity();
    double lastMeterTime_ = -std::numeric_limits<double>::infinity();
};

}  // namespace tollvane
