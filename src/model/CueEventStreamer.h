#pragma once

// A streamer: a coloured bar that wipes across the picture for `feet` of film
// (1.5 feet a second) and ends at the event's position.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventStreamer : public CueEvent {
public:
    explicit CueEventStreamer(Passkey key) : CueEvent(key) {}

    // Beat-locked at time stamp + 128.
    static std::shared_ptr<CueEventStreamer> streamerEventWithCue(const std::shared_ptr<Cue>& cue,
                                                                  std::shared_ptr<Color> color, float feet,
                                                                  float width, double timeStamp);

    // Calibrated RGB; white by default.
    std::shared_ptr<Color> color() const { return color_; }
    void setColor(std::shared_ptr<Color> color);  // "Change Streamer Color", coalescing
    float feet() const { return feet_; }
    void setFeet(float feet);  // "Change Streamer Length", coalescing
    float width() const { return width_; }
    void setWidth(float width);  // "Change Streamer Width", coalescing
    void setFeetAsNSNumber(const Value& feet);
    void setWidthAsNSNumber(const Value& width);

    // The user-event block: length word 24, 'stmr', red, green, blue (f32),
    // seconds = feet x 0.6667 (f64).
    std::vector<uint8_t> userEvent() const;

    int32_t sortPriority() const override { return 500; }
    std::string eventTypeString() const override { return "Streamer"; }
    uint32_t proxyCode() const override { return fourCharCode("stmr"); }
    Value eventProxy() const override;
    std::string eventListText() const override;
    std::string archiveClassName() const override { return "CueEventStreamer"; }
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
    float feet_ = 3.0f;
    float width_ = 1.0f;
};

}  // namespace tollvane
