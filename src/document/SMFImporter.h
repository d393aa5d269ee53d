#pragma once

// Standard MIDI File import into cues: a file's tempo map, meters, SMPTE
// offset and the marker notes and system-exclusive messages of chosen tracks
// become a new cue, optionally without the pre-roll bars at its head; and
// the cue list's side of the import dialog (the queue of pending files and
// the single undo step "Import SMF").
//
// Notes and system-exclusive messages become streamers and punches through
// an event mapping (by default the shared TLEventController).
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace tollvane {

class Cue;
class Document;
class FFMusicSequence;
class ImportSMFWindowController;
class TLEventController;

class SMFImporter {
public:
    // Tracks are numbered by their place among the file's tracks without the
    // tempo track.
    using TrackIndexes = std::set<uint32_t>;

    static constexpr const char* kImportClickChangesKey = "importClickChanges";
    static constexpr const char* kUndoActionName = "Import SMF";
    // Notes and system-exclusive messages this little before the downbeat of
    // the first imported bar still count (a hit a shade early is meant on it).
    static constexpr double kCutOffToleranceBeats = 0.05;
    // Tempos closer than this to the last imported one add no change.
    static constexpr double kTempoTolerance = 0.01;

    // `mapping` must outlive the importer; null uses the shared controller.
    explicit SMFImporter(Document& document, const TLEventController* mapping = nullptr);

    // A new cue titled after the file (every ".mid" removed), holding what
    // importSequence makes of the file when it loads; a file that does not
    // load leaves the new cue as it was made.
    static std::shared_ptr<Cue> cueWithContentsOfFile(const std::string& path,
                                                      const TrackIndexes& trackIndexes,
                                                      uint32_t droppingPrerollBars,
                                                      const TLEventController* mapping = nullptr);
    // Fills `cue` from `sequence` and compiles it at once.
    static void importSequence(Cue& cue, FFMusicSequence& sequence, const TrackIndexes& trackIndexes,
                               uint32_t droppingPrerollBars, const TLEventController* mapping = nullptr);

    // The first queued file's dialog (taken off the queue), or null when
    // nothing is queued.
    std::unique_ptr<ImportSMFWindowController> startImportingSMF();
    // Adds the file's cue to the document's cue list as one undo step
    // "Import SMF", starting at the list's cueStartBarNumber. Answers the cue.
    std::shared_ptr<Cue> finishImportingSMF(const std::string& path, const TrackIndexes& trackIndexes,
                                            uint32_t droppingPrerollBars);
    // The dialog was cancelled; queued files wait for the next import.
    void cancelImportingSMF() {}

    Document& document() const { return document_; }
    const TLEventController* mapping() const { return mapping_; }

private:
    Document& document_;
    const TLEventController* mapping_;
};

}  // namespace tollvane
