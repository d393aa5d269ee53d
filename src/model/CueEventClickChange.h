#pragma once

// A click change: a new click interval (or pattern) and new bar and beat
// punches from its position on.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/AutoPunchSettings.h"
#include "model/ClickPattern.h"
#include "model/CueEvent.h"

namespace tollvane {

class CueEventClickChange : public CueEvent, public AutoPunchSettings {
public:
    explicit CueEventClickChange(Passkey key)
        : CueEvent(key), AutoPunchSettings(static_cast<CueEvent&>(*this)) {}

    // Beat-locked at time stamp + 128 (the position passing through single
    // precision), code 6.
    static std::shared_ptr<CueEventClickChange> clickChangeEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                        double timeStamp);
    // initWithCue:clickNoteDuration:timeStamp:
    static std::shared_ptr<CueEventClickChange> clickChangeWithCue(const std::shared_ptr<Cue>& cue,
                                                                   int32_t clickNoteDuration,
                                                                   double timeStamp);

    bool changeClick() const { return changeClick_; }
    void setChangeClick(bool change);  // "Change Click Options"
    int32_t clickNoteDuration() const { return clickNoteDuration_; }
    void setClickNoteDuration(int32_t code);  // "Change Click Duration"
    void setClickNoteDurationAsNSNumber(const Value& code);
    const std::vector<uint32_t>& clickPattern() const { return clickPattern_; }
    void setClickPattern(std::vector<uint32_t> pattern);  // "Change Click Options"
    std::string clickPatternString() const;
    void setClickPatternString(std::string_view text);
    int32_t clocksPerClick() const;

    bool changePunches() const { return changePunches_; }
    void setChangePunches(bool change);  // "Change Auto Punch Options"
    // The beat punch's switch; the rest of the punch settings come from
    // AutoPunchSettings. -1: no beat punch.
    int32_t beatPunchNoteDuration() const { return beatPunchNoteDuration_; }
    void setBeatPunchNoteDuration(int32_t code);
    // Derived: the beat punch note duration is not -1.
    bool beatPunchEnabled() const;

    int32_t sortPriority() const override { return 101; }
    std::string eventTypeString() const override { return "Click Change"; }
    uint32_t proxyCode() const override { return fourCharCode("clix"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    // "Click Change Event at beat %@: (click change %@, punch change %@)".
    std::string description() const override;
    std::string archiveClassName() const override { return "CueEventClickChange"; }
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
    bool changeClick_ = true;
    int32_t clickNoteDuration_ = 6;
    std::vector<uint32_t> clickPattern_;
    bool changePunches_ = false;
    int32_t beatPunchNoteDuration_ = -1;
};

}  // namespace tollvane
