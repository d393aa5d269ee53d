#pragma once

// The end of a cue, with its streamer and the optional jump (auto-continue)
// to the next cue.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventCueEnd : public CueEvent {
public:
    explicit CueEventCueEnd(Passkey key) : CueEvent(key) {}

    static std::shared_ptr<CueEventCueEnd> cueEndEventWithCue(const std::shared_ptr<Cue>& cue);

    // Unset: the user default "cueEndStreamerColor".
    std::shared_ptr<Color> streamerColor() const;
    void setStreamerColor(std::shared_ptr<Color> color);  // "Change Cue End Streamer"
    // Unset: false.
    bool autoFollow() const { return autoFollow_.value_or(false); }
    void setAutoFollow(bool on);  // "Change Auto-continue"
    // Unset: the empty text.
    std::string autoFollowCueNumber() const { return autoFollowCueNumber_.value_or(std::string()); }
    void setAutoFollowCueNumber(std::string number);  // "Change Auto-continue"

    int32_t sortPriority() const override { return 99999; }
    std::string eventTypeString() const override { return "Event"; }
    uint32_t proxyCode() const override { return fourCharCode("end "); }
    Value eventProxy() const override;
    std::string eventListText() const override { return "- End -"; }
    std::string archiveClassName() const override { return "CueEventCueEnd"; }
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
    std::shared_ptr<Color> streamerColor_;
    std::optional<bool> autoFollow_;
    std::optional<std::string> autoFollowCueNumber_;
};

}  // namespace tollvane
