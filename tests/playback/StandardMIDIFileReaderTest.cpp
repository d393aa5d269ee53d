#include "playback/sequence/StandardMIDIFileReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "StandardMIDIFileTestSupport.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {
namespace {

using namespace smftest;
using Lines = std::vector<std::string>;

std::string text(const char* s) {
    return s;
}

// Reads a fixture (written by tests/data/smf/make-fixtures.py with another
// MIDI library) into a sequence; fails the test if it does not load.
void load(const char* name, MusicSequence& sequence) {
    const Bytes bytes = readFixture(name);
    ASSERT_FALSE(bytes.empty()) << name;
    std::string reason;
    ASSERT_EQ(StandardMIDIFileReader::read(bytes.data(), bytes.size(), sequence, &reason),
              kMusicSequenceNoErr)
        << name << ": " << reason;
}

TEST(StandardMIDIFileReaderFixtures, FormatZeroSplitsTempoAndMeterFromTheRest) {
    MusicSequence sequence;
    load("format0.mid", sequence);
    EXPECT_EQ(show(sequence.tempoTrack().events()), (Lines{
                                                        "3 @0.0000 tempo 100.0000",
                                                        "5 @0.0000 meta 58 [03 02 18 08]",
                                                        "3 @3.0000 tempo 150.0000",
                                                    }));
    ASSERT_EQ(sequence.trackCount(), 1u);
    EXPECT_EQ(showTrack(sequence, 0), (Lines{
                                          show(MusicEventData::meta(0, 0x03, "Format zero")),
                                          "7 @0.0000 channel c0 05 00",
                                          // Ended by a note-on of velocity 0, sent under running status.
                                          "6 @0.0000 note ch 0 key 60 vel 100/0 dur 1.0000",
                                          "6 @1.0000 note ch 0 key 64 vel 90/64 dur 1.0000",
                                          "7 @2.0000 channel b0 07 63",
                                          "7 @2.0000 channel e0 00 42",
                                          // Never released: ends with its track.
                                          "6 @3.0000 note ch 1 key 67 vel 80/0 dur 1.0000",
                                      }));
}

TEST(StandardMIDIFileReaderFixtures, FormatOneConductorBecomesTheTempoTrack) {
    MusicSequence sequence;
    load("format1.mid", sequence);
    EXPECT_EQ(show(sequence.tempoTrack().events()), (Lines{
                                                        show(MusicEventData::meta(0, 0x03, "Conductor")),
                                                        "5 @0.0000 meta 54 [01 02 03 04 32]",
                                                        "3 @0.0000 tempo 120.0000",
                                                        "5 @0.0000 meta 58 [04 02 18 08]",
                                                        show(MusicEventData::meta(0, 0x06, "Start")),
                                                        "3 @8.0000 tempo 90.0000",  // 666667 us
                                                        "5 @16.0000 meta 58 [07 03 0c 08]",
                                                        "3 @17.5000 tempo 60.0000",
                                                        "5 @19.5000 meta 58 [06 03 24 08]",
                                                        show(MusicEventData::meta(19.5, 0x06, "Six eight")),
                                                    }));
    ASSERT_EQ(sequence.trackCount(), 2u);
    EXPECT_EQ(showTrack(sequence, 0), (Lines{
                                          show(MusicEventData::meta(0, 0x03, "Streamers")),
                                          show(MusicEventData::meta(0, 0x01, "first text")),
                                          "6 @0.0000 note ch 9 key 60 vel 100/0 dur 1.0000",
                                          show(MusicEventData::meta(0.25, 0x01, "second text")),
                                          // Two notes of one key overlap: first in, first out.
                                          "6 @4.0000 note ch 9 key 62 vel 70/0 dur 1.0000",
                                          "6 @4.5000 note ch 9 key 62 vel 71/0 dur 1.5000",
                                      }));
    EXPECT_EQ(showTrack(sequence, 1), (Lines{
                                          show(MusicEventData::meta(0, 0x03, "Punches")),
                                          show(MusicEventData::meta(0, 0x07, "Cue one")),
                                          "8 @2.0000 raw [f0 7e 7f 09 01 f7]",
                                          "6 @2.0000 note ch 0 key 48 vel 127/0 dur 0.5000",
                                          show(MusicEventData::meta(3, 0x05, "la")),
                                          "5 @3.0000 meta 59 [01 01]",
                                          "7 @3.2500 channel d0 21 00",
                                          "7 @3.2500 channel a0 30 14",
                                      }));
}

TEST(StandardMIDIFileReaderFixtures, TheLoadedMapAnswersInSecondsAndBars) {
    MusicSequence sequence;
    load("format1.mid", sequence);
    double seconds = 0.0;
    ASSERT_EQ(sequence.secondsForBeats(8.0, seconds), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(seconds, 4.0);
    ASSERT_EQ(sequence.secondsForBeats(18.5, seconds), kMusicSequenceNoErr);
    EXPECT_NEAR(seconds, 4.0 + 9.5 * 0.666667 + 1.0, 1e-9);
    BarBeatTime bar;
    ASSERT_EQ(sequence.beatsToBarBeatTime(19.5, 480, bar), kMusicSequenceNoErr);
    EXPECT_EQ(bar.bar, 6);
    EXPECT_EQ(bar.beat, 1);
    EXPECT_EQ(sequence.tempoMap()->timeSignatureAtBeat(17.0), (TimeSignature{7, 8}));
}

TEST(StandardMIDIFileReaderFixtures, TracksAreAsLongAsTheirEndOfTrack) {
    MusicSequence format1;
    load("format1.mid", format1);
    MusicTrack* streamers = nullptr;
    MusicTrack* punches = nullptr;
    ASSERT_EQ(format1.trackAtIndex(0, streamers), kMusicSequenceNoErr);
    ASSERT_EQ(format1.trackAtIndex(1, punches), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(format1.tempoTrack().length(), 25.5);  // its last event is at 19.5
    EXPECT_DOUBLE_EQ(streamers->length(), 7.0);             // its last note ends at 6
    EXPECT_DOUBLE_EQ(punches->length(), 4.0);
    EXPECT_DOUBLE_EQ(format1.lengthInBeats(), 25.5);

    // A format 0 file's tempo track is as long as the track it came from.
    MusicSequence format0;
    load("format0.mid", format0);
    EXPECT_DOUBLE_EQ(format0.tempoTrack().length(), 4.0);
    EXPECT_DOUBLE_EQ(format0.lengthInBeats(), 4.0);
}

TEST(StandardMIDIFileReaderFixtures, SystemExclusiveKeepsTheBytesAsSentOnTheWire) {
    MusicSequence sequence;
    load("sysex.mid", sequence);
    EXPECT_EQ(show(sequence.tempoTrack().events()), (Lines{"3 @0.0000 tempo 120.0000"}));
    ASSERT_EQ(sequence.trackCount(), 1u);  // the unknown chunk between the tracks is passed over
    EXPECT_EQ(showTrack(sequence, 0), (Lines{
                                          "8 @0.0000 raw [f0 43 12 00 f7]",
                                          "8 @1.0000 raw [f0 43 12 00]",
                                          "8 @1.5000 raw [00 f7]",
                                          "8 @2.0000 raw [f3 01]",
                                      }));
}

TEST(StandardMIDIFileReaderFixtures, RefusedFilesSayWhy) {
    struct Case {
        const char* name;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {"format2.mid", kMusicSequenceError_UnsupportedFile,
         "format 2 (independent patterns) is not supported"},
        {"smpte-division.mid", kMusicSequenceError_UnsupportedFile,
         "SMPTE-based time division is not supported"},
    };
    for (const Case& c : cases) {
        const Bytes bytes = readFixture(c.name);
        ASSERT_FALSE(bytes.empty()) << c.name;
        MusicSequence sequence;
        std::string reason;
        EXPECT_EQ(StandardMIDIFileReader::read(bytes.data(), bytes.size(), sequence, &reason), c.status)
            << c.name;
        EXPECT_EQ(reason, c.reason) << c.name;
    }
}

// One track of a format 0 file at 96 ticks per quarter, with an end of track
// after `body`.
Bytes format0(Bytes body) {
    append(body, {0x00, 0xFF, 0x2F, 0x00});
    return file(0, 96, {body});
}

TEST(StandardMIDIFileReaderMalformed, FailsWithAReasonAndLeavesTheSequenceAlone) {
    struct Case {
        const char* what;
        Bytes bytes;
        int status;
        const char* reason;  // a part of the reason
    };
    Bytes headerOnly = header(1, 1, 96);
    Bytes shortHeader = header(1, 1, 96);
    shortHeader[7] = 4;  // a header of 4 bytes
    Bytes longHeader = chunk("MThd", {0, 1, 0, 1, 0, 96});
    longHeader[7] = 0xFF;  // header length 255 with 6 bytes behind it
    Bytes lyingTrack = file(1, 96, {{0x00, 0xFF, 0x2F, 0x00}});
    lyingTrack[14 + 7] = 0x40;  // track length 64, 4 bytes there
    Bytes hugeTrack = file(1, 96, {{0x00, 0xFF, 0x2F, 0x00}});
    hugeTrack[14 + 4] = 0xFF;  // track length near 4 GB
    const Case cases[] = {
        {"empty", {}, kMusicSequenceError_InvalidFile, "does not begin with \"MThd\""},
        {"other file",
         {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         kMusicSequenceError_InvalidFile,
         "MThd"},
        {"cut header", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, kMusicSequenceError_InvalidFile, "cut short"},
        {"short header", shortHeader, kMusicSequenceError_InvalidFile, "too short"},
        {"header length lies", longHeader, kMusicSequenceError_InvalidFile, "header chunk length runs past"},
        {"format 3", header(3, 1, 96), kMusicSequenceError_UnsupportedFile, "unknown format 3"},
        {"division 0", header(1, 1, 0), kMusicSequenceError_InvalidFile, "0 ticks per quarter"},
        {"no tracks", header(1, 0, 96), kMusicSequenceError_InvalidFile, "no tracks"},
        {"format 0, two tracks", file(0, 96, {{0x00, 0xFF, 0x2F, 0x00}, {0x00, 0xFF, 0x2F, 0x00}}),
         kMusicSequenceError_InvalidFile, "declares 2"},
        {"missing track", headerOnly, kMusicSequenceError_InvalidFile, "ends before track 1 of 1"},
        {"track length lies", lyingTrack, kMusicSequenceError_InvalidFile, "runs past the end of the file"},
        {"absurd track length", hugeTrack, kMusicSequenceError_InvalidFile, "runs past the end of the file"},
        {"five-byte delta", format0({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3C, 0x40}),
         kMusicSequenceError_InvalidFile, "longer than 4 bytes"},
        {"delta cut", file(0, 96, {{0x81}}), kMusicSequenceError_InvalidFile,
         "inside a variable-length number"},
        {"delta at the end", file(0, 96, {{0x00}}), kMusicSequenceError_InvalidFile,
         "ends after a delta time"},
        {"data without status", format0({0x00, 0x3C, 0x40}), kMusicSequenceError_InvalidFile,
         "without a running status"},
        {"channel message cut", file(0, 96, {{0x00, 0x90, 0x3C}}), kMusicSequenceError_InvalidFile,
         "inside a channel message"},
        {"status as data", format0({0x00, 0x90, 0x3C, 0x90}), kMusicSequenceError_InvalidFile,
         "status byte where a data byte"},
        {"meta cut", file(0, 96, {{0x00, 0xFF}}), kMusicSequenceError_InvalidFile, "inside a meta event"},
        {"meta length lies", format0({0x00, 0xFF, 0x01, 0x7F, 'a'}), kMusicSequenceError_InvalidFile,
         "meta event length 127"},
        {"meta length absurd", format0({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}),
         kMusicSequenceError_InvalidFile, "meta event length 268435455"},
        {"sysex length lies", format0({0x00, 0xF0, 0x10, 0x43, 0xF7}), kMusicSequenceError_InvalidFile,
         "system exclusive length 16"},
        {"escape length lies", format0({0x00, 0xF7, 0x10, 0xF8}), kMusicSequenceError_InvalidFile,
         "system exclusive length 16"},
        {"system common status", format0({0x00, 0xF2, 0x00, 0x00}), kMusicSequenceError_InvalidFile,
         "status 0xF2 cannot appear"},
        {"real-time status", format0({0x00, 0xF8}), kMusicSequenceError_InvalidFile,
         "status 0xF8 cannot appear"},
    };
    for (const Case& c : cases) {
        MusicSequence sequence;
        MusicTrack* kept = nullptr;
        ASSERT_EQ(sequence.newTrack(kept), kMusicSequenceNoErr);
        ASSERT_EQ(kept->newMetaEvent(0, 0x03, reinterpret_cast<const uint8_t*>("kept"), 4),
                  kMusicSequenceNoErr);
        std::string reason;
        EXPECT_EQ(StandardMIDIFileReader::read(c.bytes.data(), c.bytes.size(), sequence, &reason), c.status)
            << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_EQ(sequence.trackCount(), 1u) << c.what;
        EXPECT_EQ(kept->eventCount(), 1u) << c.what;
    }
}

TEST(StandardMIDIFileReaderMalformed, ReasonsNameTheTrackAndTheByte) {
    const Bytes bytes = file(1, 96, {{0x00, 0xFF, 0x2F, 0x00}, {0x00, 0x3C}});
    StandardMIDIFileReader::Contents contents;
    std::string reason;
    EXPECT_EQ(StandardMIDIFileReader::parse(bytes.data(), bytes.size(), contents, reason),
              kMusicSequenceError_InvalidFile);
    EXPECT_EQ(reason, "track 2: data byte without a running status at byte 35");
}

// Track bodies: the reader's decisions about what an event becomes.
struct TrackCase {
    const char* what;
    Bytes body;  // without its end of track, which comes 96 ticks (a beat) later
    Lines track;
};

TEST(StandardMIDIFileReaderEvents, NotesAndMessages) {
    const TrackCase cases[] = {
        {"velocity-0 note-on ends the note",
         {0x00, 0x90, 0x3C, 0x40, 0x60, 0x90, 0x3C, 0x00},
         {"6 @0.0000 note ch 0 key 60 vel 64/0 dur 1.0000"}},
        {"note-off carries its release velocity",
         {0x00, 0x95, 0x3C, 0x40, 0x30, 0x85, 0x3C, 0x21},
         {"6 @0.0000 note ch 5 key 60 vel 64/33 dur 0.5000"}},
        {"same key, first in first out",
         {0x00, 0x90, 0x3C, 0x01, 0x30, 0x3C, 0x02, 0x30, 0x3C, 0x00, 0x30, 0x80, 0x3C, 0x00},
         {"6 @0.0000 note ch 0 key 60 vel 1/0 dur 1.0000", "6 @0.5000 note ch 0 key 60 vel 2/0 dur 1.0000"}},
        {"same key on another channel is another note",
         {0x00, 0x90, 0x3C, 0x01, 0x00, 0x91, 0x3C, 0x02, 0x30, 0x81, 0x3C, 0x00, 0x30, 0x80, 0x3C, 0x00},
         {"6 @0.0000 note ch 0 key 60 vel 1/0 dur 1.0000", "6 @0.0000 note ch 1 key 60 vel 2/0 dur 0.5000"}},
        {"a note of no length stays that way",
         {0x00, 0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C, 0x00},
         {"6 @0.0000 note ch 0 key 60 vel 64/0 dur 0.0000"}},
        {"an unmatched note-off is dropped", {0x00, 0x80, 0x3C, 0x00}, {}},
        {"an unmatched note-on ends with the track",
         {0x30, 0x90, 0x3C, 0x40},
         {"6 @0.5000 note ch 0 key 60 vel 64/0 dur 1.0000"}},
        {"running status across channel messages",
         {0x00, 0xB2, 0x07, 0x64, 0x18, 0x0A, 0x40, 0x00, 0xC2, 0x05, 0x00, 0x06},
         {"7 @0.0000 channel b2 07 64", "7 @0.2500 channel b2 0a 40", "7 @0.2500 channel c2 05 00",
          "7 @0.2500 channel c2 06 00"}},
        {"running status carried across a meta event",
         {0x00, 0xB0, 0x07, 0x64, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x0A, 0x40},
         {"7 @0.0000 channel b0 07 64", "5 @0.0000 meta 01 []", "7 @0.0000 channel b0 0a 40"}},
        {"SMPTE offset, key signature and text stay on the track",
         {0x00, 0xFF, 0x54, 0x05, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00,
          0xFF, 0x59, 0x02, 0xFE, 0x00, 0x00, 0xFF, 0x7F, 0x01, 0x42},
         {"5 @0.0000 meta 54 [21 00 00 00 00]", "5 @0.0000 meta 59 [fe 00]", "5 @0.0000 meta 7f [42]"}},
        {"sysex, both forms",
         {0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7, 0x00, 0xF7, 0x01, 0xFA},
         {"8 @0.0000 raw [f0 7d 01 f7]", "8 @0.0000 raw [fa]"}},
    };
    for (const TrackCase& c : cases) {
        Bytes body = c.body;
        append(body, {0x60, 0xFF, 0x2F, 0x00});
        const Bytes bytes = file(0, 96, {body});
        StandardMIDIFileReader::Contents contents;
        std::string reason;
        ASSERT_EQ(StandardMIDIFileReader::parse(bytes.data(), bytes.size(), contents, reason),
                  kMusicSequenceNoErr)
            << c.what << ": " << reason;
        ASSERT_EQ(contents.tracks.size(), 1u) << c.what;
        EXPECT_EQ(show(contents.tracks[0]), c.track) << c.what;
    }
}

TEST(StandardMIDIFileReaderEvents, TempoAndMeterFromAnyTrackJoinTheTempoTrackInTimeOrder) {
    const Bytes bytes =
        file(1, 96,
             {
                 // conductor: 120 bpm at 0, 60 bpm at beat 2
                 {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x81, 0x40, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,
                  0x00, 0xFF, 0x2F, 0x00},
                 // a track with a 6/8 at beat 1, a tempo of 100 at beat 1.5 and a note
                 {0x60, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x24, 0x08, 0x30, 0xFF, 0x51, 0x03, 0x09,
                  0x27, 0xC0, 0x00, 0x90, 0x40, 0x40, 0x30, 0x40, 0x00, 0x00, 0xFF, 0x2F, 0x00},
                 // a tempo of the wrong length and one of 0 microseconds stay meta events
                 {0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00},
             });
    StandardMIDIFileReader::Contents contents;
    std::string reason;
    ASSERT_EQ(StandardMIDIFileReader::parse(bytes.data(), bytes.size(), contents, reason),
              kMusicSequenceNoErr)
        << reason;
    EXPECT_EQ(contents.format, 1);
    EXPECT_EQ(contents.ticksPerQuarter, 96);
    EXPECT_EQ(show(contents.tempoTrack), (Lines{
                                             "3 @0.0000 tempo 120.0000",
                                             "5 @0.0000 meta 51 [07 a1]",
                                             "5 @0.0000 meta 51 [00 00 00]",
                                             "5 @1.0000 meta 58 [06 03 24 08]",
                                             "3 @1.5000 tempo 100.0000",
                                             "3 @2.0000 tempo 60.0000",
                                         }));
    ASSERT_EQ(contents.tracks.size(), 2u);
    EXPECT_EQ(show(contents.tracks[0]), (Lines{"6 @1.5000 note ch 0 key 64 vel 64/0 dur 0.5000"}));
    EXPECT_TRUE(contents.tracks[1].empty());  // no end of track: read up to the chunk's end
}

TEST(StandardMIDIFileReaderEvents, TrackLengthsComeFromTheEndOfTrack) {
    const Bytes bytes =
        file(1, 96,
             {
                 // conductor: a tempo at 0, ending 10 beats later
                 {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x87, 0x40, 0xFF, 0x2F, 0x00},
                 // a note of a beat at beat 1, the track ending at beat 6
                 {0x60, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x83, 0x00, 0xFF, 0x2F, 0x00},
                 // nothing at all, ending at beat 2.5
                 {0x81, 0x70, 0xFF, 0x2F, 0x00},
                 // no end of track: as long as its last event
                 {0x00, 0xC0, 0x01, 0x81, 0x40, 0xC0, 0x02},
                 // a note still sounding at the end of track ends with it
                 {0x00, 0x90, 0x3C, 0x40, 0x30, 0xFF, 0x2F, 0x00},
             });
    StandardMIDIFileReader::Contents contents;
    std::string reason;
    ASSERT_EQ(StandardMIDIFileReader::parse(bytes.data(), bytes.size(), contents, reason),
              kMusicSequenceNoErr)
        << reason;
    EXPECT_DOUBLE_EQ(contents.tempoTrackLength, 10.0);
    EXPECT_EQ(contents.trackLengths, (std::vector<double>{6.0, 2.5, 2.0, 0.5}));

    MusicSequence sequence;
    ASSERT_EQ(StandardMIDIFileReader::load(std::move(contents), sequence), kMusicSequenceNoErr);
    std::vector<double> lengths{sequence.tempoTrack().length()};
    for (uint32_t index = 0; index < sequence.trackCount(); ++index) {
        MusicTrack* track = nullptr;
        ASSERT_EQ(sequence.trackAtIndex(index, track), kMusicSequenceNoErr);
        lengths.push_back(track->length());
    }
    EXPECT_EQ(lengths, (std::vector<double>{10.0, 6.0, 2.5, 2.0, 0.5}));
    EXPECT_DOUBLE_EQ(sequence.lengthInBeats(), 10.0);
}

TEST(StandardMIDIFileReaderEvents, ContentsWithoutLengthsLoadAsLongAsTheirEvents) {
    StandardMIDIFileReader::Contents contents;
    contents.tracks.push_back({note(1.0, 0, 60, 100, 0, 2.0f)});
    MusicSequence sequence;
    ASSERT_EQ(StandardMIDIFileReader::load(std::move(contents), sequence), kMusicSequenceNoErr);
    MusicTrack* track = nullptr;
    ASSERT_EQ(sequence.trackAtIndex(0, track), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(track->length(), 3.0);
}

TEST(StandardMIDIFileReaderEvents, FormatOneWithOnlyAConductorHasNoTracks) {
    const Bytes bytes = file(1, 480, {{0x00, 0xFF, 0x03, 0x01, 'C', 0x00, 0xFF, 0x2F, 0x00, 0x12, 0x34}});
    MusicSequence sequence;
    ASSERT_EQ(StandardMIDIFileReader::read(bytes.data(), bytes.size(), sequence), kMusicSequenceNoErr);
    EXPECT_EQ(sequence.trackCount(), 0u);
    EXPECT_EQ(show(sequence.tempoTrack().events()), (Lines{"5 @0.0000 meta 03 [43]"}));
}

TEST(StandardMIDIFileReaderEvents, ReadingReplacesWhatTheSequenceHeld) {
    MusicSequence sequence;
    load("format0.mid", sequence);
    load("sysex.mid", sequence);
    EXPECT_EQ(sequence.trackCount(), 1u);
    EXPECT_EQ(show(sequence.tempoTrack().events()), (Lines{"3 @0.0000 tempo 120.0000"}));
}

TEST(StandardMIDIFileReaderFiles, ReadFileSaysWhyItCannot) {
    MusicSequence sequence;
    std::string reason;
    EXPECT_EQ(StandardMIDIFileReader::readFile("/nonexistent/dir/x.mid", sequence, &reason),
              kMusicSequenceError_FileIO);
    EXPECT_EQ(reason, text("No such file or directory"));
    EXPECT_EQ(StandardMIDIFileReader::readFile(TOLLVANE_TEST_DATA, sequence, &reason),
              kMusicSequenceError_FileIO);
    EXPECT_EQ(reason, text("Is a directory"));

    // Refused by its size before a byte is read (the file is sparse).
    std::string huge = ::testing::TempDir() + "smfhugeXXXXXX";
    const int fd = ::mkstemp(huge.data());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(StandardMIDIFileReader::kMaxFileSize + 1)), 0);
    ::close(fd);
    EXPECT_EQ(StandardMIDIFileReader::readFile(huge, sequence, &reason), kMusicSequenceError_FileTooLarge);
    EXPECT_EQ(reason, text("the file is larger than 32 MB"));
    ::unlink(huge.c_str());

    EXPECT_EQ(StandardMIDIFileReader::readFile(std::string(TOLLVANE_TEST_DATA) + "/smf/format1.mid", sequence,
                                               &reason),
              kMusicSequenceNoErr);
    EXPECT_EQ(sequence.trackCount(), 2u);
}

}  // namespace
}  // namespace tollvane
