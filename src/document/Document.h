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
// Observed keys: "projectFramerate", "reelSelectionMode", "cueSelectionMode",
// "documentViewType".
//
// Threads: main thread only, except documentForHandle and viewType (any
// thread).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/DocumentUndoController.h"
#include "platform/KeyValueObservable.h"
#include "platform/UndoManager.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Value.h"

namespace tollvane {

class Cue;
class CueArrayController;
class CueEventSoundCue;
class DocumentStatusDisplay;
class ReelArrayController;

class Document : public UndoTarget, public KeyValueObservable, public std::enable_shared_from_this<Document> {
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
    // Opens a file into a new document and hands it out only when it was
    // accepted; null with `error` saying why it was refused (after the
    // version alerts when they refused it).
    static std::shared_ptr<Document> documentWithContentsOfFile(const std::string& path, std::string* error);
    // The same from bytes (no file path).
    static std::shared_ptr<Document> documentWithData(const Data& data, std::string* error);

    // Versions compare as numbers part by part: runs of digits by their
    // value, other characters one by one ("218" < "218.1" < "1000"). -1, 0, 1.
    static int compareVersions(std::string_view a, std::string_view b);
    // "minVersion" read as an integer: its leading integer, 0 when absent.
    static int64_t integerValueOfVersion(const Value& version);

    // readFromData:ofType:error: on a new document. False refuses the data
    // and leaves the document as it was. A file that is no keyed archive of
    // a dictionary is refused without an alert. Settings the file lacks keep
    // their new-document values; opening writes no user defaults. On success
    // the cue whose cueID is the window options' "selectedCueID" is
    // selected, as the window does when it opens.
    bool readFromData(const Data& data, std::string* error);
    // dataOfType:error: the root dictionary refreshed, archived.
    Data dataOfType(std::string* error);
    // Saves atomically; false with `error` saying why (the old file stays).
    // On success the document belongs to `path`, counts as saved, and its
    // autosave copy is removed.
    bool writeToFile(const std::string& path, std::string* error);
    const std::string& filePath() const { return filePath_; }
    void setFilePath(std::string path) { filePath_ = std::move(path); }

    UndoManager& undoManager() { return undoManager_; }
    DocumentUndoController& undoController() { return undoController_; }
    ReelArrayController& reelController() { return *reelController_; }
    CueArrayController& cueController() { return *cueController_; }

    // The root dictionary as read (and as refreshed by the last save).
    ValueDictionary& documentDataFromDisk() { return *root_; }
    // The lists as they stand (the two controllers' content, the ADR/Foley
    // list); the setters replace them, keeping objects of the right class.
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
    std::vector<std::shared_ptr<CueEventSoundCue>>& selectedADRFoleyEvents() {
        return selectedADRFoleyEvents_;
    }
    std::shared_ptr<Cue> adrFoleyCue();
    // The events a rehearsal in the ADR/Foley view starts from: the selected
    // ones, or every event in time order when none is selected.
    std::vector<std::shared_ptr<CueEventSoundCue>> adrFoleyRehearsalEvents() const;

    // The window's status bar (not retained; null: messages are dropped).
    void setStatusDisplay(DocumentStatusDisplay* display) { statusDisplay_ = display; }
    DocumentStatusDisplay* statusDisplay() const { return statusDisplay_; }
    // "Wrong framerate" for 0.5 s.
    void receivedAtWrongFramerate();
    // A cue's bar-number offset changed (the views redraw their bar numbers).
    virtual void barNumberOffsetDidChange() {}

    // Changes since the last save (or since it was made or opened).
    bool isDocumentEdited() const;
    // Changes since the last save or autosave.
    bool hasUnautosavedChanges() const;
    // Writes the autosave copy when there are changes not yet autosaved,
    // then "Autosaved" for 2.0 s. Answers success (true when nothing needed
    // writing); `error` says why it failed.
    bool autosave(std::string* error = nullptr);
    // Where this document's autosave copy goes: "<name>.autosave.tollvane"
    // beside its file; for an untitled document in the state folder
    // ($TOLLVANE_CONFIG_DIR when set, else $XDG_STATE_HOME/tollvane, else
    // ~/.local/state/tollvane).
    std::string autosavePath() const;

    uint32_t documentHandle() const { return handle_; }
    // The living document with that handle, or null.
    static std::shared_ptr<Document> documentForHandle(uint32_t handle);
    // Makes a document known to documentForHandle (done by the factories).
    void registerHandle();

    void performUndoOperation(const std::string& operation, const Value& argument) override;

private:
    class UndoProxy;
    void registerDiscreteUndo(const char* selector, const Value& oldValue, const char* actionName);
    // The hidden ADR/Foley cue, made on first use at the project rate.
    std::shared_ptr<Cue> hiddenCue() const;
    // Gives the ADR/Foley list's events the hidden cue and rebuilds it.
    void attachADRFoleyEvents();
    // Builds the list from the cues of a file saved before the list existed.
    void convertOldADRFoleyFormat();
    void refreshRootDictionary();
    int64_t selectedCueIDForWindowOptions() const;

    UndoManager undoManager_;
    DocumentUndoController undoController_;
    std::shared_ptr<UndoProxy> undoProxy_;
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
    mutable std::shared_ptr<Cue> adrFoleyCue_;
    DocumentStatusDisplay* statusDisplay_ = nullptr;
    uint32_t handle_;
    // UndoManager::changeToken() at the last save and the last autosave.
    uint64_t savedToken_ = 0;
    uint64_t autosavedToken_ = 0;
};

}  // namespace tollvane
