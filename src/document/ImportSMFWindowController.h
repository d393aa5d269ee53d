#pragma once

// The MIDI-file import dialog ("ImportSMF") as a plain object, one per file:
// the file and its loaded sequence, the track table (which tracks to import,
// and a description of each), the pre-roll bars to drop and the sync
// timecode a trial import yields for them. The window only lays this out and
// forwards to it.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "document/SMFImporter.h"
#include "platform/KeyValueObservable.h"
#include "platform/archive/Value.h"

namespace tollvane {

class FFMusicSequence;

class ImportSMFWindowController : public KeyValueObservable {
public:
    static constexpr const char* kNoFileName = "(no file)";
    static constexpr const char* kImportEnabledColumn = "importEnabled";

    // `importer` must outlive the dialog.
    explicit ImportSMFWindowController(SMFImporter& importer);

    const std::string& pathToImport() const { return pathToImport_; }
    // Loads the file, selects the tracks named "streamers" or "punches" (in
    // any letter case) and works out the downbeat timecode.
    void setPathToImport(std::string path);
    // Null when the file did not load.
    std::shared_ptr<FFMusicSequence> sequenceToImport() const { return sequenceToImport_; }

    const SMFImporter::TrackIndexes& trackIndexesSelectedForImport() const { return trackIndexes_; }
    void setTrackIndexesSelectedForImport(SMFImporter::TrackIndexes indexes) {
        trackIndexes_ = std::move(indexes);
    }

    uint32_t prerollBarsToDrop() const { return prerollBarsToDrop_; }
    // Also announces "smfDownbeatBarNumber" and works out the downbeat timecode.
    void setPrerollBarsToDrop(uint32_t bars);
    int32_t downbeatBarNumber() const { return downbeatBarNumber_; }
    void setDownbeatBarNumber(int32_t bar) { downbeatBarNumber_ = bar; }
    uint32_t smfDownbeatBarNumber() const { return prerollBarsToDrop_ + 1; }
    // The file's name, or "(no file)".
    std::string smfFilename() const;
    // The sync timecode of a trial import with no tracks and the current
    // bars to drop.
    const std::string& downbeatTimecodeString() const { return cachedTimecodeString_; }

    // The track table: one row per track of the file (tempo track excluded).
    size_t numberOfRows() const;
    // "importEnabled": 1 or 0; any other column: the track's description.
    Value objectValueForColumn(const std::string& column, size_t row) const;
    // "importEnabled": 1 selects the row, anything else deselects it.
    void setObjectValueForColumn(const Value& value, const std::string& column, size_t row);
    // The track's name (when not empty) and the texts of its text events,
    // joined by " / ".
    std::string trackDescription(size_t row) const;

    // "OK": the import through the cue list. Answers the new cue; the caller
    // then starts the next queued import (SMFImporter::startImportingSMF).
    std::shared_ptr<Cue> ok();
    // "Cancel": queued files stay queued.
    void cancel();

private:
    void updateDownbeatTimecode();

    SMFImporter& importer_;
    std::string pathToImport_;
    std::shared_ptr<FFMusicSequence> sequenceToImport_;
    SMFImporter::TrackIndexes trackIndexes_;
    uint32_t prerollBarsToDrop_ = 0;
    int32_t downbeatBarNumber_ = 1;
    std::string cachedTimecodeString_;
};

}  // namespace tollvane
