#include "model/CueEvent.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/BarBeatFormatter.h"
#include "model/Cue.h"
#include "model/CueEnvironment.h"
#include "model/CueEventBarNumberChange.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicSequence.h"
#include "timebase/EMTimecodeFormatter.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr const char* kLockTimeActionName = "Change Event Lock Time";
constexpr const char* kLockTypeActionName = "Change Event Lock Type";
constexpr const char* kSetLockTime = "setLockTime:";
constexpr const char* kSetLockTypeNumber = "setLockTypeNumber:";
// Carried beside "lockTime" in the undo step of a bar edit, so the undo
// restores the very bar even when the beats are stale (no compilation yet).
constexpr const char* kUndoLockBarKey = "lockBar";

// Restores the automatic-update flag to what it was when the scope began.
class AutomaticUpdates {
public:
    explicit AutomaticUpdates(CueEvent& event)
        : event_(event), previous_(event.lockTimesAreUpdatingAutomatically()) {
        event_.setLockTimesAreUpdatingAutomatically(true);
    }
    ~AutomaticUpdates() { event_.setLockTimesAreUpdatingAutomatically(previous_); }
    AutomaticUpdates(const AutomaticUpdates&) = delete;
    AutomaticUpdates& operator=(const AutomaticUpdates&) = delete;

private:
    CueEvent& event_;
    bool previous_;
};

// The class a value would have on the platform, for the log.
std::string valueClassName(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return "nil";
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Real:
            return "NSNumber";
        case Value::Type::String:
            return "NSString";
        case Value::Type::Data:
            return "NSData";
        case Value::Type::Array:
            return "NSArray";
        case Value::Type::Dictionary:
            return "NSDictionary";
        case Value::Type::Object:
            return value.objectValue() ? value.objectValue()->archiveClassName() : "nil";
    }
    return "nil";
}

std::string timecodeText(const std::shared_ptr<EMTimecode>& timecode) {
    return timecode ? timecode->description() : "(null)";
}

}  // namespace

// --- Construction -------------------------------------------------------------

CueEvent::CueEvent(Passkey) {}

CueEvent::~CueEvent() {
    // The compiled sequence still holds what this event added.
    if (auto cue = cue_.lock()) cue->updateSequence();
}

std::shared_ptr<CueEvent> CueEvent::eventWithCue(const std::shared_ptr<Cue>& cue) {
    return makeEvent<CueEvent>(cue);
}

std::shared_ptr<CueEvent> CueEvent::eventWithNoCue() {
    return makeEvent<CueEvent>(nullptr);
}

void CueEvent::initWithCue(const std::shared_ptr<Cue>& cue) {
    cue_ = cue;
    UndoSuspension noUndo(cue);
    lockType_ = kLockTypeBeat;
    lockPrerollShiftedBeats_ = kMinimumPrerollShiftedBeats;
    lockBar_ = 0;
    lockTimecode_.reset();
    initKindDefaults();
}

void CueEvent::setCue(const std::shared_ptr<Cue>& cue) {
    cue_ = cue;
}

CueEvent::UndoSuspension::UndoSuspension(const std::shared_ptr<Cue>& cue) {
    Document* document = cue ? cue->document() : nullptr;
    if (!document) return;
    controller_ = &document->undoController();
    wasEnabled_ = controller_->undoEnabled();
    controller_->setUndoEnabled(false);
}

CueEvent::UndoSuspension::~UndoSuspension() {
    // Restoring rather than switching on keeps a document that is loading
    // (undo already off) from getting its undo switched on underneath it.
    if (controller_ && wasEnabled_) controller_->setUndoEnabled(true);
}

// --- Lock setters ---------------------------------------------------------------

void CueEvent::setLockType(int32_t lockType) {
    const bool refused = (lockType == kLockTypeBeat && !canLockToBeat()) ||
                         (lockType == kLockTypeBar && !canLockToBar()) ||
                         (lockType == kLockTypeTimecode && !canLockToTimecode());
    if (refused) return;
    if (!lockTimesAreUpdatingAutomatically_) {
        registerUndo(kSetLockTypeNumber, Value(int64_t{lockType_}), kLockTypeActionName);
    }
    lockType_ = lockType;
    didChangeValueForKey("lockType");
    didChangeValueForKey("lockTime");
}

void CueEvent::setLockTypeNumber(const Value& lockType) {
    if (!lockType.isNumber()) return;
    setLockType(static_cast<int32_t>(lockType.toInt64()));
}

void CueEvent::storeLockPrerollShiftedBeats(double beats) {
    if (!std::isfinite(beats)) beats = kMinimumPrerollShiftedBeats;
    // Compilation writes positions it derived (a timecode-locked tempo change
    // may lie before the cue's start) and must see them kept as they are.
    if (!lockTimesAreUpdatingAutomatically_ && beats < kMinimumPrerollShiftedBeats) {
        beats = kMinimumPrerollShiftedBeats;
    }
    lockPrerollShiftedBeats_ = beats;
}

void CueEvent::setLockPrerollShiftedBeats(double beats) {
    if (!lockTimesAreUpdatingAutomatically_) {
        registerUndo(kSetLockTime, lockTimeDictionary(kLockTypeBeat, Value(lockPrerollShiftedBeats_)),
                     kLockTimeActionName);
    }
    storeLockPrerollShiftedBeats(beats);
    didChangeValueForKey("lockPrerollShiftedBeats");
    didChangeValueForKey("lockTime");
    updateCueSequence();
}

void CueEvent::setLockBar(int32_t bar) {
    if (!lockTimesAreUpdatingAutomatically_) {
        Value previous = lockTimeDictionary(kLockTypeBar, Value(lockPrerollShiftedBeats_));
        previous.dictionaryValue()->set(kUndoLockBarKey, Value(int64_t{lockBar_}));
        registerUndo(kSetLockTime, previous, kLockTimeActionName);
        if (bar < 0) TLLog("%s setting lock bar to %d", description().c_str(), bar);
    }
    lockBar_ = bar;
    didChangeValueForKey("lockBar");
    didChangeValueForKey("lockTime");
    updateCueSequence();
}

void CueEvent::setLockTimecode(std::shared_ptr<EMTimecode> timecode) {
    if (!lockTimesAreUpdatingAutomatically_) {
        // A copy: the undo step must not follow later changes of the old object.
        registerUndo(
            kSetLockTime,
            lockTimeDictionary(kLockTypeTimecode, lockTimecode_ ? Value(lockTimecode_->copy()) : Value()),
            kLockTimeActionName);
    }
    lockTimecode_ = std::move(timecode);
    didChangeValueForKey("lockTimecode");
    didChangeValueForKey("lockTime");
    updateCueSequence();
}

// --- Lock time dictionaries and text -----------------------------------------------

Value CueEvent::lockTimeDictionary(int32_t lockType, const Value& time) {
    Value dictionary = Value::dictionary();
    dictionary.dictionaryValue()->set("lockType", Value(int64_t{lockType}));
    dictionary.dictionaryValue()->set("lockTime", time);
    return dictionary;
}

Value CueEvent::lockTime() const {
    if (lockType_ == kLockTypeTimecode) {
        return lockTimeDictionary(lockType_, lockTimecode_ ? Value(lockTimecode_) : Value());
    }
    return lockTimeDictionary(lockType_, Value(lockPrerollShiftedBeats_));
}

void CueEvent::setLockTime(const Value& lockTime) {
    int32_t type = lockType_;
    Value time = lockTime;
    std::optional<int32_t> exactBar;
    if (const auto& dictionary = lockTime.dictionaryValue()) {
        if (const Value* code = dictionary->find("lockType"); code && code->isNumber()) {
            type = static_cast<int32_t>(code->toInt64());
        }
        const Value* value = dictionary->find("lockTime");
        time = value ? *value : Value();
        if (const Value* bar = dictionary->find(kUndoLockBarKey); bar && bar->isNumber()) {
            exactBar = static_cast<int32_t>(bar->toInt64());
        }
    }

    if (type == kLockTypeTimecode) {
        if (time.isNull()) {
            setLockTimecode(nullptr);
        } else if (auto timecode = time.object<EMTimecode>()) {
            setLockTimecode(timecode->copy());
        }
    } else if (type == kLockTypeBeat) {
        if (time.isNumber()) setLockPrerollShiftedBeats(time.toDouble());
    } else if (type == kLockTypeBar) {
        if (exactBar) {
            setLockBar(*exactBar);
        } else if (time.isNumber()) {
            setLockBar(barForPrerollShiftedBeats(time.toDouble()));
        }
    }
}

std::string CueEvent::lockTimeString() const {
    const std::weak_ptr<Cue> weakCue = cue_;
    auto provider = [weakCue] { return weakCue.lock(); };
    if (lockType_ == kLockTypeTimecode) {
        return EMTimecodeFormatter().stringForObjectValue(lockTimecode_);
    }
    if (lockType_ == kLockTypeBeat || lockType_ == kLockTypeBar) {
        return BarBeatFormatter(provider, lockType_ == kLockTypeBar)
            .stringForObjectValue(lockPrerollShiftedBeats_);
    }
    return "-";
}

std::string CueEvent::lockTimeAttributedString() const {
    if (!cue_.lock()) return "____";
    return lockTimeString();
}

void CueEvent::setLockTimeString(const Value& text) {
    if (!text.isString()) {
        TLLog("Couldn't set lock time -- got a %s instead of NSString.", valueClassName(text).c_str());
        return;
    }
    if (lockType_ == kLockTypeTimecode) {
        setLockTimecode(EMTimecodeFormatter().getObjectValue(text.stringValue()));
        return;
    }
    if (lockType_ != kLockTypeBeat && lockType_ != kLockTypeBar) return;
    const std::weak_ptr<Cue> weakCue = cue_;
    BarBeatFormatter formatter([weakCue] { return weakCue.lock(); }, lockType_ == kLockTypeBar);
    const BarBeatFormatter::ParseResult parsed = formatter.getObjectValue(text.stringValue());
    if (!parsed.ok) {
        TLLog("%s", parsed.error.c_str());
        return;
    }
    setLockTime(lockTimeDictionary(lockType_, Value(parsed.beats)));
}

void CueEvent::setLockTimeAttributedString(const Value& text) {
    setLockTimeString(text);
}

// --- Moving ---------------------------------------------------------------------

void CueEvent::setLockTimeToNow() {
    std::shared_ptr<EMTimecode> now = CueEnvironment::current().currentTimecode();
    if (!now) return;
    if (lockType_ == kLockTypeTimecode) {
        setLockTimecode(now->copy());
    } else {
        auto cue = cue_.lock();
        if (!cue) return;
        // A bar-locked event takes the bar of that position: its beats alone
        // would be recomputed from the old bar by the next compilation.
        setLockTime(lockTimeDictionary(lockType_, Value(cue->prerollShiftedBeatsForTimecode(*now))));
    }
    updateCueSequence();
}

void CueEvent::nudge(int64_t amount) {
    if (lockType_ == kLockTypeTimecode) {
        if (!lockTimecode_) return;
        auto moved = lockTimecode_->copy();
        moved->addFrames(amount);
        setLockTimecode(moved);
    } else if (lockType_ == kLockTypeBeat) {
        setLockPrerollShiftedBeats(lockPrerollShiftedBeats_ + static_cast<double>(amount));
    } else if (lockType_ == kLockTypeBar) {
        setLockBar(textscan::clampToInt32(int64_t{lockBar_} + amount));
    }
}

int32_t CueEvent::barForPrerollShiftedBeats(double beats) const {
    auto cue = cue_.lock();
    std::shared_ptr<FFMusicSequence> sequence = cue ? cue->sequence() : nullptr;
    if (!sequence) return -32;
    return textscan::clampToInt32(int64_t{sequence->barBeatTimeForBeats(beats).bar} - 32);
}

void CueEvent::updateLockTimesFromPrerollShiftedBeats() {
    AutomaticUpdates automatic(*this);
    if (lockType_ != kLockTypeBar) setLockBar(barForPrerollShiftedBeats(lockPrerollShiftedBeats_));
    if (lockType_ != kLockTypeTimecode) {
        if (auto cue = cue_.lock())
            setLockTimecode(cue->timecodeForPrerollShiftedBeats(lockPrerollShiftedBeats_));
    }
}

void CueEvent::convertLockTimecodeToFramerate(EMTimecodeFramerate framerate) {
    if (lockType_ != kLockTypeTimecode || !lockTimecode_ || lockTimecode_->framerate() == framerate) return;
    // Replaced by a changed copy: readers of the old object keep what they hold.
    auto converted = lockTimecode_->copy();
    converted->setFramerate(framerate);
    lockTimecode_ = std::move(converted);
    didChangeValueForKey("lockTimecode");
    didChangeValueForKey("lockTime");
    updateCueSequence();
}

// --- Ordering and text ---------------------------------------------------------------

int CueEvent::compareTime(const CueEvent& other) const {
    if (lockPrerollShiftedBeats_ < other.lockPrerollShiftedBeats_) return -1;
    if (lockPrerollShiftedBeats_ > other.lockPrerollShiftedBeats_) return 1;
    return 0;
}

int CueEvent::compareTimecode(const CueEvent& other) const {
    // Events without a timecode come first.
    if (!lockTimecode_ || !other.lockTimecode_)
        return int(bool(lockTimecode_)) - int(bool(other.lockTimecode_));
    const double mine = lockTimecode_->secondsFromZero();
    const double theirs = other.lockTimecode_->secondsFromZero();
    if (mine < theirs) return -1;
    if (mine > theirs) return 1;
    return 0;
}

std::string CueEvent::sortString() const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%07.0f|%05d", std::round(lockPrerollShiftedBeats_ * 100.0),
                  sortPriority());
    return buffer;
}

Value CueEvent::eventProxy() const {
    Value proxy = Value::dictionary();
    proxy.dictionaryValue()->set("type", Value(int64_t{proxyCode()}));
    return proxy;
}

std::string CueEvent::description() const {
    auto cue = cue_.lock();
    return archiveClassName() + " ( bar " + std::to_string(lockBar_) + " | beat " +
           numberText(lockPrerollShiftedBeats_) + " | tc " + timecodeText(lockTimecode_) +
           " ) cue = " + (cue ? cue->title() : std::string("(null)"));
}

std::string CueEvent::numberText(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string CueEvent::numberText(float value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// --- Copies -------------------------------------------------------------------------

std::shared_ptr<CueEvent> CueEvent::makeEmptyCopy() const {
    return makeEvent<CueEvent>(cue());
}

std::shared_ptr<CueEvent> CueEvent::copy() const {
    std::shared_ptr<CueEvent> copy = makeEmptyCopy();
    {
        AutomaticUpdates automatic(*copy);
        copy->setLockType(lockType_);
        copy->setLockPrerollShiftedBeats(lockPrerollShiftedBeats_);
        copy->setLockBar(lockBar_);
        copy->setLockTimecode(lockTimecode_ ? lockTimecode_->copy() : nullptr);
        copyKindFieldsTo(*copy);
    }
    copy->setLockTimesAreUpdatingAutomatically(false);
    return copy;
}

// --- Archiving -------------------------------------------------------------------------

std::vector<std::string> CueEvent::archiveClassChain() const {
    const std::string name = archiveClassName();
    if (name == "CueEvent") return {name, "NSObject"};
    return {name, "CueEvent", "NSObject"};
}

void CueEvent::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeInt(lockType_, "lockType");
    coder.encodeObject(Value(int64_t{lockBar_}), "lockBar");
    coder.encodeObject(Value(lockPrerollShiftedBeats_), "lockPrerollShiftedBeats");
    coder.encodeObject(lockTimecode_ ? Value(lockTimecode_) : Value(), "lockTimecode");
    encodeKindFields(coder);
}

bool CueEvent::decodeIfPresent(KeyedUnarchiver& coder, std::string_view key, Value& value) {
    if (!coder.containsValueForKey(key)) return false;
    value = coder.decodeObject(key);
    return true;
}

void CueEvent::decodeWithCoder(KeyedUnarchiver& coder) {
    initWithCue(nullptr);
    {
        AutomaticUpdates automatic(*this);
        if (coder.containsValueForKey("lockType")) {
            setLockType(static_cast<int32_t>(coder.decodeInt("lockType")));
        }
        Value value;
        if (decodeIfPresent(coder, "lockBar", value) && value.isNumber()) {
            setLockBar(textscan::clampToInt32(value.toInt64()));
        }
        if (decodeIfPresent(coder, "lockPrerollShiftedBeats", value) && value.isNumber()) {
            setLockPrerollShiftedBeats(value.toDouble());
        }
        if (decodeIfPresent(coder, "lockTimecode", value)) setLockTimecode(value.object<EMTimecode>());
        decodeKindFields(coder);
    }
    setLockTimesAreUpdatingAutomatically(false);
}

void CueEvent::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        EMTimecode::registerArchiveClass();
        ArchiveClassRegistry::registerClass("CueEvent", &CueEvent::decodeEvent<CueEvent>);
        CueEventCountoff::registerArchiveClass();
        CueEventSoundCue::registerArchiveClass();
        CueEventBarNumberChange::registerArchiveClass();
        CueEventMeterChange::registerArchiveClass();
        CueEventClickChange::registerArchiveClass();
        CueEventTempoChange::registerArchiveClass();
        CueEventStreamer::registerArchiveClass();
        CueEventPunch::registerArchiveClass();
        CueEventCueEnd::registerArchiveClass();
        CueEventMusicIn::registerArchiveClass();
    });
}

// --- Undo and change propagation ------------------------------------------------------------

void CueEvent::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kSetLockTime) {
        setLockTime(argument);
    } else if (operation == kSetLockTypeNumber) {
        setLockTypeNumber(argument);
    } else {
        performKindUndoOperation(operation, argument);
    }
}

void CueEvent::updateCueSequence() {
    if (lockTimesAreUpdatingAutomatically_) return;
    if (auto cue = cue_.lock()) cue->updateSequence();
}

void CueEvent::observeOwnChange(std::string_view key) {
    if (key == "eventProxy" || keyAffectsEventProxy(key)) updateCueSequence();
}

DocumentUndoController* CueEvent::undoController() const {
    auto cue = cue_.lock();
    Document* document = cue ? cue->document() : nullptr;
    return document ? &document->undoController() : nullptr;
}

void CueEvent::registerUndo(const std::string& operation, const Value& oldValue,
                            const std::string& actionName, bool coalescing) {
    // Copies and decoding set their fields with this flag up: no user edit.
    if (lockTimesAreUpdatingAutomatically_) return;
    DocumentUndoController* controller = undoController();
    std::shared_ptr<CueEvent> self = weak_from_this().lock();
    if (!controller || !self) return;
    if (coalescing) {
        controller->registerUndoWithTarget(self, operation, oldValue, actionName);
    } else {
        controller->registerDiscreteUndoWithTarget(self, operation, oldValue, actionName);
    }
}

// --- Colours ----------------------------------------------------------------------------------

Value CueEvent::colorValue(const std::shared_ptr<Color>& color) {
    return color ? Value(color) : Value();
}

std::shared_ptr<Color> CueEvent::colorFromValue(const Value& value) {
    if (value.isData()) return Color::fromArchivedData(value.dataValue());
    return value.object<Color>();
}

std::shared_ptr<Color> CueEvent::whiteColor() {
    return Color::calibrated(1.0, 1.0, 1.0);
}

std::shared_ptr<Color> CueEvent::colorFromUserDefaults(const char* key) {
    // Compilation asks for these colours once per count-off, and unarchiving
    // is what costs; comparing the bytes is cheap and still sees a changed
    // default. Per thread, so no lock is needed.
    struct Remembered {
        std::string key;
        Data data;
        std::shared_ptr<Color> color;
    };
    thread_local std::vector<Remembered> remembered;

    const Value stored = UserDefaults::standardUserDefaults().objectForKey(key);
    const Data& data = stored.dataValue();
    if (data.empty()) return nullptr;
    auto entry = std::find_if(remembered.begin(), remembered.end(),
                              [key](const Remembered& r) { return r.key == key; });
    if (entry == remembered.end()) {
        entry = remembered.insert(remembered.end(), Remembered{key, {}, nullptr});
    } else if (entry->data == data) {
        return entry->color;
    }
    entry->data = data;
    entry->color = Color::fromArchivedData(data);
    return entry->color;
}

}  // namespace tollvane
