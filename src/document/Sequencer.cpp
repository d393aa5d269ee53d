#include "document/Sequencer.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "playback/FFMusicEvent.h"
#include "playback/FFMusicEventIterator.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicTrack.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"
#include "playback/sequence/StandardMIDIFileWriter.h"

namespace tollvane {

namespace {

constexpr uint8_t kTrackNameMetaType = 3;

// A streamer runs 1.5 feet a second; punch leads are frames at 30 fps.
constexpr double kFeetPerSecond = 1.5;
constexpr double kFramesPerSecond = 30.0;

// Seconds and beats come from tick times through a tempo map: a note whose
// shift lands within this of 0 s lands on 0 instead of being refused.
constexpr double kStartTolerance = 1e-9;

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool isBlank(char c) {
    // Some sequencers end their names with a NUL, as in a C string.
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

std::string plural(int count, const char* suffix) {
    return count == 1 ? "" : suffix;
}

}  // namespace

Sequencer& Sequencer::sharedSequencer() {
    static Sequencer instance;
    return instance;
}

void Sequencer::open(const std::vector<std::string>& paths, const SavePanel& savePanel) {
    for (const std::string& path : paths) {
        if (processMIDIFile(path)) {
            const std::string message =
                "Save processed copy of " + std::filesystem::path(path).filename().string();
            if (const std::optional<std::string> chosen = savePanel(message, "mid")) saveMIDIFile(*chosen);
        }
        disposeSequence();
    }
}

bool Sequencer::processMIDIFile(const std::string& path) {
    path_ = path;
    log_.clear();
    log_.addHeading(std::filesystem::path(path).filename().string());

    if (!loadMIDIFile(path)) {
        log_.addError("Unable to load MIDI file.");
        return false;
    }
    const std::shared_ptr<FFMusicTrack> track = firstTrackNamed(*sequence_, kStreamersTrackName);
    if (!track) {
        log_.addError("The selected MIDI file does not contain a track named \"Streamers\".");
        // Nothing was processed: there must be nothing to save.
        disposeSequence();
        return false;
    }
    log_.addMessage("Streamers track found.");
    shiftNotesOfTrack(*track);
    return true;
}

bool Sequencer::loadMIDIFile(const std::string& path) {
    sequence_.reset();
    auto store = std::make_shared<MusicSequence>();
    std::string reason;
    if (const int status = StandardMIDIFileReader::readFile(path, *store, &reason);
        status != kMusicSequenceNoErr) {
        log_.addError("Could not load MIDI file into sequence.", status, reason);
        return false;
    }
    sequence_ = FFMusicSequence::sequenceWithMusicSequence(std::move(store));
    return true;
}

bool Sequencer::saveMIDIFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string reason;
    const int status = sequence_ && sequence_->musicSequence()
                           ? StandardMIDIFileWriter::write(*sequence_->musicSequence(), bytes, &reason)
                           : kMusicSequenceError_InvalidArgument;
    if (status != kMusicSequenceNoErr) {
        log_.addError("Unable to generate MIDI file.", status, sequence_ ? reason : "no sequence is loaded");
        log_.addError("Unable to save MIDI file.");
        return false;
    }
    if (const std::string failure = AtomicFile::write(path, bytes); !failure.empty()) {
        log_.addError("Unable to save MIDI file.", kMusicSequenceError_FileIO, path + ": " + failure);
        return false;
    }
    return true;
}

std::shared_ptr<FFMusicTrack> Sequencer::firstTrackNamed(FFMusicSequence& sequence, const std::string& name) {
    for (const std::shared_ptr<FFMusicTrack>& track : sequence.allTracksExceptTempoTrack()) {
        if (track && equalIgnoringCase(nameOfTrack(*track), name)) return track;
    }
    return nullptr;
}

std::string Sequencer::nameOfTrack(const FFMusicTrack& track) {
    std::string name;
    for (const FFMusicEvent& event : track.events()) {
        if (event.type() == kMusicEventType_Meta && event.metaEventType() == kTrackNameMetaType) {
            name += event.metaEventDataAsString();
        }
    }
    const auto first = std::find_if_not(name.begin(), name.end(), isBlank);
    const auto last = std::find_if_not(name.rbegin(), name.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

Sequencer::NoteTreatment Sequencer::treatmentOfNote(uint8_t note) {
    if (note < 48 || note > 95) return {};
    switch (note / 12) {
        case 4:
            switch (note % 12) {
                case 0:
                    return {NoteKind::Punch, 0.0};
                case 2:
                    return {NoteKind::Punch, -2.0 / kFramesPerSecond};
                case 4:
                    return {NoteKind::Punch, -4.0 / kFramesPerSecond};
                case 5:
                    return {NoteKind::Punch, -6.0 / kFramesPerSecond};
                default:
                    return {};
            }
        case 5:
            return {NoteKind::Streamer, -3.0 / kFeetPerSecond};
        case 6:
            return {NoteKind::Streamer, -4.0 / kFeetPerSecond};
        default:
            return {NoteKind::Streamer, -5.0 / kFeetPerSecond};
    }
}

std::string Sequencer::countsMessage(int streamers, int punches, int notes) {
    return std::to_string(streamers) + " streamer" + plural(streamers, "s") + " and " +
           std::to_string(punches) + " punch" + plural(punches, "es") + " found, out of " +
           std::to_string(notes) + " note" + plural(notes, "s") + ".";
}

void Sequencer::shiftNotesOfTrack(const FFMusicTrack& track) {
    int streamers = 0;
    int punches = 0;
    int notes = 0;
    const std::unique_ptr<FFMusicEventIterator> wrapper = track.eventIterator();
    MusicEventIterator* iterator = wrapper ? wrapper->musicEventIterator() : nullptr;
    if (iterator == nullptr) {
        log_.addError("Could not create event _iterator.");
    } else {
        // Every move is earlier, so the walk meets each event once.
        bool hasEvent = false;
        int status = iterator->hasCurrentEvent(hasEvent);
        for (;;) {
            if (status != kMusicSequenceNoErr) {
                log_.addError("Could not check for next event.", status);
                break;
            }
            if (!hasEvent) break;
            MusicEventData event;
            MIDINoteMessage note;
            if (status = iterator->getEventInfo(event); status != kMusicSequenceNoErr) {
                log_.addError("Could not get next event.", status);
                break;
            }
            if (event.type == kMusicEventType_MIDINoteMessage && event.readFixed(note)) {
                ++notes;
                const NoteTreatment treatment = treatmentOfNote(note.note);
                if (treatment.kind == NoteKind::Streamer) ++streamers;
                if (treatment.kind == NoteKind::Punch) ++punches;
                if (treatment.shift != 0.0) {
                    const double seconds = sequence_->secondsForBeats(event.timeStamp) + treatment.shift;
                    if (seconds < -kStartTolerance) {
                        log_.addWarning(
                            "A MIDI event would be shifted before the start of the MIDI file. This event has "
                            "not been shifted.");
                    } else if (status =
                                   iterator->setEventTime(sequence_->beatsForSeconds(std::max(seconds, 0.0)));
                               status != kMusicSequenceNoErr) {
                        log_.addError("Unable to change event time.", status);
                        break;
                    }
                }
            }
            if (status = iterator->nextEvent(); status != kMusicSequenceNoErr) {
                log_.addError("Could not get next event.", status);
                break;
            }
            status = iterator->hasCurrentEvent(hasEvent);
        }
    }
    log_.addMessage(countsMessage(streamers, punches, notes));
}

}  // namespace tollvane
