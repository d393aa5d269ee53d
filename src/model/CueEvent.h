#pragma once

// Everything a cue places on its timeline is a cue event; this is their
// common base. An event owns its position ("lock time"), held three ways:
// in pre-roll-shifted beats, as a bar (user numbering) and as a timecode.
// The lock type says which of the three the user locked it by; the other two
// are derived from it after each compilation of the cue.
//
// Each kind (one subclass per file) adds its fields, archive keys, defaults,
// sort priority and event proxy: the dictionary of the values that matter to
// the compiled sequence. A change of a key that feeds the proxy makes the
// owning cue recompile; every setter that a user reaches registers undo with
// the cue's document under a fixed action name.
//
// Events are always held by shared_ptr (made by the kinds' factories or by
// decoding): undo steps and cue copies share them. An event refers to its
// cue weakly; the cue owns its events.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FourCharCode.h"
#include "platform/KeyValueObservable.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Archivable.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class AutoPunchSettings;
class Cue;
class Color;
class DocumentUndoController;
class KeyedArchiver;
class KeyedUnarchiver;

class CueEvent : public Archivable,
                 public UndoTarget,
                 public KeyValueObservable,
                 public std::enable_shared_from_this<CueEvent> {
protected:
    struct Passkey {
        explicit Passkey() = default;
    };
    // The punch settings that meter and click changes share set their fields
    // through the owner's undoable setter.
    friend class AutoPunchSettings;

public:
    static constexpr int32_t kLockTypeBeat = int32_t(fourCharCode("beat"));
    static constexpr int32_t kLockTypeBar = int32_t(fourCharCode("bar "));
    static constexpr int32_t kLockTypeTimecode = int32_t(fourCharCode("smpt"));

    // Positions below this are raised to it: the cue's bar 1 (the compiled
    // sequence's first 128 beats are pre-roll).
    static constexpr double kMinimumPrerollShiftedBeats = 128.0;

    // Use the factories (eventWithCue, the kinds' class operations).
    explicit CueEvent(Passkey);
    ~CueEvent() override;
    CueEvent(const CueEvent&) = delete;
    CueEvent& operator=(const CueEvent&) = delete;

    // initWithCue: / initWithNoCue. With a cue, undo on the cue's document is
    // switched off while the event is set up.
    static std::shared_ptr<CueEvent> eventWithCue(const std::shared_ptr<Cue>& cue);
    static std::shared_ptr<CueEvent> eventWithNoCue();

    std::shared_ptr<Cue> cue() const { return cue_.lock(); }
    void setCue(const std::shared_ptr<Cue>& cue);

    int32_t lockType() const { return lockType_; }
    // A kind that cannot take a type keeps its own (a meter change stays bar-locked).
    virtual void setLockType(int32_t lockType);
    // setLockTypeNumber: the undoable form the inspector uses.
    void setLockTypeNumber(const Value& lockType);
    // The lock setters register "Change Event Lock Time" (in setLockTime:
    // form) and ask the cue to recompile. A user's position below 128 is
    // raised to 128; positions written while lock times update automatically
    // (compilation's write-back, copies, decoding) are kept as given.
    double lockPrerollShiftedBeats() const { return lockPrerollShiftedBeats_; }
    void setLockPrerollShiftedBeats(double beats);
    int32_t lockBar() const { return lockBar_; }
    void setLockBar(int32_t bar);
    std::shared_ptr<EMTimecode> lockTimecode() const { return lockTimecode_; }
    void setLockTimecode(std::shared_ptr<EMTimecode> timecode);

    // While set, no setter of the event registers undo or asks the cue to
    // recompile.
    bool lockTimesAreUpdatingAutomatically() const { return lockTimesAreUpdatingAutomatically_; }
    void setLockTimesAreUpdatingAutomatically(bool flag) { lockTimesAreUpdatingAutomatically_ = flag; }
    bool notifyOnLockTimeUpdates() const { return notifyOnLockTimeUpdates_; }
    void setNotifyOnLockTimeUpdates(bool flag) { notifyOnLockTimeUpdates_ = flag; }

    // {"lockType": code, "lockTime": the timecode (timecode-locked) or the beats}.
    Value lockTime() const;
    // A lockTime dictionary (its type wins) or a bare value read in the
    // event's own lock type.
    void setLockTime(const Value& lockTime);

    // Through the document's formatters ("-" for an unknown lock type).
    std::string lockTimeString() const;
    void setLockTimeString(const Value& text);
    // "____" without a cue.
    std::string lockTimeAttributedString() const;
    void setLockTimeAttributedString(const Value& text);

    // Timecode-locked: the sync controller's current timecode; beat- and
    // bar-locked: the position (or bar) of that timecode in the cue.
    void setLockTimeToNow();
    void nudge(int64_t amount);
    void updateLockTimesFromPrerollShiftedBeats();
    void convertLockTimecodeToFramerate(EMTimecodeFramerate framerate);

    // -1, 0, 1 by lock position, and by lock timecode seconds.
    int compareTime(const CueEvent& other) const;
    int compareTimecode(const CueEvent& other) const;
    // "%07.0f|%05d": hundredths of a beat, then the sort priority.
    std::string sortString() const;

    virtual int32_t sortPriority() const { return 99999; }
    virtual std::string eventTypeString() const { return "Event"; }
    virtual uint32_t proxyCode() const { return fourCharCode("none"); }
    // {"type": proxy code, ...the kind's sequence-relevant values}.
    virtual Value eventProxy() const;
    virtual bool canLockToBeat() const { return true; }
    virtual bool canLockToBar() const { return true; }
    virtual bool canLockToTimecode() const { return true; }
    virtual bool lockTimesShouldUpdateImmediately() const { return true; }
    // The event list's text for this event (empty: nothing drawn).
    virtual std::string eventListText() const { return {}; }

    // "%@ ( bar %@ | beat %@ | tc %@ ) cue = %@".
    virtual std::string description() const;

    // copyWithZone: a new event of the same kind on the same cue.
    std::shared_ptr<CueEvent> copy() const;

    // Archiving: the base keys, then the kind's.
    std::string archiveClassName() const override { return "CueEvent"; }
    std::vector<std::string> archiveClassChain() const override;
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Registers the factory of every kind (repeated calls do nothing).
    static void registerArchiveClasses();

    // Undo: the operation is the setter's selector ("setLockTime:").
    void performUndoOperation(const std::string& operation, const Value& argument) override;

    // Asks the cue to recompile unless lock times are updating automatically.
    void updateCueSequence();

protected:
    // Makes an event of the kind and runs initWithCue / initWithNoCue on it.
    template <class Kind>
    static std::shared_ptr<Kind> makeEvent(const std::shared_ptr<Cue>& cue) {
        auto event = std::make_shared<Kind>(Passkey{});
        event->initWithCue(cue);
        return event;
    }
    // Sets the cue and the base defaults (undo off on the cue's document
    // meanwhile), then the kind's defaults (initKindDefaults).
    void initWithCue(const std::shared_ptr<Cue>& cue);
    virtual void initKindDefaults() {}

    // A new event of the same kind, for copy().
    virtual std::shared_ptr<CueEvent> makeEmptyCopy() const;
    // The kind's fields, through their setters (lock times are updating
    // automatically meanwhile).
    virtual void copyKindFieldsTo(CueEvent& /*copy*/) const {}

    virtual void encodeKindFields(KeyedArchiver& /*coder*/) const {}
    virtual void decodeKindFields(KeyedUnarchiver& /*coder*/) {}
    // Decoding: the base keys with lock times updating automatically, then
    // the kind's keys.
    void decodeWithCoder(KeyedUnarchiver& coder);
    template <class Kind>
    static std::shared_ptr<Archivable> decodeEvent(KeyedUnarchiver& coder) {
        auto event = std::make_shared<Kind>(Passkey{});
        event->decodeWithCoder(coder);
        return event;
    }
    // Reads an object key only when it is present, so a record written
    // without it keeps the new event's default.
    static bool decodeIfPresent(KeyedUnarchiver& coder, std::string_view key, Value& value);

    // Keys whose change changes the event proxy (and so recompiles the cue).
    virtual bool keyAffectsEventProxy(std::string_view /*key*/) const { return false; }
    // Every change announced through didChangeValueForKey comes here first.
    void observeOwnChange(std::string_view key) override;

    // The cue's document's undo controller; null without cue or document.
    DocumentUndoController* undoController() const;
    // Registers `operation` with the old value (coalescing or discrete);
    // nothing without an undo controller.
    void registerUndo(const std::string& operation, const Value& oldValue, const std::string& actionName,
                      bool coalescing = false);
    // The shape of most setters: registers `operation` with the field's old
    // value (fieldValue), stores the new value and announces `key`.
    template <class Field, class New>
    void setUndoableField(Field& field, New&& newValue, const char* operation, std::string_view key,
                          const char* actionName, bool coalescing = false) {
        registerUndo(operation, fieldValue(field), actionName, coalescing);
        field = std::forward<New>(newValue);
        didChangeValueForKey(key);
    }
    // A field as undo steps (and most archive keys) carry it: colours as
    // colour objects, unset optionals as nil, vectors as arrays, scalars and
    // strings as themselves.
    static Value fieldValue(const std::shared_ptr<Color>& color) { return colorValue(color); }
    template <class T>
    static Value fieldValue(const std::optional<T>& field) {
        return field ? fieldValue(*field) : Value();
    }
    template <class T>
    static Value fieldValue(const std::vector<T>& items) {
        std::vector<Value> values;
        values.reserve(items.size());
        for (const T& item : items) values.push_back(fieldValue(item));
        return Value::array(std::move(values));
    }
    template <class T>
    static Value fieldValue(const T& field) {
        return Value(field);
    }
    // The kinds' undo operations; answers whether it was one of theirs.
    virtual bool performKindUndoOperation(const std::string& /*operation*/, const Value& /*argument*/) {
        return false;
    }

    // The bar (user numbering) of a position in the cue's sequence; -32
    // without a sequence.
    int32_t barForPrerollShiftedBeats(double beats) const;

    // Colour helpers shared by the kinds: a colour Value from a Color, and
    // the Color of a Value holding a colour or archived colour data.
    static Value colorValue(const std::shared_ptr<Color>& color);
    static std::shared_ptr<Color> colorFromValue(const Value& value);
    // Calibrated white, the kinds' default colour.
    static std::shared_ptr<Color> whiteColor();
    // A colour kept in the user defaults as archived colour data; null when
    // unset. The colour last read for a key is kept with its bytes and
    // answered again (colours are immutable) until the bytes change.
    static std::shared_ptr<Color> colorFromUserDefaults(const char* key);

    // A number as the event list and descriptions print it: "3", "2.5".
    static std::string numberText(double value);
    static std::string numberText(float value);

    // Switches undo registration off on the cue's document for its lifetime
    // and then restores the state it found (factories build events with it).
    class UndoSuspension {
    public:
        explicit UndoSuspension(const std::shared_ptr<Cue>& cue);
        ~UndoSuspension();
        UndoSuspension(const UndoSuspension&) = delete;
        UndoSuspension& operator=(const UndoSuspension&) = delete;

    private:
        DocumentUndoController* controller_ = nullptr;
        bool wasEnabled_ = false;
    };

private:
    void storeLockPrerollShiftedBeats(double beats);
    // {"lockType": type, "lockTime": time}, the form setLockTime reads.
    static Value lockTimeDictionary(int32_t lockType, const Value& time);

    std::weak_ptr<Cue> cue_;
    int32_t lockType_ = kLockTypeBeat;
    double lockPrerollShiftedBeats_ = kMinimumPrerollShiftedBeats;
    int32_t lockBar_ = 0;
    std::shared_ptr<EMTimecode> lockTimecode_;
    bool lockTimesAreUpdatingAutomatically_ = false;
    bool notifyOnLockTimeUpdates_ = false;
};

}  // namespace tollvane
