#pragma once

// The streamer-track utility: loads a Standard MIDI File, finds its track
// named "Streamers" and moves the notes on it earlier, so that a streamer or
// punch fired by a note starts ahead of the hit by the streamer's length or
// the punch's lead; then saves a processed copy. What it did and found goes
// to its processing log.
//
// Notes 48-95 of the track, by octave and pitch class:
//   48 C, 50 D, 52 E, 53 F   punches, moved 0, 2, 4 and 6 frames (at 30 fps)
//                            earlier; the other notes 49-59 stay
//   60-71, 72-83, 84-95      streamers of 3, 4 and 5 feet, moved as many
//                            seconds earlier as such a streamer runs (2,
//                            2 2/3 and 3 1/3 s)
// A note is moved in seconds through the file's tempo map; a note that would
// go before 0 s stays where it is, with a warning.
//
// Threads: main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/ProcessingLog.h"

namespace tollvane {

class FFMusicSequence;
class FFMusicTrack;

class Sequencer {
public:
    static constexpr const char* kStreamersTrackName = "Streamers";

    // The save panel of open(): asked with the message "Save processed copy
    // of <file name>" and the file type "mid"; answers the chosen path, or
    // nothing when the user cancels.
    using SavePanel =
        std::function<std::optional<std::string>(const std::string& message, const std::string& fileType)>;

    static Sequencer& sharedSequencer();

    Sequencer() = default;
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // Processes each file in turn: processMIDIFile, then, when that worked,
    // asks `savePanel` where to save the copy and saves it there; the
    // sequence is let go after each file.
    void open(const std::vector<std::string>& paths, const SavePanel& savePanel);

    // Clears the log, heads it with the file's name, loads the file, finds
    // the "Streamers" track, moves its notes and logs the counts. False (with
    // an error in the log, and no sequence kept) when the file does not load
    // or has no such track.
    bool processMIDIFile(const std::string& path);

    // A fresh sequence from the file in place of the old one; false (with an
    // error in the log, and no sequence) when it does not load.
    bool loadMIDIFile(const std::string& path);
    // Writes the sequence as a Standard MIDI File at `path`, replacing any
    // file there whole or not at all. False (with errors in the log) on
    // failure or without a sequence.
    bool saveMIDIFile(const std::string& path);
    // Lets the sequence go.
    void disposeSequence() { sequence_.reset(); }

    // The first track of `sequence` (without its tempo track) whose name
    // equals `name` ignoring letter case; null when there is none.
    static std::shared_ptr<FFMusicTrack> firstTrackNamed(FFMusicSequence& sequence, const std::string& name);
    // The characters of all the track's track-name meta events in order,
    // without surrounding blanks; "" for a track without one.
    static std::string nameOfTrack(const FFMusicTrack& track);

    // What a note number is and how far it moves: kind None for notes that
    // are neither streamers nor punches; `shift` is in seconds (0 or less).
    enum class NoteKind { None, Streamer, Punch };
    struct NoteTreatment {
        NoteKind kind = NoteKind::None;
        double shift = 0.0;
    };
    static NoteTreatment treatmentOfNote(uint8_t note);

    // "%d streamer%@ and %d punch%@ found, out of %d note%@.", each noun
    // plural unless its count is 1.
    static std::string countsMessage(int streamers, int punches, int notes);

    const std::string& path() const { return path_; }
    const ProcessingLog& log() const { return log_; }
    std::shared_ptr<FFMusicSequence> sequence() const { return sequence_; }

private:
    void shiftNotesOfTrack(const FFMusicTrack& track);

    std::string path_;
    ProcessingLog log_;
    std::shared_ptr<FFMusicSequence> sequence_;
};

}  // namespace tollvane
