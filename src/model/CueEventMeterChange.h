#pragma once

// A meter change, always placed on a bar, with the click and the bar and
// beat punches that hold from it on.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "playback/sequence/BarBeatTime.h"

#include "model/AutoPunchSettings.h"
#include "model/CueEvent.h"

namespace tollvane {

class CueEventMeterChange : public CueEvent, public AutoPunchSettings {
public:
    explicit CueEventMeterChange(Passkey key)
        : CueEvent(key), AutoPunchSettings(static_cast<CueEvent&>(*this)) {}

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

    // The beat punch's switch ("Change Auto Punch Options"); the rest of
    // the punch settings come from AutoPunchSettings.
    bool beatPunchEnabled() const { return beatPunchEnabled_; }
    void setBeatPunchEnabled(bool enabled);

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
    bool beatPunchEnabled_ = false;
};

}  // namespace tollvane
