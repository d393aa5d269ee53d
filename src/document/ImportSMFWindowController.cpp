#include "document/ImportSMFWindowController.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "model/Cue.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicTrack.h"

namespace tollvane {

namespace {

constexpr uint8_t kMetaText = 0x01;

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

ImportSMFWindowController::ImportSMFWindowController(SMFImporter& importer) : importer_(importer) {}

void ImportSMFWindowController::setPathToImport(std::string path) {
    willChangeValueForKey("pathToImport");
    pathToImport_ = std::move(path);
    sequenceToImport_ = FFMusicSequence::sequenceWithContentsOfFile(pathToImport_);
    trackIndexes_.clear();
    if (sequenceToImport_) {
        const auto tracks = sequenceToImport_->allTracksExceptTempoTrack();
        for (size_t index = 0; index < tracks.size(); ++index) {
            const std::string name = lowercase(tracks[index]->trackName());
            if (name == "streamers" || name == "punches") trackIndexes_.insert(static_cast<uint32_t>(index));
        }
    }
    didChangeValueForKey("pathToImport");
    updateDownbeatTimecode();
}

void ImportSMFWindowController::setPrerollBarsToDrop(uint32_t bars) {
    willChangeValueForKey("prerollBarsToDrop");
    willChangeValueForKey("smfDownbeatBarNumber");
    prerollBarsToDrop_ = bars;
    didChangeValueForKey("smfDownbeatBarNumber");
    didChangeValueForKey("prerollBarsToDrop");
    updateDownbeatTimecode();
}

std::string ImportSMFWindowController::smfFilename() const {
    if (pathToImport_.empty()) return kNoFileName;
    const size_t slash = pathToImport_.find_last_of('/');
    return slash == std::string::npos ? pathToImport_ : pathToImport_.substr(slash + 1);
}

void ImportSMFWindowController::updateDownbeatTimecode() {
    willChangeValueForKey("downbeatTimecodeString");
    const auto cue =
        SMFImporter::cueWithContentsOfFile(pathToImport_, {}, prerollBarsToDrop_, importer_.mapping());
    cachedTimecodeString_ = cue->syncTimecodeString();
    didChangeValueForKey("downbeatTimecodeString");
}

size_t ImportSMFWindowController::numberOfRows() const {
    return sequenceToImport_ ? sequenceToImport_->allTracksExceptTempoTrack().size() : 0;
}

Value ImportSMFWindowController::objectValueForColumn(const std::string& column, size_t row) const {
    if (column == kImportEnabledColumn) {
        return Value(int64_t{trackIndexes_.count(static_cast<uint32_t>(row)) != 0 ? 1 : 0});
    }
    return Value(trackDescription(row));
}

void ImportSMFWindowController::setObjectValueForColumn(const Value& value, const std::string& column,
                                                        size_t row) {
    if (column != kImportEnabledColumn) return;
    if (value.isNumber() && value.toInt64() == 1) {
        trackIndexes_.insert(static_cast<uint32_t>(row));
    } else {
        trackIndexes_.erase(static_cast<uint32_t>(row));
    }
}

std::string ImportSMFWindowController::trackDescription(size_t row) const {
    if (!sequenceToImport_) return "";
    const auto tracks = sequenceToImport_->allTracksExceptTempoTrack();
    if (row >= tracks.size()) return "";
    std::vector<std::string> parts;
    if (std::string name = tracks[row]->trackName(); !name.empty()) parts.push_back(std::move(name));
    for (const FFMusicEvent& event : tracks[row]->events()) {
        if (event.type() == kMusicEventType_Meta && event.metaEventType() == kMetaText) {
            parts.push_back(event.metaEventDataAsString());
        }
    }
    std::string description;
    for (size_t i = 0; i < parts.size(); ++i) description += (i ? " / " : "") + parts[i];
    return description;
}

std::shared_ptr<Cue> ImportSMFWindowController::ok() {
    return importer_.finishImportingSMF(pathToImport_, trackIndexes_, prerollBarsToDrop_);
}

void ImportSMFWindowController::cancel() {
    importer_.cancelImportingSMF();
}

}  // namespace tollvane
