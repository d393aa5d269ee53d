#pragma once

// A document's scoring cues as the list the user edits: the selection, new
// and duplicated cues, undoable adds and removes, import from another
// document, and the three ways a cue is selected without a click: by the
// incoming timecode, by a MIDI Show Control cue number, and by a text match.
// Whichever cue it selects is what the cue player and the sync side play.
//
// Threads: main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class Cue;
class CueEvent;
class Document;

class CueArrayController : public KeyValueObservable {
public:
    static constexpr const char* kCueOrderDidChangeNotification = "TLCueOrderDidChangeNotification";

    // Observes the cue-order notification.
    explicit CueArrayController(Document& document);
    ~CueArrayController() override;
    CueArrayController(const CueArrayController&) = delete;
    CueArrayController& operator=(const CueArrayController&) = delete;

    // The cues in stored order (the document's "cues").
    const std::vector<std::shared_ptr<Cue>>& content() const { return content_; }
    // Replaces the list (each cue gets the document).
    void setContent(std::vector<std::shared_ptr<Cue>> cues);
    // Sorted by sync timecode, ascending (ties in stored order): the displayed
    // order, re-sorted when the list changes and on the cue-order notification.
    std::vector<std::shared_ptr<Cue>> arrangedObjects() const;

    const std::vector<std::shared_ptr<Cue>>& selectedObjects() const { return selection_; }
    // Announces "selectedCue" and posts the reel-selection-by-cue notification.
    void setSelectedObjects(std::vector<std::shared_ptr<Cue>> cues);
    // In the ADR/Foley view the document's hidden cue; otherwise the one
    // selected cue, or null.
    std::shared_ptr<Cue> selectedCue() const;
    // The document's view type changed.
    void documentViewTypeDidChange();

    // "New Cue". Answers the cue.
    std::shared_ptr<Cue> newCue();
    // "Add Cue", "Remove Cue", "Add Cues", "Remove Cues"; removed cues are
    // parked in the undo controller's deletedObjects.
    void addObject(const std::shared_ptr<Cue>& cue);
    void removeObject(const std::shared_ptr<Cue>& cue);
    void addCollectionOfObjects(const std::vector<std::shared_ptr<Cue>>& cues);
    void removeCollectionOfObjects(const std::vector<std::shared_ptr<Cue>>& cues);
    void reinstateCue(const std::shared_ptr<Cue>& cue);
    void remove();
    std::shared_ptr<Cue> duplicateSelectedCue();
    std::shared_ptr<Cue> cueForID(uint32_t cueID) const;
    // importCuesFromTollvaneDocument: after its open panel. Answers the
    // number of cues imported ("Import Cues"); with none, the Part's alert.
    size_t importCuesFromTollvaneDocumentAtPath(const std::string& path);

    // Each answers whether a cue was (newly) selected.
    bool selectCueForTimecode(const EMTimecode& timecode);
    bool loadCueMatchingMSCCueNumber(const std::string& number);
    bool loadCueMatchingReelNumber(int32_t reelNumber, int32_t cueNumber, int32_t subCueNumber,
                                   int32_t versionNumber, int32_t subVersionNumber);
    bool loadCueMatchingString(const std::string& text);

    // MIDI-file import settings.
    std::vector<std::string>& pendingSMFImports() { return pendingSMFImports_; }
    uint32_t barsToDrop() const { return barsToDrop_; }
    void setBarsToDrop(uint32_t bars) { barsToDrop_ = bars; }
    int32_t cueStartBarNumber() const { return cueStartBarNumber_; }
    void setCueStartBarNumber(int32_t bar) { cueStartBarNumber_ = bar; }
    uint32_t smfBarAtBarOneScore() const { return barsToDrop_ + 1; }
    void setSmfBarAtBarOneScore(uint32_t bar) { barsToDrop_ = bar > 0 ? bar - 1 : 0; }

private:
    class UndoForwarder;
    // What selection by timecode needs of one cue, in seconds from zero,
    // kept until the cue (or its cue-end event) announces a change: the cue's
    // own answers allocate timecodes, and a timecode arrives every frame.
    struct Timing {
        std::shared_ptr<Cue> cue;
        KeyValueObservable::ObserverToken cueToken = 0;
        std::weak_ptr<CueEvent> observedEnd;
        KeyValueObservable::ObserverToken endToken = 0;
        bool dirty = true;
        // A cue without a sync point, rehearsal start or end is never
        // selected by timecode.
        bool takesPart = false;
        double sync = 0.0;
        double rehearsalStart = 0.0;
        // The cue end plus one second.
        double end = 0.0;
    };

    void select(const std::shared_ptr<Cue>& cue);
    bool isSelectedCue(const std::shared_ptr<Cue>& cue) const;
    bool contains(const std::shared_ptr<Cue>& cue) const;
    // Content changes without undo; each answers whether anything changed.
    bool insertCue(const std::shared_ptr<Cue>& cue);
    bool eraseCue(const std::shared_ptr<Cue>& cue);
    void willChangeContent();
    void didChangeContent();
    // Drops cues that left the list from the selection.
    void pruneSelection();
    void registerUndo(const std::string& operation, const Value& argument, const std::string& actionName);
    void performUndoOperation(const std::string& operation, const Value& argument);
    static Value arrayOf(const std::vector<std::shared_ptr<Cue>>& cues);
    static std::vector<std::shared_ptr<Cue>> cuesOf(const Value& array);

    // Re-sorts the displayed order by sync timecode.
    void rearrangeObjects();
    void observe(const std::shared_ptr<Cue>& cue);
    void stopObserving(Timing& timing);
    void markDirty(Timing& timing);
    // Brings the kept sync points (and, with `withTimes`, rehearsal starts and
    // ends) up to date, and the latest-first order with them.
    void refreshTimings(bool withTimes);
    void refreshTiming(Timing& timing, bool withTimes);
    double syncSecondsOf(const Cue& cue);

    Document& document_;
    std::vector<std::shared_ptr<Cue>> content_;
    std::vector<std::shared_ptr<Cue>> arranged_;
    std::vector<std::shared_ptr<Cue>> selection_;
    std::vector<std::string> pendingSMFImports_;
    uint32_t barsToDrop_ = 0;
    int32_t cueStartBarNumber_ = 1;
    std::vector<NotificationCenter::ObserverToken> observers_;
    std::shared_ptr<UndoForwarder> undoTarget_;
    std::unordered_map<const Cue*, std::unique_ptr<Timing>> timings_;
    // Every timing, by sync point, latest first (ties in stored order).
    std::vector<Timing*> latestFirst_;
    bool anyTimingDirty_ = false;
    bool orderDirty_ = true;
};

}  // namespace tollvane
