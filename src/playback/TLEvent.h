#pragma once

// The one real-time event record: a streamer, punch, cue-start flash, click,
// beeps, overlay-text change, reel mute or cue change. Its only field is the
// contents dictionary; every property is a key in it. Writing a value stores
// it (none removes the key) and announces the change of that key.
//
// Keys: "eventType" (four-character code), "eventLength" (streamer: feet;
// punch: holes; cue start and click: 1), "eventSize" (0 small, 1 regular,
// 2 large), "eventColor" (archived colour data, always calibrated RGB),
// "customName", "noteOn", "sysexArray", "beepCount", "beepTime",
// "beepPunches", "volume", "text", "cueNumber", "document" (the document's
// handle, for a cue change).
//
// Threads: an event belongs to one thread at a time; made on the sync thread
// for a visual click and handed over, otherwise main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FourCharCode.h"
#include "platform/KeyValueObservable.h"
#include "platform/archive/Archivable.h"
#include "platform/archive/Color.h"
#include "platform/archive/Value.h"

namespace tollvane {

class KeyedUnarchiver;

class TLEvent : public Archivable, public KeyValueObservable {
public:
    static constexpr uint32_t kStreamer = fourCharCode("stmr");
    static constexpr uint32_t kPunch = fourCharCode("pnch");
    static constexpr uint32_t kCueStart = fourCharCode("strt");
    static constexpr uint32_t kClick = fourCharCode("clix");
    static constexpr uint32_t kBeeps = fourCharCode("beep");
    static constexpr uint32_t kTextChange = fourCharCode("txch");
    static constexpr uint32_t kReelMute = fourCharCode("rmut");
    static constexpr uint32_t kCueChange = fourCharCode("qchg");

    // Empty contents.
    TLEvent();

    // Factories: length 3, size 1, green / length 1, size 1, white / ...
    static std::shared_ptr<TLEvent> streamerEvent();
    static std::shared_ptr<TLEvent> punchEvent();
    static std::shared_ptr<TLEvent> cueStartEvent();
    static std::shared_ptr<TLEvent> clickEvent();
    static std::shared_ptr<TLEvent> beepEvent();
    static std::shared_ptr<TLEvent> textChangeEvent();
    static std::shared_ptr<TLEvent> reelMuteEvent();
    static std::shared_ptr<TLEvent> cueChangeEvent();

    // The contents (a mutable dictionary shared with nobody else).
    const ValueDictionary& contents() const { return *contents_; }
    // The value under a key, or nil. The derived keys "eventName",
    // "defaultName", "sortInfo" and "inspectorShouldShow..." are computed.
    Value valueForKey(std::string_view key) const;
    // Stores (nil removes) and announces the key, then the derived keys that
    // follow from it; "eventColor" is stored as calibrated RGB colour data
    // whatever colour (or colour data) it is given, and anything that is no
    // colour is refused.
    void setValueForKey(std::string_view key, const Value& value);

    uint32_t eventType() const;
    void setEventType(uint32_t type);
    // Sets "eventColor" to an opaque calibrated RGB colour without a round
    // trip through archived data (the user-event path builds one per event).
    // Any thread that owns the event.
    void setColorWithRed(float red, float green, float blue);
    // The unarchived "eventColor" for streamers and punches; null otherwise.
    std::shared_ptr<Color> color() const;
    // A name for the kind and its settings: "3.0' regular streamer",
    // "1-hole punch, regular", "3 beeps (2.00 sec)", "click", "cue start";
    // an em dash for the rest.
    std::string defaultName() const;
    // "customName" when present, else defaultName.
    std::string eventName() const;
    // "TLEvent, contents = %@".
    std::string description() const;

    std::shared_ptr<TLEvent> copy() const;

    // Performs the event with a skip of "latencyCompensation" seconds for a
    // streamer and 0 for the rest. Main thread only: from any other thread
    // it logs a warning and does nothing.
    void trigger();
    // Performs the event as if `seconds` of it had already passed: reaches
    // the installed PlaybackApplication. Main thread only, as trigger().
    void triggerSkippingSeconds(float seconds);

    std::string archiveClassName() const override { return "TLEvent"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder);
    static void registerArchiveClass();

private:
    // A new event of a kind, and the factories' keys stored as given: a new
    // event has no observers yet, and the factories' colours are calibrated
    // already.
    static std::shared_ptr<TLEvent> eventOfType(uint32_t type);
    void store(std::string_view key, Value value) { contents_->set(key, std::move(value)); }
    // "sortInfo": the mapping table's sort key.
    std::string sortInfo() const;
    // The "inspectorShouldShow..." flags, by the rest of the key.
    bool inspectorShouldShow(std::string_view field) const;

    std::shared_ptr<ValueDictionary> contents_;
};

}  // namespace tollvane
