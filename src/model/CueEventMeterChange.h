#pragma once

// A meter change, always placed on a bar, with the click and the bar and
// beat punches that hold from it on.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "playback/sequence/BarBeatTime.h"

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventMeterChange : public CueEvent {
public:
    explicit CueEventMeterChange(Passkey key) : CueEvent(key) {}

    // Bar-locked at the bar of time stamp + 128 (-32 without a sequence),
    // click note duration -2 (no change).
    static std::shared_ptr<CueEventMeterChange> meterChangeEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                        TimeSignature meter,
                                                                        double timeStamp);
    // initWithCue:meter:clickNoteDuration:atBar:
    static std::shared_ptr<CueEventMeterChange> meterChangeWithCue(const std::shared_ptr<Cue>& cue,
                                                                   TimeSignature meter,
                                                                   int32_t clickNoteDuration, int32_t atBar);

    TimeSignature meter() const { return meter_; }
    void setMeter(TimeSignature meter);  // "Change Meter"
    // The meter boxed as a value (numerator | denominator << 16).
    Value meterValue() const;
    void setMeterValue(const Value& meter);
    int32_t clickNoteDuration() const { return clickNoteDuration_; }
    void setClickNoteDuration(int32_t code);  // "Change Click Duration"
    void setClickNoteDurationAsNSNumber(const Value& code);
    // MIDI clocks per click of the click note duration.
    int32_t clocksPerClick() const;
    // The denominator as the power of two a time-signature event stores.
    uint8_t midiDenominator() const;

    // Punch settings ("Change Auto Punch Options").
    bool barPunchEnabled() const { return barPunchEnabled_; }
    void setBarPunchEnabled(bool enabled);
    std::shared_ptr<Color> barPunchColor() const { return barPunchColor_; }
    void setBarPunchColor(std::shared_ptr<Color> color);
    int32_t barPunchHoles() const { return barPunchHoles_; }
    void setBarPunchHoles(int32_t holes);
    bool beatPunchEnabled() const { return beatPunchEnabled_; }
    void setBeatPunchEnabled(bool enabled);
    std::shared_ptr<Color> beatPunchColor() const { return beatPunchColor_; }
    void setBeatPunchColor(std::shared_ptr<Color> color);
    int32_t beatPunchHoles() const { return beatPunchHoles_; }
    void setBeatPunchHoles(int32_t holes);

    int32_t sortPriority() const override { return 100; }
    std::string eventTypeString() const override { return "Meter Change"; }
    uint32_t proxyCode() const override { return fourCharCode("metr"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    // Stores bar whatever it is given.
    void setLockType(int32_t lockType) override;
    bool canLockToBeat() const override { return false; }
    bool canLockToTimecode() const override { return false; }
    bool lockTimesShouldUpdateImmediately() const override { return false; }
    std::string archiveClassName() const override { return "CueEventMeterChange"; }
    static void registerArchiveClass();

protected:
    void initKindDefaults() override;
    std::shared_ptr<CueEvent> makeEmptyCopy() const override;
    void copyKindFieldsTo(CueEvent& copy) const override;
    void encodeKindFields(KeyedArchiver& coder) const override;
    void decodeKindFields(KeyedUnarchiver& coder) override;
    bool keyAffectsEventProxy(std::string_view key) const override;
    bool performKindUndoOperation(const std::string& operation, const Value& argument) override;

private:
    TimeSignature meter_;
    int32_t clickNoteDuration_ = 6;
    bool barPunchEnabled_ = false;
    std::shared_ptr<Color> barPunchColor_;
    int32_t barPunchHoles_ = 3;
    bool beatPunchEnabled_ = false;
    std::shared_ptr<Color> beatPunchColor_;
    int32_t beatPunchHoles_ = 1;
};

}  // namespace tollvane
