#pragma once

// A Tollvane document (".tollvane"): its reels, its scoring cues, its
// ADR/Foley event list with the hidden cue that plays it, the project frame
// rate and the view settings, kept in the root dictionary of a keyed
// archive. Top-level keys this version does not know are carried through a
// load and a save unchanged. Saving writes a temporary file and renames it
// over the old one: a failed save never damages the file on disk.
//
// A document is reached from a cue change in a compiled sequence through its
// 32-bit handle (`documentHandle`), unique for the run of the program: the
// sequence's user events carry the handle, never a pointer.
//
// Threads: main thread only, except documentForHandle and viewType (any
// thread).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/DocumentUndoController.h"
#include "platform/UndoManager.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Value.h"

namespace tollvane {

class Cue;
class CueArrayController;
class CueEventSoundCue;
class DocumentStatusDisplay;
class ReelArrayController;

class Document : public UndoTarget, public std::enable_shared_from_this<Document> {
public:
    // The document window's two views.
    static constexpr int32_t kCueViewType = 0;
    static constexpr int32_t kADRFoleyViewType = 1;
    // Written as "minVersion" and "absoluteMinVersion".
    static constexpr const char* kMinVersion = "218";
    static constexpr const char* kAbsoluteMinVersion = "0";
    static constexpr const char* kFileExtension = "tollvane";
    // The largest file we try to open.
    static constexpr size_t kLargestFile = 512u * 1024u * 1024u;

    Document();
    ~Document() override;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // init: an empty document ("reels", "cues" and "adrFoleyEvents" empty),
    // the rate from "lastProjectFramerate" (else 4), reels by timecode, cues
    // manually, the view from "lastDocumentViewType".
    static std::shared_ptr<Document> create();
    // Opens a file; null after the Part's alerts, or with `error` saying why
    // the file was refused. Nothing is half loaded.
    static std::shared_ptr<Document> documentWithContentsOfFile(const std::string& path, std::string* error);

    // readFromData:ofType:error: on a new document. False refuses the data.
    bool readFromData(const Data& data, std::string* error);
    // dataOfType:error: the root dictionary refreshed, archived.
    Data dataOfType(std::string* error);
    // Saves atomically; false with `error` saying why (the old file stays).
    bool writeToFile(const std::string& path, std::string* error);
    const std::string& filePath() const { return filePath_; }
    void setFilePath(std::string path) { filePath_ = std::move(path); }

    UndoManager& undoManager() { return undoManager_; }
    DocumentUndoController& undoController() { return undoController_; }
    ReelArrayController& reelController() { return *reelController_; }
    CueArrayController& cueController() { return *cueController_; }

    // The root dictionary as read (and as refreshed by the last save).
    ValueDictionary& documentDataFromDisk() { return *root_; }
    Value reelData() const;
    void setReelData(const Value& reels);
    Value cueData() const;
    void setCueData(const Value& cues);
    Value adrFoleyCueData() const;
    void setAdrFoleyCueData(const Value& events);
    Value documentWindowOptions() const;
    void setDocumentWindowOptions(const Value& options);
    // The platform's rectangle string ("{{x, y}, {w, h}}"), kept as read.
    Value documentWindowFrame() const;
    void setDocumentWindowFrame(const Value& frame);
    // No reels and no cues.
    bool isEmpty() const;

    int64_t projectFramerate() const { return projectFramerate_; }
    // "Change Project Framerate": every cue, every ADR/Foley event and the
    // reels follow; the rate is remembered in "lastProjectFramerate".
    void setProjectFramerate(int64_t framerateIndex);
    int64_t reelSelectionMode() const { return reelSelectionMode_; }
    void setReelSelectionMode(int64_t mode);  // "Change Reel Selection Mode"
    int64_t cueSelectionMode() const { return cueSelectionMode_; }
    void setCueSelectionMode(int64_t mode);  // "Change Cue Selection Mode"
    // documentViewType; read by the cue's click decisions on the sync thread too.
    int32_t viewType() const { return viewType_.load(std::memory_order_acquire); }
    void setViewType(int32_t viewType);
    int32_t documentViewType() const { return viewType(); }
    void setDocumentViewType(int32_t viewType) { setViewType(viewType); }

    std::shared_ptr<Cue> selectedCue() const;
    bool selectCueMatching(const std::string& text);
    bool shouldSelectReelByTimecode() const;
    bool shouldSelectCueByTimecode() const { return cueSelectionMode_ == 1; }

    // The ADR/Foley list, its selection and its hidden cue ("(ADR/Foley)",
    // no warning beats, 60 bpm, sync 00:00:00:00 at the project rate).
    std::vector<std::shared_ptr<CueEventSoundCue>>& adrFoleyEvents() { return adrFoleyEvents_; }
    std::vector<std::shared_ptr<CueEventSoundCue>>& selectedADRFoleyEvents() { return selectedADRFoleyEvents_; }
    std::shared_ptr<Cue> adrFoleyCue();
    // The events a rehearsal in the ADR/Foley view starts from: the selected
    // ones, or every event in time order when none is selected.
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyRehearsalEvents() const;

    // The window's status bar (not retained; null: messages are dropped).
    void setStatusDisplay(DocumentStatusDisplay* display) { statusDisplay_ = display; }
    // "Wrong framerate" for 0.5 s.
    void receivedAtWrongFramerate();
    // A cue's bar-number offset changed (the views redraw their bar numbers).
    virtual void barNumberOffsetDidChange() {}

    // Unsaved changes since the last save or autosave.
    bool isDocumentEdited() const;
    // Writes the autosave copy (when there are unsaved changes), then
    // "Autosaved" for 2.0 s. Answers success.
    bool autosave();
    // Where this document's autosave copy goes.
    std::string autosavePath() const;

    uint32_t documentHandle() const { return handle_; }
    // The living document with that handle, or null.
    static std::shared_ptr<Document> documentForHandle(uint32_t handle);
    // Makes a document known to documentForHandle (done by the factories).
    void registerHandle();

    void performUndoOperation(const std::string& operation, const Value& argument) override;

private:
    UndoManager undoManager_;
    DocumentUndoController undoController_;
    std::unique_ptr<ReelArrayController> reelController_;
    std::unique_ptr<CueArrayController> cueController_;
    std::shared_ptr<ValueDictionary> root_;
    std::string filePath_;
    int64_t projectFramerate_ = 4;
    int64_t reelSelectionMode_ = 1;
    int64_t cueSelectionMode_ = 0;
    std::atomic<int32_t> viewType_{kCueViewType};
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyEvents_;
    std::vector<std::shared_ptr<CueEventSoundCue>> selectedADRFoleyEvents_;
    std::shared_ptr<Cue> adrFoleyCue_;
    DocumentStatusDisplay* statusDisplay_ = nullptr;
    uint32_t handle_;
};

}  // namespace tollvane
