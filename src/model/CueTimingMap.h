#pragma once

// What a cue publishes at each rebuild for the timing questions asked from
// other threads: the compiled sequence and plain records of the events that
// shape the click (meter changes, click changes, count-offs), all immutable
// once built. The click decisions live here as pure functions of the map and
// of the cue's live settings (ClickContext), so they can be tested with a
// hand-made sequence and a table of cases.
//
// Positions are pre-roll-shifted beats; bars given as "sequence bar" are the
// sequence's own numbering (the cue's bar 1 is sequence bar 33).
//
// Threads: a built map is never changed and may be read from any thread at
// once. Not real-time safe (the sequence conversions take the store's lock).

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "model/ClickPattern.h"
#include "playback/sequence/BarBeatTime.h"

namespace tollvane {

class Color;
class CueEvent;
class FFMusicSequence;
class TLEvent;

class CueTimingMap {
public:
    // What clicks in a bar: nothing decided, an interval in beats (0: no
    // click), or a pattern.
    using ClickSetting = std::variant<std::monostate, double, ClickPattern>;

    // A meter change or a click change, in the cue's sorted meterEvents order.
    struct MeterRecord {
        bool isClickChange = false;
        double lockPosition = 0.0;
        int32_t clickNoteDuration = 6;
        // Click changes only.
        bool changeClick = false;
        std::vector<uint32_t> clickPattern;
        bool changePunches = false;
        int32_t beatPunchNoteDuration = -1;
        // Both kinds.
        bool barPunchEnabled = false;
        std::shared_ptr<const Color> barPunchColor;
        int32_t barPunchHoles = 3;
        bool beatPunchEnabled = false;
        std::shared_ptr<const Color> beatPunchColor;
        int32_t beatPunchHoles = 1;
    };

    struct CountoffRecord {
        double firstClickPosition = 0.0;
        double lockPosition = 0.0;
        int32_t countoffBeats = 4;
        int32_t countoffNoteDuration = 6;
        bool audioClick = true;
        bool punchClick = false;
    };

    // The cue's live settings, read once per query.
    struct ClickContext {
        // playbackStartTimeStamp + 128.
        double playbackStartPosition = 128.0;
        uint32_t warningBeats = 4;
        int32_t warningBeatNoteDuration = 0xffff;
        uint32_t clickMuteSetting = 0;
        bool warningBeatPunchesEnabled = false;
        // The document shows its ADR/Foley view.
        bool adrFoleyView = false;
    };

    // No sequence, no events, length 100000.
    CueTimingMap();
    CueTimingMap(std::shared_ptr<FFMusicSequence> sequence, std::vector<MeterRecord> meters,
                 std::vector<CountoffRecord> countoffs, double lengthInBeats);

    // Records of a cue's events (main thread): meterEvents in their order,
    // countoffEvents in theirs.
    static std::vector<MeterRecord> meterRecordsOf(const std::vector<std::shared_ptr<CueEvent>>& meterEvents);
    static std::vector<CountoffRecord> countoffRecordsOf(
        const std::vector<std::shared_ptr<CueEvent>>& countoffEvents);

    const std::shared_ptr<FFMusicSequence>& sequence() const { return sequence_; }
    const std::vector<MeterRecord>& meters() const { return meters_; }
    const std::vector<CountoffRecord>& countoffs() const { return countoffs_; }
    double lengthInBeats() const { return lengthInBeats_; }

    // The sequence's conversions; without a sequence: 0 and bar-beat times of
    // zero (bar 0).
    double secondsForBeats(double beats) const;
    double beatsForSeconds(double seconds) const;
    BarBeatTime barBeatTimeForBeats(double beats) const;
    double beatsForBarNumber(int32_t sequenceBar, uint16_t beatNumber) const;
    double beatsForBarBeatTime(const BarBeatTime& time) const;
    TimeSignature timeSignatureOfBar(int32_t sequenceBar) const;

    // The click decisions.
    ClickSetting clickSettingForPrerollShiftedBeats(double beats) const;
    ClickSetting clickSettingForBar(int32_t sequenceBar) const;
    // 0.0 for none; *clickShouldSound (when given) false for a silent pulse.
    double nextClickTimeAfterPrerollShiftedBeats(double beats, const ClickContext& context,
                                                 bool* clickShouldSound) const;
    bool audioClickAtPrerollShiftedBeats(double beats, const ClickContext& context) const;
    double visualClickSettingForBar(int32_t sequenceBar) const;
    double nextVisualClickTimeAfterPrerollShiftedBeats(double beats, const ClickContext& context) const;
    // A punch event, or null.
    std::shared_ptr<TLEvent> visualClickAtPrerollShiftedBeats(double beats,
                                                              const ClickContext& context) const;
    double nextBeatTimeAfterPrerollShiftedBeats(double beats) const;

private:
    // A click setting without the pattern copy: the pattern stays in its
    // record (meters_[record].clickPattern).
    struct ClickState {
        enum class Kind : uint8_t { None, Number, Pattern };
        Kind kind = Kind::Number;
        double interval = 1.0;
        int32_t record = -1;
    };
    // A click position and whether it sounds (false: a silent pattern pulse).
    struct ClickAnswer {
        double position = 0.0;
        bool sounds = true;
    };

    // Prefix tables over the records, built once: the state after each
    // record that takes part, so that a lookup is a binary search when the
    // positions are in order (a linear walk otherwise).
    void buildTables();
    // The effect of one record on the click (and whether it sounds), and on
    // the visual-click interval; records that do not take part change nothing.
    static void applyClickRecord(const MeterRecord& record, int32_t index, ClickState& state, bool& audible);
    static void applyVisualRecord(const MeterRecord& record, double& interval);
    ClickState clickStateAt(double beats) const;
    ClickSetting settingOf(const ClickState& state) const;
    double visualIntervalAt(double beats) const;
    bool pulseSounds(const ClickState& state, int64_t pulse) const;
    int32_t barOf(double beats) const { return barBeatTimeForBeats(beats).bar; }
    double downbeatOf(int32_t sequenceBar) const { return beatsForBarNumber(sequenceBar, 1); }

    // The decision steps shared by the audible and the visual click.
    ClickAnswer warningClickAfter(double beats, const ClickContext& context) const;
    // The count-off click at or after `beats`; none when no count-off takes
    // part. The audible click keeps a count-off 0.1 beat past its lock
    // position.
    std::optional<double> countoffClickAfter(double beats, bool audible) const;
    // How many steps of `interval` lead from `start` to the first position at
    // or after `beats` (0 when `start` already is).
    static int64_t stepsToReach(double start, double interval, double beats);

    std::shared_ptr<FFMusicSequence> sequence_;
    std::vector<MeterRecord> meters_;
    std::vector<CountoffRecord> countoffs_;
    double lengthInBeats_ = 100000.0;

    std::vector<double> clickPositions_;
    std::vector<ClickState> clickStates_;
    std::vector<uint8_t> audioStates_;
    bool clickPositionsInOrder_ = true;
    std::vector<double> visualPositions_;
    std::vector<double> visualIntervals_;
    bool visualPositionsInOrder_ = true;
};

}  // namespace tollvane
