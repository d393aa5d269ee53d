#pragma once

// A punch: a flash of `holes` holes at the event's position.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventPunch : public CueEvent {
public:
    explicit CueEventPunch(Passkey key) : CueEvent(key) {}

    // Beat-locked at time stamp + 128.
    static std::shared_ptr<CueEventPunch> punchEventWithCue(const std::shared_ptr<Cue>& cue,
                                                            std::shared_ptr<Color> color, int32_t holes,
                                                            float width, double timeStamp);

    std::shared_ptr<Color> color() const { return color_; }
    void setColor(std::shared_ptr<Color> color);  // "Change Punch Color"
    int32_t holes() const { return holes_; }
    void setHoles(int32_t holes);  // "Change Punch Holes"
    float width() const { return width_; }
    void setWidth(float width);  // "Change Punch Width"
    void setHolesAsNSNumber(const Value& holes);
    void setWidthAsNSNumber(const Value& width);

    // The user-event block: length word 20, 'pnch', red, green, blue (f32),
    // holes (u16), two zero bytes.
    std::vector<uint8_t> userEvent() const;

    int32_t sortPriority() const override { return 600; }
    std::string eventTypeString() const override { return "Punch"; }
    uint32_t proxyCode() const override { return fourCharCode("pnch"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    std::string archiveClassName() const override { return "CueEventPunch"; }
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
    std::shared_ptr<Color> color_;
    int32_t holes_ = 3;
    float width_ = 1.0f;
};

}  // namespace tollvane
