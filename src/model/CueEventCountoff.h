#pragma once

// A count-off: `countoffBeats` clicks of the note `countoffNoteDuration`
// leading into the event, with optional streamers into its first click and
// into the event itself.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventCountoff : public CueEvent {
public:
    explicit CueEventCountoff(Passkey key) : CueEvent(key) {}

    static std::shared_ptr<CueEventCountoff> countoffEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                  double timeStamp, int32_t beats,
                                                                  int32_t duration, bool clickOn,
                                                                  bool punchesOn, bool warningStreamerOn,
                                                                  bool goStreamerOn);
    // 4 beats of code 6, click on, punches off, both streamers on.
    static std::shared_ptr<CueEventCountoff> countoffEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                  double timeStamp);

    // Setters register "Change Countoff Event Options".
    int32_t countoffBeats() const { return countoffBeats_; }
    void setCountoffBeats(int32_t beats);
    int32_t countoffNoteDuration() const { return countoffNoteDuration_; }
    void setCountoffNoteDuration(int32_t code);
    bool audioClick() const { return audioClick_; }
    void setAudioClick(bool on);
    bool punchClick() const { return punchClick_; }
    void setPunchClick(bool on);
    bool streamerIntoFirstBeat() const { return streamerIntoFirstBeat_; }
    void setStreamerIntoFirstBeat(bool on);
    bool streamerIntoLockTime() const { return streamerIntoLockTime_; }
    void setStreamerIntoLockTime(bool on);
    // Unset: the user defaults "countoffWarningStreamerColor" and
    // "countoffDownbeatStreamerColor".
    std::shared_ptr<Color> streamerColorIntoFirstBeat() const;
    void setStreamerColorIntoFirstBeat(std::shared_ptr<Color> color);  // "Change Countoff Warning Streamer"
    std::shared_ptr<Color> streamerColorIntoLockTime() const;
    void setStreamerColorIntoLockTime(std::shared_ptr<Color> color);  // "Change Countoff Streamer"
    // Set by each compilation of the cue; not archived.
    double firstClickPrerollShiftedBeats() const { return firstClickPrerollShiftedBeats_; }
    void setFirstClickPrerollShiftedBeats(double beats) { firstClickPrerollShiftedBeats_ = beats; }

    int32_t sortPriority() const override { return 10; }
    std::string eventTypeString() const override { return "Countoff"; }
    uint32_t proxyCode() const override { return fourCharCode("ctff"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    bool canLockToTimecode() const override { return false; }
    std::string archiveClassName() const override { return "CueEventCountoff"; }
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
    int32_t countoffBeats_ = 4;
    int32_t countoffNoteDuration_ = 6;
    bool audioClick_ = true;
    bool punchClick_ = false;
    bool streamerIntoFirstBeat_ = true;
    bool streamerIntoLockTime_ = true;
    std::shared_ptr<Color> streamerColorIntoFirstBeat_;
    std::shared_ptr<Color> streamerColorIntoLockTime_;
    double firstClickPrerollShiftedBeats_ = 0.0;
};

}  // namespace tollvane
