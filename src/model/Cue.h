#pragma once

// One musical cue of a document: a title, a sync point that ties a beat
// position to a timecode, four lists of timeline events, optional music-in
// and cue-end events, a bar-number offset and the click settings used
// before the music starts. It compiles itself into a music sequence
// (CueSequenceCompiler) and answers every timing question the rest of the
// program asks: conversions between timecode, seconds, positions and the
// displayed bar|beat, and where the next audible click, visual click and
// beat fall.
//
// Positions are pre-roll-shifted beats: the compiled sequence opens with 32
// bars of 4/4 at 120 bpm, so the cue's bar 1 starts at beat 128; a time
// stamp is a position minus 128; cue bar n is sequence bar n + 32.
//
// Publication. Each rebuild makes a new CueTimingMap (the compiled sequence
// plus the click-relevant records of the meter, click-change and count-off
// events, all immutable) and swaps it in under the cue's own lock, held only
// for the pointer swap. A reader takes the map once per query and keeps it
// alive for the query's length, so it sees the old or the new map whole.
//
// Threads:
// - main thread: everything that edits (setters, event lists, updateSequence,
//   reallyUpdateSequence, archiving, copies) and the string conversions;
// - any thread (the sync thread, the exporters, the counter): the
//   conversions secondsFromSyncPointForPrerollShiftedBeats,
//   timecodeForPrerollShiftedBeats, timecodeForTimeStamp,
//   prerollShiftedBeatsForTimecode, timeStampForTimecode, the click
//   decisions, nextBeatTimeAfterPrerollShiftedBeats, sequence, timingMap,
//   lengthInBeats, lengthInSeconds, and the atomic settings
//   (playbackStartTimeStamp, warningBeats, warningBeatNoteDuration,
//   clickMuteSetting, warningBeatPunchesEnabled, syncPrerollShiftedBeats).
// None of them is real-time safe (they take the cue's lock briefly and may
// allocate).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/ClickPattern.h"
#include "model/CueTimingMap.h"
#include "platform/KeyValueObservable.h"
#include "platform/Timer.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Archivable.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class CueEvent;
class CueEventCueEnd;
class CueEventMusicIn;
class Document;
class FFMusicPlayer;
class FFMusicSequence;
class KeyedUnarchiver;
class Reel;
class TLEvent;

class Cue : public Archivable,
            public UndoTarget,
            public KeyValueObservable,
            public std::enable_shared_from_this<Cue> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr double kPrerollBeats = 128.0;
    static constexpr int32_t kPrerollBars = 32;
    // The document's hidden cue that holds the ADR/Foley list.
    static constexpr const char* kADRFoleyCueTitle = "(ADR/Foley)";
    static constexpr const char* kSequenceDidChangeNotification = "TLCueSequenceDidChangeNotification";
    static constexpr const char* kReelSelectionByCueDidChangeNotification =
        "TLReelSelectionByCueDidChangeNotification";
    static constexpr const char* kEventsShouldResortNotification = "TLCueEventsShouldResortNotification";
    // Seconds between the last rebuild request and the rebuild.
    static constexpr double kUpdateDelay = 0.1;

    explicit Cue(Passkey);
    ~Cue() override;
    Cue(const Cue&) = delete;
    Cue& operator=(const Cue&) = delete;

    // init: the defaults, then an immediate rebuild.
    static std::shared_ptr<Cue> create();
    // initWithCoder: (registered for "Cue").
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder);
    static void registerArchiveClass();
    // copyWithZone: the four lists share their events; the end, start and
    // sync timecode are copied.
    std::shared_ptr<Cue> copy() const;

    // --- Identity, text and reel -------------------------------------------

    uint32_t cueID() const { return cueID_; }
    void setCueID(uint32_t cueID) { cueID_ = cueID; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title);  // "Change Cue Title", coalescing
    const std::optional<std::string>& optionalDisplayText() const { return optionalDisplayText_; }
    void setOptionalDisplayText(std::optional<std::string> text);  // "Change Cue Overlay Text", coalescing
    // The optional display text if set, else the title.
    std::string displayText() const;
    // An empty text stores none.
    void setDisplayText(std::string text);
    // Title exactly "(ADR/Foley)". Any thread.
    bool isADRFoleyCue() const { return isADRFoleyCue_.load(std::memory_order_acquire); }

    // A copy of the sync timecode (any thread), or null.
    std::shared_ptr<EMTimecode> syncTimecode() const;
    // Keeps a copy of the timecode; "Change Cue Sync Timecode". The sync
    // setters schedule a rebuild: timecode-locked events move with the sync point.
    void setSyncTimecode(std::shared_ptr<EMTimecode> timecode);
    // "-:--:--" without a sync timecode.
    std::string syncTimecodeString() const;
    void setSyncTimecodeString(const std::string& text);
    // A frame-rate index onto the sync timecode (its fields stay).
    void setFramerate(int64_t framerateIndex);

    double syncPrerollShiftedBeats() const {
        return syncPrerollShiftedBeats_.load(std::memory_order_acquire);
    }
    // A number object; "Change Cue Sync Bar/Beat".
    void setSyncPrerollShiftedBeats(const Value& beats);

    // A number object both ways; "Change Bar # Offset".
    Value barNumberOffset() const { return Value(int64_t{barNumberOffset_.load()}); }
    int32_t barNumberOffsetValue() const { return barNumberOffset_.load(std::memory_order_acquire); }
    void setBarNumberOffset(const Value& offset);

    std::shared_ptr<Reel> reel() const { return reel_; }
    void setReel(std::shared_ptr<Reel> reel);  // "Change Reel Assignment"
    uint32_t reelID() const { return reelID_; }
    void setReelID(uint32_t reelID) { reelID_ = reelID; }

    // Not retained: the document owns its cues.
    Document* document() const { return document_.load(std::memory_order_acquire); }
    void setDocument(Document* document) { document_.store(document, std::memory_order_release); }

    // --- Events ----------------------------------------------------------------

    std::vector<std::shared_ptr<CueEvent>>& tempoEvents() { return tempoEvents_; }
    std::vector<std::shared_ptr<CueEvent>>& meterEvents() { return meterEvents_; }
    std::vector<std::shared_ptr<CueEvent>>& trackEvents() { return trackEvents_; }
    std::vector<std::shared_ptr<CueEvent>>& countoffEvents() { return countoffEvents_; }
    const std::vector<std::shared_ptr<CueEvent>>& tempoEvents() const { return tempoEvents_; }
    const std::vector<std::shared_ptr<CueEvent>>& meterEvents() const { return meterEvents_; }
    const std::vector<std::shared_ptr<CueEvent>>& trackEvents() const { return trackEvents_; }
    const std::vector<std::shared_ptr<CueEvent>>& countoffEvents() const { return countoffEvents_; }
    std::shared_ptr<CueEventMusicIn> cueStartEvent() const { return cueStartEvent_; }
    // Both schedule a rebuild; the same event again changes nothing.
    void setCueStartEvent(std::shared_ptr<CueEventMusicIn> event);
    std::shared_ptr<CueEventCueEnd> cueEndEvent() const { return cueEndEvent_; }
    void setCueEndEvent(std::shared_ptr<CueEventCueEnd> event);
    bool hasCueStartEvent() const { return cueStartEvent_ != nullptr; }
    bool hasCueEndEvent() const { return cueEndEvent_ != nullptr; }
    // Sorts meterEvents by their sort strings.
    void sortMeterEvents();

    // Undoable ("Add %@" with the event's type, "Delete Event"); each
    // schedules a rebuild. addEvent files the event by kind and makes this
    // its cue; a cue-end or music-in event replaces the cue's own, which
    // leaves through removeEvent in the same undo step. An event already
    // held is not added twice, and one not held is not removed. A removed
    // event is parked in the undo controller's deletedObjects (addEvent
    // takes it out again), so an undo step can bring it back.
    void addEvent(const std::shared_ptr<CueEvent>& event);
    void removeEvent(const std::shared_ptr<CueEvent>& event);
    // A new list of every event, sorted by time (compareTime, stable);
    // schedules a rebuild.
    std::vector<std::shared_ptr<CueEvent>> eventsForArrayController();
    // Sorts meterEvents; undoable ("Re-Sort Events"); posts
    // kEventsShouldResortNotification.
    void eventsNeedResorting();
    // Each in its own undo group ("Delete Bars", "Insert Bars"); a count
    // below 1 changes nothing. Bars are cue bars. See CueBarEditor.
    void deleteBars(int32_t count, int32_t startingAtBar);
    void insertBars(int32_t count, int32_t beforeBar, int32_t usingTempo);

    // --- Settings ---------------------------------------------------------------

    // One 8-byte value: the sync thread never sees half an update.
    double playbackStartTimeStamp() const { return playbackStartTimeStamp_.load(std::memory_order_acquire); }
    void setPlaybackStartTimeStamp(double timeStamp) {
        playbackStartTimeStamp_.store(timeStamp, std::memory_order_release);
    }
    uint32_t warningBeats() const { return warningBeats_.load(std::memory_order_acquire); }
    void setWarningBeats(uint32_t beats) { warningBeats_.store(beats, std::memory_order_release); }
    int32_t warningBeatNoteDuration() const {
        return warningBeatNoteDuration_.load(std::memory_order_acquire);
    }
    void setWarningBeatNoteDuration(int32_t code) {
        warningBeatNoteDuration_.store(code, std::memory_order_release);
    }
    uint32_t clickMuteSetting() const { return clickMuteSetting_.load(std::memory_order_acquire); }
    void setClickMuteSetting(uint32_t setting) {
        clickMuteSetting_.store(setting, std::memory_order_release);
    }
    bool warningBeatPunchesEnabled() const {
        return warningBeatPunchesEnabled_.load(std::memory_order_acquire);
    }
    void setWarningBeatPunchesEnabled(bool enabled) {
        warningBeatPunchesEnabled_.store(enabled, std::memory_order_release);
    }
    int32_t playbackRateSetting() const { return playbackRateSetting_; }
    // Schedules a rebuild.
    void setPlaybackRateSetting(int32_t setting);
    // Set by each compilation.
    double rehearsalStartPrerollShiftedBeats() const {
        return rehearsalStartPrerollShiftedBeats_.load(std::memory_order_acquire);
    }
    void setRehearsalStartPrerollShiftedBeats(double beats) {
        rehearsalStartPrerollShiftedBeats_.store(beats, std::memory_order_release);
    }
    bool updatesSuspended() const { return updatesSuspended_; }
    // While suspended, requests to rebuild are noted rather than scheduled
    // (an import or a bar edit makes thousands); releasing the hold
    // schedules the one rebuild they asked for.
    void setUpdatesSuspended(bool suspended);

    // --- Compilation ------------------------------------------------------------

    // Schedules reallyUpdateSequence kUpdateDelay seconds from now on the main
    // run loop, replacing a pending schedule (at once without a run loop).
    void updateSequence();
    // Rebuilds now; postponed while the cue player plays, skipped while
    // updates are suspended.
    void reallyUpdateSequence();
    // A cue that continues into another names its document in its sequence
    // (by handle), so it must be rebuilt once it belongs to a document.
    bool sequenceNamesDocument() const;
    // The compiled sequence; null when the last compilation failed.
    std::shared_ptr<FFMusicSequence> sequence() const;
    // The published map (never null: an empty one before the first rebuild).
    std::shared_ptr<const CueTimingMap> timingMap() const;
    // A new player on the compiled sequence, its user events going to the
    // installed event destination, moved to time 0; null without a sequence.
    std::unique_ptr<FFMusicPlayer> newPlayerWithVisualEventsShifted();

    // The cue-end event's position, or 100000.0 without one.
    double lengthInBeats() const;
    double lengthInSeconds() const;

    // --- Conversions ------------------------------------------------------------

    double secondsFromSyncPointForPrerollShiftedBeats(double beats) const;
    std::shared_ptr<EMTimecode> timecodeForPrerollShiftedBeats(double beats) const;
    std::shared_ptr<EMTimecode> timecodeForTimeStamp(double timeStamp) const;
    double prerollShiftedBeatsForTimecode(const EMTimecode& timecode) const;
    double timeStampForTimecode(const EMTimecode& timecode) const;
    // "-|-|---" for negative time stamps or without a sequence.
    std::string barBeatStringForTimeStamp(double timeStamp) const;
    // "-:--.--" without a sequence.
    std::string realTimeStringForTimeStamp(double timeStamp) const;
    // Null when there is none.
    std::shared_ptr<EMTimecode> rehearsalStartTimecode() const;
    std::shared_ptr<EMTimecode> cueEndTimecode() const;

    // --- Click decisions (any thread) --------------------------------------------

    CueTimingMap::ClickSetting clickSettingForPrerollShiftedBeats(double beats) const;
    CueTimingMap::ClickSetting clickSettingForBar(int32_t sequenceBar) const;
    double nextClickTimeAfterPrerollShiftedBeats(double beats, bool* clickShouldSound) const;
    double nextClickTimeAfterPrerollShiftedBeats(double beats) const;
    bool audioClickAtPrerollShiftedBeats(double beats) const;
    double visualClickSettingForBar(int32_t sequenceBar) const;
    double nextVisualClickTimeAfterPrerollShiftedBeats(double beats) const;
    std::shared_ptr<TLEvent> visualClickAtPrerollShiftedBeats(double beats) const;
    double nextBeatTimeAfterPrerollShiftedBeats(double beats) const;
    // The live settings the click decisions read, taken together.
    CueTimingMap::ClickContext clickContext() const;

    // "Cue (%@); %d tempo events, %d meter events, %d track events, offset %d bar(s)".
    std::string description() const;

    // Archiving under "Cue".
    std::string archiveClassName() const override { return "Cue"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    void performUndoOperation(const std::string& operation, const Value& argument) override;

private:
    // What one conversion reads, taken together under lock_.
    struct Snapshot {
        std::shared_ptr<const CueTimingMap> map;
        std::shared_ptr<const EMTimecode> syncTimecode;
        double syncPrerollShiftedBeats = 128.0;
    };
    Snapshot snapshot() const;
    double secondsFromSyncPoint(const Snapshot& snapshot, double beats) const;
    std::shared_ptr<EMTimecode> timecodeForPrerollShiftedBeats(const Snapshot& snapshot, double beats) const;

    // The defaults of init, without the first rebuild.
    void initDefaults();
    void decodeWithCoder(KeyedUnarchiver& coder);
    void storeTitle(std::string title);
    void storeSyncTimecode(std::shared_ptr<EMTimecode> timecode);
    // Registers `selector` with the old value on the document's undo controller.
    void registerUndo(const std::string& selector, const Value& oldValue, const std::string& actionName,
                      bool coalescing);
    // Every event the cue holds: the four lists, then the start and end events.
    std::vector<std::shared_ptr<CueEvent>> allEvents() const;
    // That very event is in one of the lists or is the start or end event.
    bool holdsEvent(const CueEvent* event) const;
    // Derives each count-off's first click from a freshly compiled sequence.
    void updateCountoffFirstClicks(const FFMusicSequence& sequence);

    // The document shows its ADR/Foley view (any thread).
    bool documentShowsADRFoleyView() const;
    void publish(std::shared_ptr<const CueTimingMap> map);
    void tearDown();

    // Fields that only the main thread touches.
    mutable uint32_t cueID_ = 0;
    std::vector<std::shared_ptr<CueEvent>> tempoEvents_;
    std::vector<std::shared_ptr<CueEvent>> meterEvents_;
    std::vector<std::shared_ptr<CueEvent>> trackEvents_;
    std::vector<std::shared_ptr<CueEvent>> countoffEvents_;
    std::shared_ptr<CueEventMusicIn> cueStartEvent_;
    std::shared_ptr<CueEventCueEnd> cueEndEvent_;
    std::shared_ptr<Timer> updateTimer_;
    bool updatesSuspended_ = false;
    bool updateRequestedWhileSuspended_ = false;
    int32_t playbackRateSetting_ = 0;
    std::string title_ = "Untitled Cue";
    std::optional<std::string> optionalDisplayText_;
    std::shared_ptr<Reel> reel_;
    uint32_t reelID_ = 0;
    std::atomic<Document*> document_{nullptr};

    // Fields that other threads read.
    mutable std::mutex lock_;  // guards timingMap_ and syncTimecode_ (pointer swaps only)
    std::shared_ptr<const CueTimingMap> timingMap_;
    std::shared_ptr<EMTimecode> syncTimecode_;
    std::atomic<double> syncPrerollShiftedBeats_{128.0};
    std::atomic<double> playbackStartTimeStamp_{0.0};
    std::atomic<uint32_t> warningBeats_{4};
    std::atomic<int32_t> warningBeatNoteDuration_{0xffff};
    std::atomic<uint32_t> clickMuteSetting_{0};
    std::atomic<bool> warningBeatPunchesEnabled_{false};
    std::atomic<int32_t> barNumberOffset_{0};
    std::atomic<double> rehearsalStartPrerollShiftedBeats_{0.0};
    std::atomic<bool> isADRFoleyCue_{false};
};

}  // namespace tollvane
