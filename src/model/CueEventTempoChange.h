#pragma once

// A tempo change: `bpm` beats of the note `noteDuration` a minute.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventTempoChange : public CueEvent {
public:
    explicit CueEventTempoChange(Passkey key) : CueEvent(key) {}

    // Beat-locked at time stamp + 128.
    static std::shared_ptr<CueEventTempoChange> tempoChangeEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                        double bpm, int32_t noteDuration,
                                                                        double timeStamp);

    double bpm() const { return bpm_; }
    void setBpm(double bpm);  // rounded to 0.001; "Change Tempo"
    int32_t noteDuration() const { return noteDuration_; }
    void setNoteDuration(int32_t code);  // "Change Tempo Base Duration"
    void setBpmAsNSNumber(const Value& bpm);
    void setNoteDurationAsNSNumber(const Value& code);
    // bpm x the quarter notes of the note duration.
    double quarterNoteBPM() const;

    int32_t sortPriority() const override { return 200; }
    std::string eventTypeString() const override { return "Tempo Change"; }
    uint32_t proxyCode() const override { return fourCharCode("tmpo"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    std::string archiveClassName() const override { return "CueEventTempoChange"; }
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
    double bpm_ = 120.0;
    int32_t noteDuration_ = 6;
};

}  // namespace tollvane
