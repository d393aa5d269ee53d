#include "model/Cue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "model/CueBarEditor.h"
#include "model/CueEnvironment.h"
#include "model/CueEvent.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventTempoChange.h"
#include "model/CueSequenceCompiler.h"
#include "model/Reel.h"
#include "platform/NotificationCenter.h"
#include "platform/RandomID.h"
#include "platform/RunLoop.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicPlayer.h"
#include "playback/FFMusicSequence.h"
#include "playback/TLEvent.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

constexpr const char* kSetTitle = "setTitle:";
constexpr const char* kSetOptionalDisplayText = "setOptionalDisplayText:";
constexpr const char* kSetSyncTimecode = "setSyncTimecode:";
constexpr const char* kSetSyncPrerollShiftedBeats = "setSyncPrerollShiftedBeats:";
constexpr const char* kSetReel = "setReel:";
constexpr const char* kSetBarNumberOffset = "setBarNumberOffset:";
constexpr const char* kAddEvent = "addEvent:";
constexpr const char* kRemoveEvent = "removeEvent:";
constexpr const char* kEventsNeedResorting = "eventsNeedResorting";

// Undo arguments are Values; a reel is not archivable, so the old reel rides
// in this box (undo arguments are never archived).
class ReelUndoArgument : public Archivable {
public:
    explicit ReelUndoArgument(std::shared_ptr<Reel> reel) : reel_(std::move(reel)) {}
    const std::shared_ptr<Reel>& reel() const { return reel_; }
    std::string archiveClassName() const override { return "TLReelUndoArgument"; }
    void encodeWithCoder(KeyedArchiver&) const override {}

private:
    std::shared_ptr<Reel> reel_;
};

std::vector<std::shared_ptr<CueEvent>> eventsOf(const Value& list) {
    std::vector<std::shared_ptr<CueEvent>> events;
    const auto& array = list.arrayValue();
    if (!array) return events;
    events.reserve(array->items.size());
    for (const auto& item : array->items) {
        if (auto event = item.object<CueEvent>()) events.push_back(std::move(event));
    }
    return events;
}

Value arrayOf(const std::vector<std::shared_ptr<CueEvent>>& events) {
    std::vector<Value> items;
    items.reserve(events.size());
    for (const auto& event : events) items.emplace_back(event);
    return Value::array(std::move(items));
}

// Nil for a missing object (a Value holding a null pointer is no nil).
template <class T>
Value objectOrNil(const std::shared_ptr<T>& object) {
    return object ? Value(object) : Value();
}

std::string format(const char* pattern, auto... args) {
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, args...);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

// --- Life cycle --------------------------------------------------------------

Cue::Cue(Passkey) : timingMap_(std::make_shared<CueTimingMap>()) {}

Cue::~Cue() {
    tearDown();
}

void Cue::initDefaults() {
    cueID_ = newRandomID();
    storeSyncTimecode(EMTimecode::timecodeWithFramerate(CueEnvironment::current().projectFramerate(), "1"));
    reel_ = Reel::timecodeReelSelectionMarker();
}

std::shared_ptr<Cue> Cue::create() {
    auto cue = std::make_shared<Cue>(Passkey{});
    cue->initDefaults();
    cue->reallyUpdateSequence();
    return cue;
}

std::shared_ptr<Archivable> Cue::decode(KeyedUnarchiver& coder) {
    auto cue = std::make_shared<Cue>(Passkey{});
    cue->decodeWithCoder(coder);
    return cue;
}

void Cue::decodeWithCoder(KeyedUnarchiver& coder) {
    // A decoded cue starts bare: whatever the file lacks stays zero.
    storeTitle(std::string());
    setUpdatesSuspended(true);

    cueID_ = static_cast<uint32_t>(coder.decodeInt("cueID"));
    auto timecode = coder.decodeObject("syncTimecode").object<EMTimecode>();
    storeSyncTimecode(timecode ? timecode->copy() : nullptr);
    barNumberOffset_.store(static_cast<int32_t>(coder.decodeInt("barNumberOffset")),
                           std::memory_order_release);
    setSyncPrerollShiftedBeats(coder.decodeObject("syncPrerollShiftedBeats"));
    storeTitle(coder.decodeObject("title").stringValue());
    const Value text = coder.decodeObject("optionalDisplayText");
    optionalDisplayText_ = text.isString() ? std::optional<std::string>(text.stringValue()) : std::nullopt;

    const auto self = shared_from_this();
    const std::pair<const char*, std::vector<std::shared_ptr<CueEvent>>*> lists[] = {
        {"tempoEvents", &tempoEvents_},
        {"meterEvents", &meterEvents_},
        {"trackEvents", &trackEvents_},
        {"countoffEvents", &countoffEvents_},
    };
    for (const auto& [key, list] : lists) {
        *list = eventsOf(coder.decodeObject(key));
        for (const auto& event : *list) event->setCue(self);
    }
    cueEndEvent_ = coder.decodeObject("cueEndEvent").object<CueEventCueEnd>();
    if (cueEndEvent_) cueEndEvent_->setCue(self);
    cueStartEvent_ = coder.decodeObject("cueStartEvent").object<CueEventMusicIn>();
    if (cueStartEvent_) cueStartEvent_->setCue(self);

    playbackStartTimeStamp_.store(coder.decodeDouble("playbackStartTimeStamp"), std::memory_order_release);
    warningBeats_.store(static_cast<uint32_t>(coder.decodeInt("warningBeats")), std::memory_order_release);
    warningBeatNoteDuration_.store(static_cast<int32_t>(coder.decodeInt("warningBeatNoteDuration")),
                                   std::memory_order_release);
    clickMuteSetting_.store(static_cast<uint32_t>(coder.decodeInt("clickMuteSetting")),
                            std::memory_order_release);

    setUpdatesSuspended(false);
    reallyUpdateSequence();

    willChangeValueForKey("reel");
    reelID_ = static_cast<uint32_t>(coder.decodeObject("reelID").toInt64());
    didChangeValueForKey("reel");
}

void Cue::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        EMTimecode::registerArchiveClass();
        CueEvent::registerArchiveClasses();
        ArchiveClassRegistry::registerClass("Cue", &Cue::decode);
    });
}

void Cue::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeInt(cueID_, "cueID");
    // A cue that never got an identity gets one now; the file sees it at the next save.
    if (cueID_ == 0) cueID_ = newRandomID();
    coder.encodeObject(arrayOf(tempoEvents_), "tempoEvents");
    coder.encodeObject(arrayOf(meterEvents_), "meterEvents");
    coder.encodeObject(arrayOf(trackEvents_), "trackEvents");
    coder.encodeObject(arrayOf(countoffEvents_), "countoffEvents");
    coder.encodeObject(objectOrNil(cueEndEvent_), "cueEndEvent");
    coder.encodeObject(objectOrNil(cueStartEvent_), "cueStartEvent");
    coder.encodeObject(objectOrNil(syncTimecode_), "syncTimecode");
    coder.encodeInt(barNumberOffsetValue(), "barNumberOffset");
    coder.encodeObject(Value(syncPrerollShiftedBeats()), "syncPrerollShiftedBeats");
    coder.encodeObject(Value(title_), "title");
    coder.encodeObject(optionalDisplayText_ ? Value(*optionalDisplayText_) : Value(), "optionalDisplayText");
    coder.encodeDouble(playbackStartTimeStamp(), "playbackStartTimeStamp");
    coder.encodeInt(warningBeats(), "warningBeats");
    coder.encodeInt(warningBeatNoteDuration(), "warningBeatNoteDuration");
    coder.encodeInt(clickMuteSetting(), "clickMuteSetting");
    coder.encodeObject(Value(int64_t{reel_ ? reel_->reelID() : reelID_}), "reelID");
}

std::shared_ptr<Cue> Cue::copy() const {
    auto copy = std::make_shared<Cue>(Passkey{});
    copy->initDefaults();
    copy->tempoEvents_ = tempoEvents_;
    copy->meterEvents_ = meterEvents_;
    copy->trackEvents_ = trackEvents_;
    copy->countoffEvents_ = countoffEvents_;
    {
        // Copying an event goes through its setters; that is no edit of this
        // cue's document.
        DocumentUndoController* undo = document() ? &document()->undoController() : nullptr;
        const bool undoWasEnabled = undo && undo->undoEnabled();
        if (undoWasEnabled) undo->setUndoEnabled(false);
        if (cueEndEvent_) {
            copy->cueEndEvent_ = std::dynamic_pointer_cast<CueEventCueEnd>(cueEndEvent_->copy());
        }
        if (cueStartEvent_) {
            copy->cueStartEvent_ = std::dynamic_pointer_cast<CueEventMusicIn>(cueStartEvent_->copy());
        }
        if (undoWasEnabled) undo->setUndoEnabled(true);
    }
    // The copied start and end events belong to the copy alone.
    if (copy->cueEndEvent_) copy->cueEndEvent_->setCue(copy);
    if (copy->cueStartEvent_) copy->cueStartEvent_->setCue(copy);
    copy->storeSyncTimecode(syncTimecode());
    {
        std::lock_guard lock(copy->lock_);
        copy->syncPrerollShiftedBeats_.store(syncPrerollShiftedBeats(), std::memory_order_release);
    }
    copy->playbackRateSetting_ = playbackRateSetting_;
    copy->reallyUpdateSequence();
    return copy;
}

void Cue::tearDown() {
    if (updateTimer_) {
        updateTimer_->invalidate();
        updateTimer_.reset();
    }
    // No setters here: nothing may register undo steps for a dying cue, and
    // the document may already be gone. The events hold this cue weakly, so
    // an event dying with the lists asks nothing of it.
    tempoEvents_.clear();
    meterEvents_.clear();
    trackEvents_.clear();
    countoffEvents_.clear();
    cueStartEvent_.reset();
    cueEndEvent_.reset();
    optionalDisplayText_.reset();
    title_.clear();
    reel_.reset();
    std::lock_guard lock(lock_);
    syncTimecode_.reset();
    timingMap_.reset();
}

std::string Cue::description() const {
    return format("Cue (%s); %d tempo events, %d meter events, %d track events, offset %d bar(s)",
                  title_.c_str(), static_cast<int>(tempoEvents_.size()),
                  static_cast<int>(meterEvents_.size()), static_cast<int>(trackEvents_.size()),
                  static_cast<int>(barNumberOffsetValue()));
}

// --- Identity, text and reel -----------------------------------------------

void Cue::storeTitle(std::string title) {
    title_ = std::move(title);
    isADRFoleyCue_.store(title_ == kADRFoleyCueTitle, std::memory_order_release);
}

void Cue::setTitle(std::string title) {
    const bool wasADRFoleyCue = isADRFoleyCue();
    willChangeValueForKey("title");
    willChangeValueForKey("displayText");
    registerUndo(kSetTitle, Value(title_), "Change Cue Title", true);
    storeTitle(std::move(title));
    didChangeValueForKey("title");
    didChangeValueForKey("displayText");
    // The ADR/Foley cue places its timecode-locked events differently.
    if (isADRFoleyCue() != wasADRFoleyCue) updateSequence();
}

void Cue::setOptionalDisplayText(std::optional<std::string> text) {
    willChangeValueForKey("optionalDisplayText");
    willChangeValueForKey("displayText");
    registerUndo(kSetOptionalDisplayText, optionalDisplayText_ ? Value(*optionalDisplayText_) : Value(),
                 "Change Cue Overlay Text", true);
    optionalDisplayText_ = std::move(text);
    didChangeValueForKey("optionalDisplayText");
    didChangeValueForKey("displayText");
}

std::string Cue::displayText() const {
    return optionalDisplayText_ ? *optionalDisplayText_ : title_;
}

void Cue::setDisplayText(std::string text) {
    if (text.empty()) {
        setOptionalDisplayText(std::nullopt);
    } else {
        setOptionalDisplayText(std::move(text));
    }
}

void Cue::storeSyncTimecode(std::shared_ptr<EMTimecode> timecode) {
    std::lock_guard lock(lock_);
    syncTimecode_ = std::move(timecode);
}

std::shared_ptr<EMTimecode> Cue::syncTimecode() const {
    // The stored timecode is never changed once stored (changes replace it),
    // so copying it outside the lock is safe.
    std::shared_ptr<EMTimecode> timecode;
    {
        std::lock_guard lock(lock_);
        timecode = syncTimecode_;
    }
    return timecode ? timecode->copy() : nullptr;
}

void Cue::setSyncTimecode(std::shared_ptr<EMTimecode> timecode) {
    willChangeValueForKey("syncTimecode");
    registerUndo(kSetSyncTimecode, objectOrNil(syncTimecode_), "Change Cue Sync Timecode", false);
    // A private copy: the caller may go on changing its own object.
    storeSyncTimecode(timecode ? timecode->copy() : nullptr);
    didChangeValueForKey("syncTimecode");
    // Timecode-locked events move with the sync point.
    updateSequence();
}

std::string Cue::syncTimecodeString() const {
    return syncTimecode_ ? syncTimecode_->stringRepresentation() : "-:--:--";
}

void Cue::setSyncTimecodeString(const std::string& text) {
    const EMTimecodeFramerate framerate =
        syncTimecode_ ? syncTimecode_->framerate() : CueEnvironment::current().projectFramerate();
    setSyncTimecode(EMTimecode::timecodeWithFramerate(framerate, text));
}

void Cue::setFramerate(int64_t framerateIndex) {
    if (!syncTimecode_) return;
    auto timecode = syncTimecode_->copy();
    timecode->setFramerate(EMTimecode::framerateForIndex(framerateIndex));
    willChangeValueForKey("syncTimecode");
    storeSyncTimecode(std::move(timecode));
    didChangeValueForKey("syncTimecode");
    updateSequence();
}

void Cue::setSyncPrerollShiftedBeats(const Value& beats) {
    willChangeValueForKey("syncPrerollShiftedBeats");
    registerUndo(kSetSyncPrerollShiftedBeats, Value(syncPrerollShiftedBeats()), "Change Cue Sync Bar/Beat",
                 false);
    {
        std::lock_guard lock(lock_);
        syncPrerollShiftedBeats_.store(beats.toDouble(0.0), std::memory_order_release);
    }
    didChangeValueForKey("syncPrerollShiftedBeats");
    updateSequence();
}

void Cue::setBarNumberOffset(const Value& offset) {
    willChangeValueForKey("barNumberOffset");
    registerUndo(kSetBarNumberOffset, barNumberOffset(), "Change Bar # Offset", false);
    barNumberOffset_.store(static_cast<int32_t>(offset.toInt64(0)), std::memory_order_release);
    didChangeValueForKey("barNumberOffset");
    if (Document* owner = document()) owner->barNumberOffsetDidChange();
}

void Cue::setReel(std::shared_ptr<Reel> reel) {
    willChangeValueForKey("reel");
    registerUndo(kSetReel, Value(std::make_shared<ReelUndoArgument>(reel_)), "Change Reel Assignment", false);
    reel_ = std::move(reel);
    didChangeValueForKey("reel");
    NotificationCenter::defaultCenter().postNotification(kReelSelectionByCueDidChangeNotification);
}

void Cue::registerUndo(const std::string& selector, const Value& oldValue, const std::string& actionName,
                       bool coalescing) {
    Document* owner = document();
    if (!owner) return;
    auto& undo = owner->undoController();
    const std::shared_ptr<UndoTarget> target = shared_from_this();
    if (coalescing) {
        undo.registerUndoWithTarget(target, selector, oldValue, actionName);
    } else {
        undo.registerDiscreteUndoWithTarget(target, selector, oldValue, actionName);
    }
}

void Cue::performUndoOperation(const std::string& operation, const Value& argument) {
    if (operation == kSetTitle) {
        setTitle(argument.stringValue());
    } else if (operation == kSetOptionalDisplayText) {
        setOptionalDisplayText(argument.isString() ? std::optional<std::string>(argument.stringValue())
                                                   : std::nullopt);
    } else if (operation == kSetSyncTimecode) {
        setSyncTimecode(argument.object<EMTimecode>());
    } else if (operation == kSetSyncPrerollShiftedBeats) {
        setSyncPrerollShiftedBeats(argument);
    } else if (operation == kSetReel) {
        auto box = argument.object<ReelUndoArgument>();
        setReel(box ? box->reel() : nullptr);
    } else if (operation == kSetBarNumberOffset) {
        setBarNumberOffset(argument);
    } else if (operation == kAddEvent) {
        addEvent(argument.object<CueEvent>());
    } else if (operation == kRemoveEvent) {
        removeEvent(argument.object<CueEvent>());
    } else if (operation == kEventsNeedResorting) {
        eventsNeedResorting();
    }
}

// --- Events and settings -----------------------------------------------------

void Cue::setCueStartEvent(std::shared_ptr<CueEventMusicIn> event) {
    if (event == cueStartEvent_) return;
    willChangeValueForKey("cueStartEvent");
    willChangeValueForKey("hasCueStartEvent");
    willChangeValueForKey("eventsForArrayController");
    cueStartEvent_ = std::move(event);
    didChangeValueForKey("cueStartEvent");
    didChangeValueForKey("hasCueStartEvent");
    didChangeValueForKey("eventsForArrayController");
    updateSequence();
}

void Cue::setCueEndEvent(std::shared_ptr<CueEventCueEnd> event) {
    if (event == cueEndEvent_) return;
    willChangeValueForKey("cueEndEvent");
    willChangeValueForKey("hasCueEndEvent");
    willChangeValueForKey("eventsForArrayController");
    cueEndEvent_ = std::move(event);
    didChangeValueForKey("cueEndEvent");
    didChangeValueForKey("hasCueEndEvent");
    didChangeValueForKey("eventsForArrayController");
    updateSequence();
}

void Cue::sortMeterEvents() {
    std::vector<std::pair<std::string, std::shared_ptr<CueEvent>>> keyed;
    keyed.reserve(meterEvents_.size());
    for (auto& event : meterEvents_) keyed.emplace_back(event->sortString(), std::move(event));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < keyed.size(); ++i) meterEvents_[i] = std::move(keyed[i].second);
}

void Cue::setPlaybackRateSetting(int32_t setting) {
    playbackRateSetting_ = setting;
    updateSequence();
}

// --- Event lists ------------------------------------------------------------------

bool Cue::holdsEvent(const CueEvent* event) const {
    if (event == cueStartEvent_.get() || event == cueEndEvent_.get()) return true;
    for (const auto* list : {&tempoEvents_, &meterEvents_, &trackEvents_, &countoffEvents_}) {
        for (const auto& held : *list) {
            if (held.get() == event) return true;
        }
    }
    return false;
}

void Cue::addEvent(const std::shared_ptr<CueEvent>& event) {
    if (!event || holdsEvent(event.get())) return;
    auto cueEnd = std::dynamic_pointer_cast<CueEventCueEnd>(event);
    auto musicIn = std::dynamic_pointer_cast<CueEventMusicIn>(event);

    // The event that a new start or end event replaces leaves through
    // removeEvent, in the same undo step, so that undoing the add brings it back.
    std::shared_ptr<CueEvent> replaced;
    if (cueEnd && cueEndEvent_) replaced = cueEndEvent_;
    if (musicIn && cueStartEvent_) replaced = cueStartEvent_;
    DocumentUndoController* undo = document() ? &document()->undoController() : nullptr;
    const bool grouped = replaced && undo;
    if (grouped) undo->undoManager().beginUndoGrouping();
    if (replaced) removeEvent(replaced);

    willChangeValueForKey("eventsForArrayController");
    event->setCue(shared_from_this());
    if (cueEnd) {
        willChangeValueForKey("cueEndEvent");
        willChangeValueForKey("hasCueEndEvent");
        cueEndEvent_ = std::move(cueEnd);
        didChangeValueForKey("cueEndEvent");
        didChangeValueForKey("hasCueEndEvent");
    } else if (musicIn) {
        willChangeValueForKey("cueStartEvent");
        willChangeValueForKey("hasCueStartEvent");
        cueStartEvent_ = std::move(musicIn);
        didChangeValueForKey("cueStartEvent");
        didChangeValueForKey("hasCueStartEvent");
    } else if (dynamic_cast<CueEventTempoChange*>(event.get())) {
        tempoEvents_.push_back(event);
    } else if (dynamic_cast<CueEventMeterChange*>(event.get()) ||
               dynamic_cast<CueEventClickChange*>(event.get())) {
        meterEvents_.push_back(event);
    } else if (dynamic_cast<CueEventCountoff*>(event.get())) {
        countoffEvents_.push_back(event);
    } else {
        trackEvents_.push_back(event);
    }
    registerUndo(kRemoveEvent, Value(event), "Add " + event->eventTypeString(), false);
    if (undo) undo->removeDeletedObject(Value(event));
    didChangeValueForKey("eventsForArrayController");
    if (grouped) undo->undoManager().endUndoGrouping();
    updateSequence();
}

void Cue::removeEvent(const std::shared_ptr<CueEvent>& event) {
    // An event this cue does not hold has nothing to remove, and an undo
    // step for it would add a stranger.
    if (!event || !holdsEvent(event.get())) return;
    willChangeValueForKey("eventsForArrayController");
    registerUndo(kAddEvent, Value(event), "Delete Event", false);
    if (Document* owner = document()) owner->undoController().addDeletedObject(Value(event));
    for (auto* list : {&tempoEvents_, &meterEvents_, &trackEvents_, &countoffEvents_}) {
        std::erase_if(*list, [&event](const std::shared_ptr<CueEvent>& held) { return held == event; });
    }
    if (cueEndEvent_ == event) {
        willChangeValueForKey("cueEndEvent");
        willChangeValueForKey("hasCueEndEvent");
        cueEndEvent_.reset();
        didChangeValueForKey("cueEndEvent");
        didChangeValueForKey("hasCueEndEvent");
    }
    if (cueStartEvent_ == event) {
        willChangeValueForKey("cueStartEvent");
        willChangeValueForKey("hasCueStartEvent");
        cueStartEvent_.reset();
        didChangeValueForKey("cueStartEvent");
        didChangeValueForKey("hasCueStartEvent");
    }
    didChangeValueForKey("eventsForArrayController");
    updateSequence();
}

std::vector<std::shared_ptr<CueEvent>> Cue::eventsForArrayController() {
    auto events = allEvents();
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a->compareTime(*b) < 0; });
    updateSequence();
    return events;
}

void Cue::eventsNeedResorting() {
    sortMeterEvents();
    registerUndo(kEventsNeedResorting, Value(), "Re-Sort Events", false);
    NotificationCenter::defaultCenter().postNotification(kEventsShouldResortNotification);
}

void Cue::deleteBars(int32_t count, int32_t startingAtBar) {
    CueBarEditor(shared_from_this()).deleteBars(count, startingAtBar);
}

void Cue::insertBars(int32_t count, int32_t beforeBar, int32_t usingTempo) {
    CueBarEditor(shared_from_this()).insertBars(count, beforeBar, usingTempo);
}

std::vector<std::shared_ptr<CueEvent>> Cue::allEvents() const {
    std::vector<std::shared_ptr<CueEvent>> events;
    events.reserve(tempoEvents_.size() + meterEvents_.size() + trackEvents_.size() + countoffEvents_.size() +
                   2);
    for (const auto* list : {&tempoEvents_, &meterEvents_, &trackEvents_, &countoffEvents_})
        events.insert(events.end(), list->begin(), list->end());
    if (cueStartEvent_) events.push_back(cueStartEvent_);
    if (cueEndEvent_) events.push_back(cueEndEvent_);
    return events;
}

// --- Compilation ---------------------------------------------------------------

void Cue::setUpdatesSuspended(bool suspended) {
    updatesSuspended_ = suspended;
    if (!suspended && updateRequestedWhileSuspended_) {
        updateRequestedWhileSuspended_ = false;
        updateSequence();
    }
}

void Cue::updateSequence() {
    if (updatesSuspended_) {
        updateRequestedWhileSuspended_ = true;
        return;
    }
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (!loop) {
        reallyUpdateSequence();
        return;
    }
    if (updateTimer_) updateTimer_->invalidate();
    std::weak_ptr<Cue> weakCue = weak_from_this();
    updateTimer_ = loop->scheduleTimer(kUpdateDelay, false, [weakCue]() {
        if (auto cue = weakCue.lock()) cue->reallyUpdateSequence();
    });
}

bool Cue::sequenceNamesDocument() const {
    const auto end = cueEndEvent();
    return end && end->autoFollow() && !end->autoFollowCueNumber().empty();
}

void Cue::reallyUpdateSequence() {
    if (CueEnvironment::current().cuePlayerIsPlaying()) {
        // Without a run loop there is nothing to postpone to; the next
        // request after playback rebuilds.
        if (RunLoop::mainIfInstalled()) updateSequence();
        return;
    }
    sortMeterEvents();
    if (updateTimer_) {
        updateTimer_->invalidate();
        updateTimer_.reset();
    }
    if (updatesSuspended_) return;

    willChangeValueForKey("sequence");
    auto sequence = CueSequenceCompiler(*this, CueSequenceCompiler::Settings::current()).calculatedSequence();
    if (sequence) updateCountoffFirstClicks(*sequence);
    const double length = cueEndEvent_ ? cueEndEvent_->lockPrerollShiftedBeats() : 100000.0;
    publish(std::make_shared<const CueTimingMap>(sequence, CueTimingMap::meterRecordsOf(meterEvents_),
                                                 CueTimingMap::countoffRecordsOf(countoffEvents_), length));
    didChangeValueForKey("sequence");

    // The derived bars and timecodes follow the new map.
    for (const auto& event : allEvents()) event->updateLockTimesFromPrerollShiftedBeats();

    NotificationCenter::defaultCenter().postNotification(kSequenceDidChangeNotification);
}

void Cue::updateCountoffFirstClicks(const FFMusicSequence& sequence) {
    for (const auto& event : countoffEvents_) {
        auto countoff = std::dynamic_pointer_cast<CueEventCountoff>(event);
        if (!countoff) continue;
        const double lock = countoff->lockPrerollShiftedBeats();
        const double start = sequence.secondsForBeats(lock);
        const double interval =
            sequence.secondsForBeats(lock + NoteDuration::quarterNotes(countoff->countoffNoteDuration())) -
            start;
        countoff->setFirstClickPrerollShiftedBeats(
            sequence.beatsForSeconds(start - countoff->countoffBeats() * interval));
    }
}

void Cue::publish(std::shared_ptr<const CueTimingMap> map) {
    // The old map is released outside the lock: a reader's pointer copy is
    // all the lock ever waits for.
    {
        std::lock_guard lock(lock_);
        std::swap(timingMap_, map);
    }
}

std::shared_ptr<const CueTimingMap> Cue::timingMap() const {
    std::lock_guard lock(lock_);
    return timingMap_;
}

std::shared_ptr<FFMusicSequence> Cue::sequence() const {
    return timingMap()->sequence();
}

std::unique_ptr<FFMusicPlayer> Cue::newPlayerWithVisualEventsShifted() {
    auto compiled = sequence();
    if (!compiled) return nullptr;
    compiled->setUserEventDestination(CueEnvironment::current().userEventDestination());
    auto player = compiled->newPlayer();
    if (player) player->goToTime(0.0);
    return player;
}

double Cue::lengthInBeats() const {
    return timingMap()->lengthInBeats();
}

double Cue::lengthInSeconds() const {
    const auto map = timingMap();
    return map->secondsForBeats(map->lengthInBeats());
}

// --- Conversions ---------------------------------------------------------------

Cue::Snapshot Cue::snapshot() const {
    std::lock_guard lock(lock_);
    return Snapshot{timingMap_, syncTimecode_, syncPrerollShiftedBeats_.load(std::memory_order_acquire)};
}

double Cue::secondsFromSyncPoint(const Snapshot& snapshot, double beats) const {
    const CueTimingMap& map = *snapshot.map;
    // The sequence answers nothing before its start; the first beat's length
    // carries on backwards instead.
    const double seconds = beats < 0.0 ? beats * map.secondsForBeats(1.0) : map.secondsForBeats(beats);
    if (isADRFoleyCue()) return seconds;
    return seconds - map.secondsForBeats(snapshot.syncPrerollShiftedBeats);
}

std::shared_ptr<EMTimecode> Cue::timecodeForPrerollShiftedBeats(const Snapshot& snapshot,
                                                                double beats) const {
    if (!snapshot.syncTimecode) return nullptr;
    auto timecode = snapshot.syncTimecode->copy();
    timecode->addSeconds(secondsFromSyncPoint(snapshot, beats));
    return timecode;
}

double Cue::secondsFromSyncPointForPrerollShiftedBeats(double beats) const {
    return secondsFromSyncPoint(snapshot(), beats);
}

std::shared_ptr<EMTimecode> Cue::timecodeForPrerollShiftedBeats(double beats) const {
    return timecodeForPrerollShiftedBeats(snapshot(), beats);
}

std::shared_ptr<EMTimecode> Cue::timecodeForTimeStamp(double timeStamp) const {
    return timecodeForPrerollShiftedBeats(timeStamp + kPrerollBeats);
}

double Cue::prerollShiftedBeatsForTimecode(const EMTimecode& timecode) const {
    const Snapshot now = snapshot();
    const CueTimingMap& map = *now.map;
    const double fromSync = now.syncTimecode ? timecode.secondsFromTimecode(*now.syncTimecode) : 0.0;
    const double seconds = map.secondsForBeats(now.syncPrerollShiftedBeats) + fromSync;
    if (seconds < 0.0) {
        const double firstBeat = map.secondsForBeats(1.0);
        return firstBeat > 0.0 ? seconds / firstBeat : 0.0;
    }
    return map.beatsForSeconds(seconds);
}

double Cue::timeStampForTimecode(const EMTimecode& timecode) const {
    return prerollShiftedBeatsForTimecode(timecode) - kPrerollBeats;
}

std::string Cue::barBeatStringForTimeStamp(double timeStamp) const {
    const auto map = timingMap();
    if (timeStamp < 0.0 || !map->sequence()) return "-|-|---";
    const BarBeatTime time = map->barBeatTimeForBeats(timeStamp + kPrerollBeats);
    const long bar = static_cast<long>(time.bar) - kPrerollBars + barNumberOffsetValue();
    const char* pattern = map->timeSignatureOfBar(time.bar).numerator >= 10 ? "%ld|%02d|%03d" : "%ld|%d|%03d";
    return format(pattern, bar, static_cast<int>(time.beat), static_cast<int>(time.subbeat));
}

std::string Cue::realTimeStringForTimeStamp(double timeStamp) const {
    const auto map = timingMap();
    if (!map->sequence()) return "-:--.--";
    const auto centiseconds = static_cast<long>(
        (map->secondsForBeats(timeStamp + kPrerollBeats) - map->secondsForBeats(kPrerollBeats)) * 100.0);
    const long m = std::labs(centiseconds);
    const char* sign = centiseconds < 0 ? "-" : "";
    const int minutes = static_cast<int>((m % 360000) / 6000);
    const int seconds = static_cast<int>((m % 6000) / 100);
    const long hundredths = m % 100;
    if (m < 360000) return format("%s%d:%02d.%02ld", sign, minutes, seconds, hundredths);
    return format("%s%d:%02d:%02d.%02ld", sign, static_cast<int>(m / 360000), minutes, seconds, hundredths);
}

std::shared_ptr<EMTimecode> Cue::rehearsalStartTimecode() const {
    if (documentShowsADRFoleyView()) {
        const auto events = document()->adrFoleyRehearsalEvents();
        if (events.empty()) return timecodeForPrerollShiftedBeats(0.0);
        const auto lockTimecode = events.front()->lockTimecode();
        if (!lockTimecode) return nullptr;
        auto timecode = lockTimecode->copy();
        timecode->subtractSeconds(events.front()->streamerFeet() * 0.67);
        return timecode;
    }
    return timecodeForPrerollShiftedBeats(rehearsalStartPrerollShiftedBeats());
}

std::shared_ptr<EMTimecode> Cue::cueEndTimecode() const {
    if (documentShowsADRFoleyView()) return nullptr;
    if (cueEndEvent_) {
        const auto lockTimecode = cueEndEvent_->lockTimecode();
        return lockTimecode ? lockTimecode->copy() : nullptr;
    }
    const auto sync = snapshot().syncTimecode;
    const EMTimecodeFramerate framerate =
        sync ? sync->framerate() : CueEnvironment::current().projectFramerate();
    return EMTimecode::timecodeWithFramerate(framerate, "23:59:59:00");
}

// --- Click decisions -------------------------------------------------------------

bool Cue::documentShowsADRFoleyView() const {
    const Document* owner = document();
    return owner && owner->viewType() == Document::kADRFoleyViewType;
}

CueTimingMap::ClickContext Cue::clickContext() const {
    CueTimingMap::ClickContext context;
    context.playbackStartPosition = playbackStartTimeStamp() + kPrerollBeats;
    context.warningBeats = warningBeats();
    context.warningBeatNoteDuration = warningBeatNoteDuration();
    context.clickMuteSetting = clickMuteSetting();
    context.warningBeatPunchesEnabled = warningBeatPunchesEnabled();
    context.adrFoleyView = documentShowsADRFoleyView();
    return context;
}

CueTimingMap::ClickSetting Cue::clickSettingForPrerollShiftedBeats(double beats) const {
    return timingMap()->clickSettingForPrerollShiftedBeats(beats);
}

CueTimingMap::ClickSetting Cue::clickSettingForBar(int32_t sequenceBar) const {
    return timingMap()->clickSettingForBar(sequenceBar);
}

double Cue::nextClickTimeAfterPrerollShiftedBeats(double beats, bool* clickShouldSound) const {
    return timingMap()->nextClickTimeAfterPrerollShiftedBeats(beats, clickContext(), clickShouldSound);
}

double Cue::nextClickTimeAfterPrerollShiftedBeats(double beats) const {
    bool sounds = true;
    const double next = nextClickTimeAfterPrerollShiftedBeats(beats, &sounds);
    return sounds ? next : 0.0;
}

bool Cue::audioClickAtPrerollShiftedBeats(double beats) const {
    return timingMap()->audioClickAtPrerollShiftedBeats(beats, clickContext());
}

double Cue::visualClickSettingForBar(int32_t sequenceBar) const {
    return timingMap()->visualClickSettingForBar(sequenceBar);
}

double Cue::nextVisualClickTimeAfterPrerollShiftedBeats(double beats) const {
    return timingMap()->nextVisualClickTimeAfterPrerollShiftedBeats(beats, clickContext());
}

std::shared_ptr<TLEvent> Cue::visualClickAtPrerollShiftedBeats(double beats) const {
    return timingMap()->visualClickAtPrerollShiftedBeats(beats, clickContext());
}

double Cue::nextBeatTimeAfterPrerollShiftedBeats(double beats) const {
    return timingMap()->nextBeatTimeAfterPrerollShiftedBeats(beats);
}

}  // namespace tollvane
