#include "document/SMFImporter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "document/Document.h"
#include "document/DocumentUndoController.h"
#include "document/ImportSMFWindowController.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventPunch.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/Log.h"
#include "platform/UndoTarget.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicTrack.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaSMPTEOffset = 0x54;
constexpr uint8_t kMetaTimeSignature = 0x58;

// The data of a meta event block: meta type, three unused bytes, the data
// length (u32), the data.
struct MetaData {
    uint8_t type = 0;
    std::span<const uint8_t> bytes;
};

std::optional<MetaData> metaDataOf(const FFMusicEvent& event) {
    const std::span<const uint8_t> block = event.metaEvent();
    if (block.size() < 8) return std::nullopt;
    uint32_t length = 0;
    std::memcpy(&length, block.data() + 4, sizeof length);
    // The length word is the file's claim; never read past what was stored.
    if (length > block.size() - 8) return std::nullopt;
    return MetaData{block[0], block.subspan(8, length)};
}

// The raw bytes of a MIDI raw-data block (length word, then the bytes).
std::span<const uint8_t> rawBytesOf(const FFMusicEvent& event) {
    const std::span<const uint8_t> block = event.midiRawData();
    if (block.size() < 4) return {};
    uint32_t length = 0;
    std::memcpy(&length, block.data(), sizeof length);
    if (length > block.size() - 4) return {};
    return block.subspan(4, length);
}

int32_t clickNoteDurationForClocks(uint8_t clocks) {
    switch (clocks) {
        case 192:
            return 0;
        case 144:
            return 1;
        case 96:
            return 2;
        case 72:
            return 3;
        case 48:
            return 4;
        case 36:
            return 5;
        case 24:
            return 6;
        case 18:
            return 7;
        case 12:
            return 8;
        case 9:
            return 9;
        case 6:
            return 10;
        case 3:
            return 12;
        default:
            return NoteDuration::kNoChange;
    }
}

float widthForSize(int64_t size) {
    if (size == 2) return 1.5f;
    if (size == 0) return 0.75f;
    return 1.0f;
}

bool importsClickChanges() {
    const Value setting =
        UserDefaults::standardUserDefaults().objectForKey(SMFImporter::kImportClickChangesKey);
    return setting.isNull() || setting.toBool();
}

struct Collected {
    std::shared_ptr<TLEvent> event;
    float timeStamp;
};

void addCollectedEvents(Cue& cue, const std::shared_ptr<Cue>& owner, std::vector<Collected>& collected) {
    for (const auto& [event, timeStamp] : collected) {
        const float width = widthForSize(event->valueForKey("eventSize").toInt64(1));
        const Value length = event->valueForKey("eventLength");
        if (event->eventType() == TLEvent::kStreamer) {
            const float feet = static_cast<float>(length.toDouble()) * 0.6666667f * 1.5f;
            cue.trackEvents().push_back(
                CueEventStreamer::streamerEventWithCue(owner, event->color(), feet, width, timeStamp));
        } else if (event->eventType() == TLEvent::kPunch) {
            cue.trackEvents().push_back(CueEventPunch::punchEventWithCue(
                owner, event->color(), static_cast<int32_t>(length.toInt64()), width, timeStamp));
        }
    }
    collected.clear();
}

// Removes the imported cue again; holds the document weakly, so an undo
// step outliving its document does nothing.
class RemoveImportedCue : public UndoTarget {
public:
    explicit RemoveImportedCue(std::weak_ptr<Document> document) : document_(std::move(document)) {}
    void performUndoOperation(const std::string&, const Value& argument) override {
        const auto document = document_.lock();
        if (const auto cue = argument.object<Cue>(); document && cue)
            document->cueController().removeObject(cue);
    }

private:
    std::weak_ptr<Document> document_;
};

}  // namespace

SMFImporter::SMFImporter(Document& document, const TLEventController* mapping)
    : document_(document), mapping_(mapping) {}

std::shared_ptr<Cue> SMFImporter::cueWithContentsOfFile(const std::string& path,
                                                        const TrackIndexes& trackIndexes,
                                                        uint32_t droppingPrerollBars,
                                                        const TLEventController* mapping) {
    auto cue = Cue::create();
    if (const auto sequence = FFMusicSequence::sequenceWithContentsOfFile(path)) {
        importSequence(*cue, *sequence, trackIndexes, droppingPrerollBars, mapping);
    }
    std::string title =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    for (size_t found; (found = title.find(".mid")) != std::string::npos;) title.erase(found, 4);
    cue->setTitle(title);
    return cue;
}

void SMFImporter::importSequence(Cue& cue, FFMusicSequence& sequence, const TrackIndexes& trackIndexes,
                                 uint32_t droppingPrerollBars, const TLEventController* mapping) {
    const TLEventController& events = mapping ? *mapping : TLEventController::sharedController();
    const std::shared_ptr<Cue> owner = cue.shared_from_this();
    cue.setUpdatesSuspended(true);

    const double b0 = sequence.beatsForBarNumber(static_cast<int32_t>(droppingPrerollBars) + 1, 1);
    const double s0 = sequence.secondsForBeats(b0);
    const double cutOff = b0 - kCutOffToleranceBeats;
    const bool clickChanges = importsClickChanges();

    double latestEventTime = 0.0;
    std::optional<double> tempoBeforeCutOff;
    std::optional<TimeSignature> meterBeforeCutOff;
    double lastImportedTempo = 0.1;
    int32_t clickNoteDuration = NoteDuration::kNoChange;
    std::vector<Collected> collected;

    auto addTempo = [&](double bpm, double beats) {
        cue.tempoEvents().push_back(
            CueEventTempoChange::tempoChangeEventWithCue(owner, bpm, NoteDuration::kQuarter, beats - b0));
    };
    auto collect = [&](const TLEventController::Events& found, double beats) {
        for (const auto& event : found) collected.push_back({event, static_cast<float>(beats - b0)});
    };

    std::vector<std::shared_ptr<FFMusicTrack>> tracks = sequence.allTracksExceptTempoTrack();
    const size_t selectableTracks = tracks.size();
    if (auto tempoTrack = sequence.tempoTrack()) tracks.push_back(std::move(tempoTrack));

    for (size_t index = 0; index < tracks.size(); ++index) {
        const bool selected =
            index < selectableTracks && trackIndexes.count(static_cast<uint32_t>(index)) != 0;
        for (const FFMusicEvent& event : tracks[index]->events()) {
            const double beats = event.timeStamp();
            latestEventTime = std::max(latestEventTime, beats);
            const bool beforeCutOff = beats < cutOff;
            switch (event.type()) {
                case kMusicEventType_ExtendedTempo: {
                    const double bpm = event.extendedTempoEvent();
                    if (beforeCutOff) {
                        tempoBeforeCutOff = bpm;
                    } else if (std::fabs(bpm - lastImportedTempo) >= kTempoTolerance) {
                        addTempo(bpm, beats);
                        lastImportedTempo = bpm;
                    }
                    break;
                }
                case kMusicEventType_Meta: {
                    const std::optional<MetaData> meta = metaDataOf(event);
                    if (!meta) break;
                    const auto& data = meta->bytes;
                    if (meta->type == kMetaTempo) {
                        if (data.size() != 3) {
                            TLLog("Tempo change had wrong data length. Discarding.");
                            break;
                        }
                        const uint32_t micros =
                            (uint32_t{data[0]} << 16) | (uint32_t{data[1]} << 8) | data[2];
                        // A tempo of zero microseconds a quarter has no bpm.
                        if (micros == 0) break;
                        const double bpm = 60000000.0 / micros;
                        if (beforeCutOff) {
                            tempoBeforeCutOff = bpm;
                        } else {
                            addTempo(bpm, beats);
                        }
                    } else if (meta->type == kMetaTimeSignature) {
                        if (data.size() != 4) {
                            TLLog("Meter change had wrong data length. Discarding.");
                            break;
                        }
                        const TimeSignature meter{data[0],
                                                  static_cast<uint16_t>(data[1] <= 7 ? 1u << data[1] : 4u)};
                        if (clickChanges) clickNoteDuration = clickNoteDurationForClocks(data[2]);
                        if (beforeCutOff) {
                            meterBeforeCutOff = meter;
                        } else {
                            const int32_t bar = sequence.barBeatTimeForBeats(beats).bar -
                                                static_cast<int32_t>(droppingPrerollBars);
                            cue.meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(
                                owner, meter, clickNoteDuration, bar));
                        }
                    } else if (meta->type == kMetaSMPTEOffset) {
                        if (data.size() != 5) {
                            TLLog("SMPTE offset event had wrong data length. Discarding.");
                            break;
                        }
                        // Hours are the hour byte's low five bits (the two above
                        // them name the file's rate); the fraction is in
                        // hundredths of a frame, the timecode's bits eightieths.
                        char text[64];
                        std::snprintf(text, sizeof text, "%d:%d:%d:%d.%d", data[0] & 0x1F, data[1], data[2],
                                      data[3], std::min(data[4], uint8_t{99}) * 80 / 100);
                        cue.setSyncTimecodeString(text);
                        if (auto sync = cue.syncTimecode()) {
                            sync->addSeconds(s0);
                            cue.setSyncTimecode(std::move(sync));
                        }
                    }
                    break;
                }
                case kMusicEventType_MIDINoteMessage: {
                    if (!selected || beforeCutOff) break;
                    const MIDINoteMessage note = event.midiNoteEvent();
                    if (note.velocity == 0) break;
                    collect(events.eventsForNote(static_cast<unsigned>(note.note) - 12u), beats);
                    break;
                }
                case kMusicEventType_MIDIRawData: {
                    if (!selected || beforeCutOff) break;
                    const std::span<const uint8_t> bytes = rawBytesOf(event);
                    collect(events.eventsForSysex(bytes.data(), bytes.size()), beats);
                    break;
                }
                default:
                    break;
            }
        }
        addCollectedEvents(cue, owner, collected);
    }

    if (tempoBeforeCutOff) {
        cue.tempoEvents().push_back(CueEventTempoChange::tempoChangeEventWithCue(
            owner, *tempoBeforeCutOff, NoteDuration::kQuarter, 0.0));
    }
    if (meterBeforeCutOff) {
        cue.meterEvents().push_back(
            CueEventMeterChange::meterChangeEventWithCue(owner, *meterBeforeCutOff, 0.0));
    }

    // The end follows the same shift as every other event, so dropped
    // pre-roll does not leave empty bars at the cue's end.
    auto end = CueEventCueEnd::cueEndEventWithCue(owner);
    end->setLockPrerollShiftedBeats(std::max(latestEventTime - b0, 0.0) + Cue::kPrerollBeats);
    cue.setCueEndEvent(std::move(end));
    cue.setUpdatesSuspended(false);
    cue.reallyUpdateSequence();
}

std::unique_ptr<ImportSMFWindowController> SMFImporter::startImportingSMF() {
    auto& queue = document_.cueController().pendingSMFImports();
    if (queue.empty()) return nullptr;
    const std::string path = queue.front();
    queue.erase(queue.begin());
    auto dialog = std::make_unique<ImportSMFWindowController>(*this);
    dialog->setDownbeatBarNumber(1);
    dialog->setPrerollBarsToDrop(0);
    dialog->setPathToImport(path);
    return dialog;
}

std::shared_ptr<Cue> SMFImporter::finishImportingSMF(const std::string& path,
                                                     const TrackIndexes& trackIndexes,
                                                     uint32_t droppingPrerollBars) {
    DocumentUndoController& undo = document_.undoController();
    const bool wasEnabled = undo.undoEnabled();
    CueArrayController& cues = document_.cueController();
    undo.setUndoEnabled(false);
    const auto cue = cueWithContentsOfFile(path, trackIndexes, droppingPrerollBars, mapping_);
    cue->setDocument(&document_);
    cue->setBarNumberOffset(Value(int64_t{cues.cueStartBarNumber()} - 1));
    cues.addObject(cue);
    cues.setSelectedObjects({cue});
    cue->willChangeValueForKey("syncPrerollShiftedBeats");
    cue->didChangeValueForKey("syncPrerollShiftedBeats");
    undo.setUndoEnabled(wasEnabled);
    undo.registerDiscreteUndoWithTarget(std::make_shared<RemoveImportedCue>(document_.weak_from_this()),
                                        "removeObject:", Value(cue), kUndoActionName);
    return cue;
}

}  // namespace tollvane
