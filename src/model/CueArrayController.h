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
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class Cue;
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
    // Sorted by sync timecode, ascending: the displayed order.
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
    void select(const std::shared_ptr<Cue>& cue);

    Document& document_;
    std::vector<std::shared_ptr<Cue>> content_;
    std::vector<std::shared_ptr<Cue>> selection_;
    std::vector<std::string> pendingSMFImports_;
    uint32_t barsToDrop_ = 0;
    int32_t cueStartBarNumber_ = 1;
    std::vector<NotificationCenter::ObserverToken> observers_;
};

}  // namespace tollvane
