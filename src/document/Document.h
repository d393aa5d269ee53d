#pragma once

// A Tollvane document: its undo machinery, the view it shows, and the
// ADR/Foley list the cues consult. The archive, reels and cue list join it
// as the document grows; this is the part the cue model relies on.
//
// A document is reached from a cue change in a compiled sequence through its
// 32-bit handle (`documentHandle`), which stays unique for the run of the
// program: the sequence's user events carry the handle, never a pointer.
//
// Threads: main thread only, except documentForHandle and viewType (any
// thread).

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "document/DocumentUndoController.h"
#include "platform/UndoManager.h"

namespace tollvane {

class CueEventSoundCue;

class Document : public std::enable_shared_from_this<Document> {
public:
    // The document window's two views.
    static constexpr int32_t kCueViewType = 0;
    static constexpr int32_t kADRFoleyViewType = 1;

    Document();
    virtual ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    UndoManager& undoManager() { return undoManager_; }
    DocumentUndoController& undoController() { return undoController_; }

    // Read by the cue's click decisions on the sync thread too.
    int32_t viewType() const { return viewType_.load(std::memory_order_acquire); }
    void setViewType(int32_t viewType) { viewType_.store(viewType, std::memory_order_release); }

    // The ADR/Foley list and its selection (the list's controller keeps them).
    std::vector<std::shared_ptr<CueEventSoundCue>>& adrFoleyEvents() { return adrFoleyEvents_; }
    std::vector<std::shared_ptr<CueEventSoundCue>>& selectedADRFoleyEvents() { return selectedADRFoleyEvents_; }
    // The events a rehearsal in the ADR/Foley view starts from: the selected
    // ones, or every event in time order when none is selected.
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyRehearsalEvents() const;

    // A cue's bar-number offset changed (the views redraw their bar numbers).
    virtual void barNumberOffsetDidChange() {}

    uint32_t documentHandle() const { return handle_; }
    // The living document with that handle, or null.
    static std::shared_ptr<Document> documentForHandle(uint32_t handle);
    // Makes a document known to documentForHandle (done by the factories).
    void registerHandle();

    static std::shared_ptr<Document> create();

private:
    UndoManager undoManager_;
    DocumentUndoController undoController_;
    std::atomic<int32_t> viewType_{kCueViewType};
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyEvents_;
    std::vector<std::shared_ptr<CueEventSoundCue>> selectedADRFoleyEvents_;
    uint32_t handle_;
};

}  // namespace tollvane
