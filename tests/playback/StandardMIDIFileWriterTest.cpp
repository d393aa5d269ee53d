#include "playback/sequence/StandardMIDIFileWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "StandardMIDIFileTestSupport.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileReader.h"

namespace tollvane {
namespace {

using namespace smftest;
using Lines = std::vector<std::string>;

MusicTrack& newTrack(MusicSequence& sequence) {
    MusicTrack* track = nullptr;
    EXPECT_EQ(sequence.newTrack(track), kMusicSequenceNoErr);
    return *track;
}

void add(MusicTrack& track, std::vector<MusicEventData> events) {
    for (MusicEventData& event : events) ASSERT_EQ(track.addEvent(std::move(event)), kMusicSequenceNoErr);
}

Bytes write(const MusicSequence& sequence) {
    Bytes bytes;
    std::string reason;
    EXPECT_EQ(StandardMIDIFileWriter::write(sequence, bytes, &reason), kMusicSequenceNoErr) << reason;
    return bytes;
}

void readBack(const Bytes& bytes, MusicSequence& into) {
    std::string reason;
    ASSERT_EQ(StandardMIDIFileReader::read(bytes.data(), bytes.size(), into, &reason), kMusicSequenceNoErr)
        << reason;
}

void expectSameEvents(const MusicSequence& a, const MusicSequence& b) {
    EXPECT_EQ(show(a.tempoTrack().events()), show(b.tempoTrack().events()));
    ASSERT_EQ(a.trackCount(), b.trackCount());
    for (uint32_t i = 0; i < a.trackCount(); ++i)
        EXPECT_EQ(showTrack(a, i), showTrack(b, i)) << "track " << i;
}

TEST(StandardMIDIFileWriter, WritesTheBytesOfFormatOneAt480TicksPerQuarter) {
    MusicSequence sequence;
    ASSERT_EQ(sequence.tempoTrack().newExtendedTempoEvent(0, 120), kMusicSequenceNoErr);
    add(sequence.tempoTrack(), {meta(0, 0x58, {4, 2, 24, 8})});
    MusicTrack& track = newTrack(sequence);
    const uint8_t user[] = {0x55};
    add(track, {
                   MusicEventData::meta(0, 0x03, "T"),
                   note(0, 0, 60, 100, 0, 1.0f),
                   note(1, 0, 60, 90, 64, 0.5f),
                   channelMessage(1, 0xB0, 7, 100),
                   channelMessage(1, 0xB0, 10, 64),
                   raw(2, {0xF0, 0x7E, 0x7F, 0xF7}),
                   raw(2, {0xF8}),
                   MusicEventData::user(2, user, 1),
               });
    const Bytes expected = {
        'M',  'T',  'h',  'd',  0,    0,    0,    6,    0x00, 0x01, 0x00, 0x02, 0x01, 0xE0,  //
        'M',  'T',  'r',  'k',  0,    0,    0,    19,                                        //
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,                                            // 500000 us
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,                                      //
        0x00, 0xFF, 0x2F, 0x00,                                                              //
        'M',  'T',  'r',  'k',  0,    0,    0,    45,                                        //
        0x00, 0xFF, 0x03, 0x01, 'T',                                                         //
        0x00, 0x90, 0x3C, 0x64,                                                              //
        0x83, 0x60, 0x80, 0x3C, 0x00,              // tick 480: the first note ends before the second begins
        0x00, 0x90, 0x3C, 0x5A,                    //
        0x00, 0xB0, 0x07, 0x64,                    //
        0x00, 0x0A, 0x40,                          // running status
        0x81, 0x70, 0x80, 0x3C, 0x40,              // release velocity 64
        0x81, 0x70, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,  //
        0x00, 0xF7, 0x01, 0xF8,                    // no F0 in front: the escape form
        0x00, 0xFF, 0x2F, 0x00,                    // the user event is not written
    };
    const Bytes written = write(sequence);
    EXPECT_EQ(hexBytes(written.data(), written.size()), hexBytes(expected.data(), expected.size()));
}

TEST(StandardMIDIFileWriter, EndsEachTrackAtItsLength) {
    MusicSequence sequence;
    ASSERT_EQ(sequence.tempoTrack().setLength(3.0), kMusicSequenceNoErr);
    MusicTrack& track = newTrack(sequence);
    add(track, {note(0, 0, 60, 100, 0, 1.0f)});
    ASSERT_EQ(track.setLength(2.5), kMusicSequenceNoErr);
    MusicTrack& shorter = newTrack(sequence);  // its note outlasts the length set
    add(shorter, {note(0, 0, 60, 100, 0, 1.0f)});
    ASSERT_EQ(shorter.setLength(0.5), kMusicSequenceNoErr);
    const Bytes expected = {
        'M',  'T',  'h',  'd',  0,    0, 0, 6,  0x00, 0x01, 0x00, 0x03, 0x01, 0xE0,  //
        'M',  'T',  'r',  'k',  0,    0, 0, 5,                                       //
        0x8B, 0x20, 0xFF, 0x2F, 0x00,                                                // tick 1440
        'M',  'T',  'r',  'k',  0,    0, 0, 14,                                      //
        0x00, 0x90, 0x3C, 0x64,                                                      //
        0x83, 0x60, 0x80, 0x3C, 0x00,                                                // tick 480
        0x85, 0x50, 0xFF, 0x2F, 0x00,                                                // tick 1200
        'M',  'T',  'r',  'k',  0,    0, 0, 13,                                      //
        0x00, 0x90, 0x3C, 0x64,                                                      //
        0x83, 0x60, 0x80, 0x3C, 0x00,                                                //
        0x00, 0xFF, 0x2F, 0x00,                                                      // with the note
    };
    const Bytes written = write(sequence);
    EXPECT_EQ(hexBytes(written.data(), written.size()), hexBytes(expected.data(), expected.size()));
}

TEST(StandardMIDIFileWriter, AnEndOfTrackPastTheLastEventSurvivesReadingAndWriting) {
    // The conductor ends at beat 25.5, six beats after its last event; the
    // streamers' track at 7, a beat after its last note ends.
    MusicSequence sequence;
    readBack(readFixture("format1.mid"), sequence);
    MusicTrack* streamers = nullptr;
    ASSERT_EQ(sequence.trackAtIndex(0, streamers), kMusicSequenceNoErr);
    ASSERT_DOUBLE_EQ(sequence.tempoTrack().length(), 25.5);
    ASSERT_DOUBLE_EQ(streamers->length(), 7.0);

    MusicSequence copy;
    readBack(write(sequence), copy);
    MusicTrack* copied = nullptr;
    ASSERT_EQ(copy.trackAtIndex(0, copied), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(copy.tempoTrack().length(), 25.5);
    EXPECT_DOUBLE_EQ(copied->length(), 7.0);
    EXPECT_DOUBLE_EQ(copy.lengthInBeats(), 25.5);

    // An event added past the end lengthens the track, and the file with it.
    add(*copied, {channelMessage(9.5, 0xC0, 3)});
    EXPECT_DOUBLE_EQ(copied->length(), 9.5);
    MusicSequence again;
    readBack(write(copy), again);
    MusicTrack* last = nullptr;
    ASSERT_EQ(again.trackAtIndex(0, last), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(last->length(), 9.5);
    EXPECT_DOUBLE_EQ(again.tempoTrack().length(), 25.5);
}

TEST(StandardMIDIFileWriter, OrdersNoteEndsSoThatTheyPairBackTheSame) {
    struct Case {
        const char* what;
        std::vector<MusicEventData> events;
    };
    const Case cases[] = {
        {"repeated key",
         {note(0, 0, 60, 1, 0, 1.0f), note(1, 0, 60, 2, 0, 1.0f), note(2, 0, 60, 3, 0, 1.0f)}},
        {"notes of no length",
         {note(0, 0, 60, 1, 0, 0.0f), note(0, 0, 60, 2, 0, 0.0f), note(0, 0, 60, 3, 0, 2.0f)}},
        {"no length at the end of another", {note(0, 0, 60, 1, 0, 1.0f), note(1, 0, 60, 2, 0, 0.0f)}},
        {"ending together", {note(0, 0, 60, 1, 0, 2.0f), note(1, 0, 60, 2, 0, 1.0f)}},
        {"chord", {note(0, 3, 60, 1, 7, 1.0f), note(0, 3, 64, 2, 8, 1.0f), note(0, 3, 67, 3, 9, 0.5f)}},
    };
    for (const Case& c : cases) {
        MusicSequence sequence;
        add(newTrack(sequence), c.events);
        MusicSequence copy;
        readBack(write(sequence), copy);
        EXPECT_EQ(showTrack(copy, 0), show(c.events)) << c.what;
    }
}

TEST(StandardMIDIFileWriter, RoundsANotesEndNotItsDuration) {
    // Both notes span 0.5 to 1.0 tick: rounded, both start and end at tick 1.
    // Rounding the durations instead would end the first at tick 2 and the
    // second at tick 1, and reading would hand the first end to the first note.
    MusicSequence sequence;
    add(newTrack(sequence),
        {note(0.5 / 480, 0, 60, 1, 0, 0.5f / 480), note(0.6 / 480, 0, 60, 2, 0, 0.4f / 480)});
    MusicSequence copy;
    readBack(write(sequence), copy);
    EXPECT_EQ(showTrack(copy, 0), show({note(1.0 / 480, 0, 60, 1, 0, 0), note(1.0 / 480, 0, 60, 2, 0, 0)}));
}

TEST(StandardMIDIFileWriter, RoundTripKeepsEveryEventTheFileCanHold) {
    MusicSequence sequence;
    MusicTrack& tempo = sequence.tempoTrack();
    add(tempo,
        {MusicEventData::tempo(0, 120), meta(0, 0x58, {4, 2, 24, 8}), MusicEventData::tempo(7.5, 75),
         meta(16, 0x58, {7, 3, 12, 8}), meta(19.5, 0x58, {6, 3, 36, 8}), MusicEventData::tempo(20, 80)});
    MusicTrack& one = newTrack(sequence);
    add(one, {MusicEventData::meta(0, 0x03, "Streamers"), MusicEventData::meta(0, 0x01, "a text"),
              meta(0, 0x54, {0x61, 0x02, 0x03, 0x04, 0x05}), note(0.25, 15, 127, 127, 127, 3.5f),
              channelMessage(1.0 / 480, 0xE5, 0x7F, 0x7F), channelMessage(2, 0xC1, 9),
              raw(3, {0xF0, 0x00, 0x20, 0x33, 0x01, 0xF7}), raw(3, {0xF3, 0x01}), meta(4, 0x06, {}),
              meta(100, 0x7F, {0x00, 0x00, 0x41})});
    MusicTrack& two = newTrack(sequence);
    add(two, {note(1, 0, 0, 1, 0, 1.0f / 480), channelMessage(1, 0xA0, 0, 0), note(1, 0, 0, 1, 0, 0.25f)});
    newTrack(sequence);  // an empty track stays a track

    MusicSequence copy;
    readBack(write(sequence), copy);
    EXPECT_EQ(show(copy.tempoTrack().events()), show(tempo.events()));
    ASSERT_EQ(copy.trackCount(), 3u);
    EXPECT_EQ(showTrack(copy, 0), show(one.events()));
    EXPECT_EQ(showTrack(copy, 1), show(two.events()));
    EXPECT_EQ(showTrack(copy, 2), Lines{});

    // Written once more, the copy gives the very same bytes.
    EXPECT_EQ(write(copy), write(sequence));
}

TEST(StandardMIDIFileWriter, FixturesSurviveWritingAndReading) {
    for (const char* name : {"format0.mid", "format1.mid", "sysex.mid"}) {
        const Bytes bytes = readFixture(name);
        MusicSequence original;
        readBack(bytes, original);
        MusicSequence copy;
        readBack(write(original), copy);
        SCOPED_TRACE(name);
        expectSameEvents(original, copy);
        EXPECT_DOUBLE_EQ(copy.tempoTrack().length(), original.tempoTrack().length());
        for (uint32_t index = 0; index < original.trackCount(); ++index) {
            MusicTrack* a = nullptr;
            MusicTrack* b = nullptr;
            ASSERT_EQ(original.trackAtIndex(index, a), kMusicSequenceNoErr);
            ASSERT_EQ(copy.trackAtIndex(index, b), kMusicSequenceNoErr);
            EXPECT_DOUBLE_EQ(b->length(), a->length()) << "track " << index;
        }
    }
}

TEST(StandardMIDIFileWriter, RoundsTimesToTheTickAndTempoToTheMicrosecond) {
    MusicSequence sequence;
    add(sequence.tempoTrack(), {MusicEventData::tempo(0, 90), MusicEventData::tempo(1.0009, 333.0)});
    add(newTrack(sequence), {note(-2, 0, 60, 1, 0, 3.0f), note(0.3337, 0, 62, 1, 0, 0.3337f)});
    MusicSequence copy;
    readBack(write(sequence), copy);
    const auto tempo = copy.tempoTrack().events();
    ASSERT_EQ(tempo.size(), 2u);
    double bpm = 0;
    ASSERT_TRUE(tempo[0].readTempo(bpm));
    EXPECT_DOUBLE_EQ(bpm, 60000000.0 / 666667);
    ASSERT_TRUE(tempo[1].readTempo(bpm));
    EXPECT_DOUBLE_EQ(bpm, 60000000.0 / 180180);
    EXPECT_DOUBLE_EQ(tempo[1].timeStamp, 480.0 / 480);
    EXPECT_EQ(showTrack(copy, 0), (Lines{
                                      // Before 0 there is no time in a file.
                                      "6 @0.0000 note ch 0 key 60 vel 1/0 dur 1.0000",
                                      // Start and end rounded to the tick: 160 to 320.
                                      show(note(160.0 / 480, 0, 62, 1, 0, 160.0f / 480)),
                                  }));
}

TEST(StandardMIDIFileWriter, LeavesOutWhatTheFileCannotCarry) {
    MusicSequence sequence;
    const uint8_t bytes[] = {0xAB};
    ExtendedNoteOnEvent extended;
    add(newTrack(sequence),
        {
            MusicEventData::user(0, bytes, 1),
            MusicEventData::fixed(0, kMusicEventType_ExtendedNote, extended),
            MusicEventData::fixed(0, kMusicEventType_ExtendedControl, ExtendedControlEvent{}),
            MusicEventData::fixed(0, kMusicEventType_Parameter, ParameterEvent{}),
            MusicEventData::fixed(0, kMusicEventType_AUPreset, AUPresetEvent{}),
            note(0, 0, 60, 0, 0, 1.0f),  // velocity 0 would read as a note-off
            meta(0, 0x2F, {}),           // each track gets its own end
            channelMessage(0, 0x3C, 1, 2),
            channelMessage(0, 0xF8, 0, 0),
        });
    MusicSequence copy;
    readBack(write(sequence), copy);
    ASSERT_EQ(copy.trackCount(), 1u);
    EXPECT_EQ(showTrack(copy, 0), Lines{});
}

TEST(StandardMIDIFileWriter, RefusesGapsBeyondTheLongestDeltaTime) {
    MusicSequence sequence;
    add(newTrack(sequence), {channelMessage(0, 0xC0, 1), channelMessage(600000, 0xC0, 2)});
    Bytes bytes;
    std::string reason;
    EXPECT_EQ(StandardMIDIFileWriter::write(sequence, bytes, &reason), kMusicSequenceError_OutOfRange);
    EXPECT_NE(reason.find("ticks apart"), std::string::npos) << reason;

    // The same distance in steps is fine.
    MusicSequence steps;
    add(newTrack(steps),
        {channelMessage(0, 0xC0, 1), channelMessage(500000, 0xC0, 2), channelMessage(1000000, 0xC0, 3)});
    MusicSequence copy;
    readBack(write(steps), copy);
    EXPECT_EQ(showTrack(copy, 0), showTrack(steps, 0));
}

class StandardMIDIFileWriterFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "smfwriterXXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + directory_ + "'").c_str()); }
    std::string directory_;
};

TEST_F(StandardMIDIFileWriterFiles, WritesReplacesAndSaysWhyItCannot) {
    MusicSequence first;
    add(newTrack(first), {MusicEventData::meta(0, 0x03, "first")});
    MusicSequence second;
    add(newTrack(second), {MusicEventData::meta(0, 0x03, "second")});
    const std::string path = directory_ + "/out.mid";
    ASSERT_EQ(StandardMIDIFileWriter::writeFile(first, path), kMusicSequenceNoErr);
    ASSERT_EQ(StandardMIDIFileWriter::writeFile(second, path), kMusicSequenceNoErr);
    MusicSequence read;
    ASSERT_EQ(StandardMIDIFileReader::readFile(path, read), kMusicSequenceNoErr);
    EXPECT_EQ(showTrack(read, 0), showTrack(second, 0));

    std::string reason;
    EXPECT_EQ(StandardMIDIFileWriter::writeFile(first, directory_ + "/missing/out.mid", &reason),
              kMusicSequenceError_FileIO);
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_EQ(std::system(("test $(ls -A '" + directory_ + "' | wc -l) -eq 1").c_str()), 0)
        << "no temporary file is left behind";
}

}  // namespace
}  // namespace tollvane
