#pragma once

// A document's reel list: the reels sorted by start timecode, the selected
// reel, selection by the incoming timecode, the project frame-rate change,
// re-linking of missing movies by a directory walk, and reel-list files.
// Panels belong to the window: the operations that its commands reach
// through a panel take the chosen path here.
//
// Observable keys: "content", "arrangedObjects", "arrangedObjectsAndMarkers"
// (the list or the order changed; the reel tables reload) and
// "selectedObjects".
//
// Threads: main thread.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/Value.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class Document;
class Reel;

class ReelArrayController : public KeyValueObservable {
public:
    // Observes the reel-order and reel-selection-by-cue notifications.
    explicit ReelArrayController(Document& document);
    ~ReelArrayController() override;
    ReelArrayController(const ReelArrayController&) = delete;
    ReelArrayController& operator=(const ReelArrayController&) = delete;

    // The reels as stored (the document's "reels").
    const std::vector<std::shared_ptr<Reel>>& content() const { return content_; }
    // Replaces the list (each reel gets the document); announces the change.
    void setContent(std::vector<std::shared_ptr<Reel>> reels);
    // Sorted by start timecode, ascending (reels without a start first).
    std::vector<std::shared_ptr<Reel>> arrangedObjects() const;
    // The "Select by Timecode" marker, then the arranged reels.
    std::vector<std::shared_ptr<Reel>> arrangedObjectsAndMarkers() const;

    const std::vector<std::shared_ptr<Reel>>& selectedObjects() const { return selection_; }
    void setSelectedObjects(std::vector<std::shared_ptr<Reel>> reels);
    // The one selected reel, or null.
    std::shared_ptr<Reel> selectedReel() const;

    // addReel after its open panel: a new reel for the movie, start "1", the
    // file's name as title. Answers the reel.
    std::shared_ptr<Reel> addReelWithPath(const std::string& path);
    // "Add Reel" / "Remove Reel", each undone by the other.
    void addObject(const std::shared_ptr<Reel>& reel);
    void removeObject(const std::shared_ptr<Reel>& reel);
    // Removes every selected reel.
    void remove();

    // Answers whether the selection changed.
    bool selectReelForTimecode(const EMTimecode& timecode);
    void updateReelSelection();
    // Every start read again at the document's rate (digits kept). Registers
    // no undo of its own: the document's rate change is the step, and undoing
    // it calls this again. Reels without a start are left alone.
    void updateProjectFramerate();
    bool hasBrokenReels() const;
    // Matches files (not folders) by name against the broken reels' movies.
    // Answers how many reels were re-linked.
    size_t relinkBrokenReelsFromDirectory(const std::string& directory);
    // {"reel": the reel, "path": the new path}; "relink reel".
    void relink(const Value& reelAndPath);
    void reelsNeedResorting();
    // The title, or "Unable to find a valid video file for this reel.".
    std::string toolTipForReel(const Reel& reel) const;

    // saveReelList / loadReelList after their panels. Failures are shown as
    // the Part's alerts and leave the list and the file as they were.
    // Answers success.
    bool saveReelListToPath(const std::string& path);
    bool loadReelListFromPath(const std::string& path);

private:
    class UndoProxy;
    friend class UndoProxy;

    void performUndoOperation(const std::string& operation, const Value& argument);
    void adopt(const std::shared_ptr<Reel>& reel);
    void announceListChange(void (KeyValueObservable::*announce)(std::string_view));
    bool contains(const std::shared_ptr<Reel>& reel) const;
    void showError(const char* title, const char* format, const std::string& reason) const;

    Document& document_;
    std::shared_ptr<UndoProxy> undoProxy_;
    // Every reel given this document, so that none keeps pointing at it
    // once it is gone (the registry outlives documents).
    std::vector<std::weak_ptr<Reel>> adopted_;
    std::vector<std::shared_ptr<Reel>> content_;
    std::vector<std::shared_ptr<Reel>> selection_;
    std::vector<NotificationCenter::ObserverToken> observers_;
};

}  // namespace tollvane
