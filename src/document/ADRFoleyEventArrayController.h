#pragma once

// A document's ADR/Foley event list as the user edits it: lines of dialogue
// and sound effects (CueEventSoundCue), each locked to a timecode, all
// belonging to the document's hidden cue so that the cue machinery plays
// them. Adds and removes are single undo steps; the inspector edits several
// selected events at once; tags feed two menus (select by tag, deselect by
// tag); delimited text files are imported one after another, each through
// its own import dialog.
//
// The list and its selection are the document's (adrFoleyEvents,
// selectedADRFoleyEvents); the hidden cue is the document's adrFoleyCue.
//
// Observed keys: "allTags" (the tag menus rebuild from it).
//
// Threads: main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/archive/Value.h"

namespace tollvane {

class Cue;
class CueEventSoundCue;
class Document;

class ADRFoleyEventArrayController : public KeyValueObservable {
public:
    using Events = std::vector<std::shared_ptr<CueEventSoundCue>>;

    // The open panel of importCSV.
    static constexpr const char* kImportPanelTitle = "Select a text file";
    static const std::vector<std::string>& importFileTypes();
    // The keys that the inspector reads and writes on every selected event.
    static const std::vector<std::string>& selectionKeys();

    // What the inspector shows for a key: nothing selected, events that
    // disagree, or the value they share.
    struct SelectedValue {
        enum class Marker { NoSelection, MultipleValues, Value };
        Marker marker = Marker::NoSelection;
        Value value;
        bool isNoSelection() const { return marker == Marker::NoSelection; }
        bool isMultipleValues() const { return marker == Marker::MultipleValues; }
    };

    // What finishImportingCSV did.
    struct ImportResult {
        Events added;
        // Why nothing was imported (the file could not be read); empty otherwise.
        std::string error;
    };

    // Makes the hidden cue (windowDidLoad) and starts following the tags.
    explicit ADRFoleyEventArrayController(Document& document);
    ~ADRFoleyEventArrayController() override;
    ADRFoleyEventArrayController(const ADRFoleyEventArrayController&) = delete;
    ADRFoleyEventArrayController& operator=(const ADRFoleyEventArrayController&) = delete;

    Document& document() const { return document_; }
    std::shared_ptr<Cue> adrFoleyCue() const;
    const Events& events() const;
    const Events& selectedEvents() const;
    void setSelectedEvents(Events events);

    // "Add Cue": a new event at the sync controller's timecode (else "1" at
    // the project rate), selected. Answers it.
    std::shared_ptr<CueEventSoundCue> addEvent();
    // "Delete Cue" / "Delete Cues": the selected events leave the list and
    // wait in the undo controller's deletedObjects.
    void removeEvents();
    // Puts removed events back ("Delete Cues" is what their removal again is called).
    void reinstateEvents(const Events& events);

    // Each selected event: the timecode now, or one frame later or earlier.
    // One undo step each time, however many events are selected.
    void lockCueToNow();
    void nudgeCueForward();
    void nudgeCueBackward();

    // The row of `clicked` had its checkbox flipped: when it is one of the
    // selected events, every selected event takes its enabled value.
    void toggleSelectionEnabled(const std::shared_ptr<CueEventSoundCue>& clicked);

    // Every tag any event carries, once each, sorted.
    const std::vector<std::string>& allTags() const { return allTags_; }
    // The two tag menus: add to / take from the selection every event with the tag.
    void selectByTag(std::string_view tag);
    void deselectByTag(std::string_view tag);

    // selectedValueForKey: / setSelectedValue:forKey: for selectionKeys();
    // an unknown key reads as no selection and writes nothing.
    SelectedValue selectedValueForKey(std::string_view key) const;
    void setSelectedValue(const Value& value, std::string_view key);

    // The import queue. importCSV takes the files chosen in its open panel
    // (or dropped on the table), queues them and starts the first import.
    std::vector<std::string>& pendingCSVImports() { return pendingCSVImports_; }
    void importCSV(const std::vector<std::string>& paths);
    // Opens the import dialog for the first queued file, taking it off the
    // queue; nothing when the queue is empty. Answers whether a dialog opened.
    bool startImportingCSV();
    // What opens the import dialog ("ImportCSV") for a file; the GUI shows
    // its window, the command line and tests answer at once.
    using ImportDialogOpener = std::function<void(const std::string& path)>;
    void setImportDialogOpener(ImportDialogOpener opener) { openImportDialog_ = std::move(opener); }
    // "Import from Text", then the next queued import. A file that cannot be
    // read imports nothing (and registers no step).
    ImportResult finishImportingCSV(const std::string& path, std::string_view delimiter,
                                    const std::vector<std::string>& columns);
    // The dialog was cancelled: the rest of the queue stays.
    void cancelImportingCSV() {}

    // The same import from rows already split, for callers that checked them first.
    Events importRows(const std::vector<std::vector<std::string>>& rows,
                      const std::vector<std::string>& columns);

    // What an import would silently get wrong, for callers that refuse such
    // files (the command line): the first row ("row 3: ...", counting rows
    // with fields) that has more fields than there are columns, or whose
    // sync field is no timecode. Empty when there is none.
    static std::string problemWithRows(const std::vector<std::vector<std::string>>& rows,
                                       const std::vector<std::string>& columns);
    // Digits in up to five groups, one of ":;.," between groups: what a
    // timecode is typed as. The timecode fields read any text as some
    // timecode; this says whether the text meant one.
    static bool isTimecodeText(std::string_view text);

    // A tags field: trimmed, split at ",", each piece trimmed, empty pieces
    // and repeats dropped.
    static std::vector<std::string> tagsFromField(std::string_view field);

private:
    class UndoForwarder;
    void performUndoOperation(const std::string& operation, const Value& argument);
    void registerUndo(const std::string& operation, const Events& events, const std::string& actionName);
    // List changes with undo registration off; the hidden cue recompiles.
    void insertEvents(const Events& events);
    void eraseEvents(const Events& events);
    // Takes events out of the list (parked as deleted) and registers their reinstatement.
    void removeEventObjects(const Events& events, const std::string& actionName);
    // Runs `edit` on every selected event inside one undo step.
    void editSelected(const std::function<void(CueEventSoundCue&)>& edit);
    // Follows the tags of exactly the events in the list.
    void followEvents();
    void rebuildAllTags();
    static Value arrayOf(const Events& events);
    static Events eventsOf(const Value& array);

    Document& document_;
    std::shared_ptr<UndoForwarder> undoTarget_;
    std::vector<std::string> allTags_;
    std::vector<std::string> pendingCSVImports_;
    ImportDialogOpener openImportDialog_;
    struct Followed {
        std::weak_ptr<CueEventSoundCue> event;
        KeyValueObservable::ObserverToken token = 0;
    };
    std::unordered_map<const CueEventSoundCue*, Followed> followed_;
};

}  // namespace tollvane
