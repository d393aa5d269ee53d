#pragma once

// Writes a sequence as a Standard MIDI File: format 1, 480 ticks per quarter
// note, the tempo track first, then every track in order.
//
//   extended tempo        FF 51 03 with the microseconds per quarter note
//                         (rounded; a bpm that is not finite and positive is
//                         left out)
//   meta                  FF type length data, as it is (an end-of-track
//                         event is not copied: each track gets its own)
//   MIDI note message     a note-on and a note-off (with the release velocity);
//                         at one tick the note-offs of earlier notes go before
//                         the note-ons, and a note of no length ends right after
//                         it starts. A note of velocity 0 is left out: in a
//                         file it would read as a note-off.
//   MIDI channel message  status and its data bytes (status 80 to EF only)
//   MIDI raw data         F0 length bytes when the data begins with F0,
//                         otherwise the F7 escape with the bytes as they are
//   user, extended note, extended control, parameter, AU preset: left out (the
//                         file format does not carry them)
//   end of track          at the track's length (or its last event, if later)
//
// Times are rounded to the tick (a note's start and its end each); times
// before 0 are written at 0. Reading a written file gives back the same
// events and track lengths to within a tick (1/480 beat), except where two
// notes of one key overlap (the file pairs note-offs first in, first out).
//
// Pure functions without shared state; any thread. The tracks are read under
// the sequence's lock one at a time.

#include <cstdint>
#include <string>
#include <vector>

namespace tollvane {

class MusicSequence;

class StandardMIDIFileWriter {
public:
    static constexpr uint16_t kTicksPerQuarter = 480;

    // The file's bytes in `bytes`. Answers 0, or kMusicSequenceError_OutOfRange
    // when the sequence holds what the format cannot (more than 65,535 tracks,
    // two events more than 2^28 - 1 ticks apart, a meta or system-exclusive
    // event of 2^28 bytes or more), with the reason in `reason`.
    static int write(const MusicSequence& sequence, std::vector<uint8_t>& bytes,
                     std::string* reason = nullptr);

    // Writes the file at `path`, replacing it only once the new file is
    // complete (kMusicSequenceError_FileIO when it cannot be written).
    static int writeFile(const MusicSequence& sequence, const std::string& path,
                         std::string* reason = nullptr);
};

}  // namespace tollvane
