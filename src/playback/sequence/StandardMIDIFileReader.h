#pragma once

// Reads Standard MIDI Files (formats 0 and 1) into music-sequence events.
//
// What becomes of the file's events:
//   - tempo meta events (0x51, 3 bytes) become extended tempo events on the
//     tempo track, from whichever track they come;
//   - time signatures (0x58) stay meta events and go to the tempo track;
//   - every other meta event (track name, text, markers, SMPTE offset, ...)
//     stays a meta event on its own track; end-of-track only sets the
//     track's length (a track without one ends at its last event);
//   - system exclusive (F0 and F7 forms) becomes MIDI raw data with the bytes
//     as they go out on the wire (the F0 form keeps its leading F0);
//   - a note-on and its note-off become one MIDI note message with the
//     duration in beats; a note-on of velocity 0 is a note-off; repeated
//     notes of one key and channel are paired first in, first out; a note
//     still sounding at the end of its track ends there; a note-off without
//     a note-on is dropped;
//   - every other channel message becomes a MIDI channel message.
// For format 1 the first track (the conductor) becomes the tempo track; for
// format 0 the one track's tempo and time signatures go to the tempo track
// and everything else to a single track, both as long as the file's track.
//
// Refused: format 2, divisions in SMPTE frames ("SMPTE-based time division
// is not supported": the store keeps time in beats, and such a file's tempo
// events would not agree with the time of its events), and anything
// malformed. Every length in the file is checked against the bytes that are
// left, variable-length numbers take at most 4 bytes, and nothing is
// allocated that the size of the file does not account for; a failure leaves
// the sequence untouched and says why in one line.
//
// Pure functions without shared state; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "playback/sequence/MusicEventData.h"

namespace tollvane {

class MusicSequence;

class StandardMIDIFileReader {
public:
    // Larger files are refused before they are read. A cue's file is a few
    // hundred kilobytes; in memory every event costs some 40 times the 2 or 3
    // bytes it may take in a file, so this bounds a hostile file to about a
    // gigabyte.
    static constexpr size_t kMaxFileSize = size_t{32} << 20;

    // Each track's events in time order, and its length in beats (the time of
    // its end-of-track event). `trackLengths` runs beside `tracks`; a track
    // without an entry there is as long as its events.
    struct Contents {
        uint16_t format = 0;
        uint16_t ticksPerQuarter = 0;
        std::vector<MusicEventData> tempoTrack;
        double tempoTrackLength = 0.0;
        std::vector<std::vector<MusicEventData>> tracks;
        std::vector<double> trackLengths;
    };

    // Parses the bytes of a file. Answers 0, or kMusicSequenceError_InvalidFile
    // with the reason in `reason` (and `contents` in an unspecified state).
    static int parse(const uint8_t* bytes, size_t size, Contents& contents, std::string& reason);

    // Puts parsed events in place of the sequence's own: the tempo track's on
    // its tempo track, each other track as a track of its own. On failure the
    // sequence is left as it was.
    static int load(Contents&& contents, MusicSequence& sequence);

    // parse() and then load().
    static int read(const uint8_t* bytes, size_t size, MusicSequence& sequence,
                    std::string* reason = nullptr);

    // The bytes of the file at `path` (kMusicSequenceError_FileIO when it
    // cannot be opened or read, kMusicSequenceError_FileTooLarge above
    // kMaxFileSize), and the same followed by read().
    static int readFileBytes(const std::string& path, std::vector<uint8_t>& bytes,
                             std::string* reason = nullptr);
    static int readFile(const std::string& path, MusicSequence& sequence, std::string* reason = nullptr);
};

}  // namespace tollvane
