#pragma once

// The music-in (start) point of a cue.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventMusicIn : public CueEvent {
public:
    explicit CueEventMusicIn(Passkey key) : CueEvent(key) {}

    static std::shared_ptr<CueEventMusicIn> musicInEventWithCue(const std::shared_ptr<Cue>& cue);

    int32_t sortPriority() const override { return 99999; }
    std::string eventTypeString() const override { return "Event"; }
    uint32_t proxyCode() const override { return fourCharCode("mxin"); }
    std::string eventListText() const override { return "- Start -"; }
    std::string archiveClassName() const override { return "CueEventMusicIn"; }
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
};

}  // namespace tollvane
