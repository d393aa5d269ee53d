#pragma once

// An ADR/Foley line or sound effect: locked to a timecode, with its text,
// tags, and the streamer, warning beeps and punches thrown ahead of it.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventSoundCue : public CueEvent {
public:
    explicit CueEventSoundCue(Passkey key) : CueEvent(key) {}

    // Locked to 1:00:00:00 at the project frame rate; the streamer and beep
    // fields from the user defaults.
    static std::shared_ptr<CueEventSoundCue> soundCueEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                  const std::string& text);

    const std::string& title() const { return title_; }
    void setTitle(std::string title);  // "Change Cue Title", coalescing
    const std::string& text() const { return text_; }
    void setText(std::string text);  // "Change Cue Overlay Text", coalescing
    const std::vector<std::string>& tags() const { return tags_; }
    void setTags(std::vector<std::string> tags);  // "Change Cue Tags"
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);  // "Disable Cue" / "Enable Cue"
    bool streamerEnabled() const { return streamerEnabled_; }
    void setStreamerEnabled(bool enabled);  // "Disable Cue Streamer" / "Enable Cue Streamer"
    double streamerFeet() const { return streamerFeet_; }
    void setStreamerFeet(double feet);  // "Change Streamer Length"
    std::shared_ptr<Color> streamerColor() const { return streamerColor_; }
    void setStreamerColor(std::shared_ptr<Color> color);  // "Change Streamer Color"
    bool beepsEnabled() const { return beepsEnabled_; }
    void setBeepsEnabled(bool enabled);  // "Disable Cue Beeps" / "Enable Cue Beeps"
    int32_t beepsCount() const { return beepsCount_; }
    void setBeepsCount(int32_t count);  // "Change Beep Options"
    double beepsSeconds() const { return beepsSeconds_; }
    void setBeepsSeconds(double seconds);  // "Change Beep Options"
    bool beepOnCuePoint() const { return beepOnCuePoint_; }
    void setBeepOnCuePoint(bool on);  // "Change Beep Options"
    bool punchOnEachBeep() const { return punchOnEachBeep_; }
    void setPunchOnEachBeep(bool on);  // "Change Beep Options"

    int32_t sortPriority() const override { return 20; }
    std::string eventTypeString() const override { return "ADR/Foley Cue"; }
    uint32_t proxyCode() const override { return fourCharCode("scue"); }
    Value eventProxy() const override;
    bool canLockToBeat() const override { return false; }
    bool canLockToBar() const override { return false; }
    std::string archiveClassName() const override { return "CueEventSoundCue"; }
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
    std::string title_;
    std::string text_;
    std::vector<std::string> tags_;
    bool enabled_ = true;
    bool streamerEnabled_ = true;
    double streamerFeet_ = 3.0;
    std::shared_ptr<Color> streamerColor_;
    bool beepsEnabled_ = false;
    int32_t beepsCount_ = 3;
    double beepsSeconds_ = 2.0;
    bool beepOnCuePoint_ = false;
    bool punchOnEachBeep_ = true;
};

}  // namespace tollvane
