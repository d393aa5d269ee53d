#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicPlayer.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> userBlock(uint8_t tag) {
    std::vector<uint8_t> out(8, tag);
    const uint32_t length = 4;
    std::memcpy(out.data(), &length, 4);
    return out;
}

void addMeter(FFMusicSequence& sequence, double beat, uint8_t numerator, uint8_t exponent) {
    const uint8_t data[4] = {numerator, exponent, 24, 8};
    ASSERT_EQ(sequence.musicSequence()->tempoTrack().newMetaEvent(beat, 0x58, data, 4), kMusicSequenceNoErr);
}

struct RecordingDestination : FFMusicUserEventDestination {
    struct Call {
        std::vector<uint8_t> data;
        MusicSequence* sequence;
        MusicTrack* track;
        double time, start, end;
    };
    void takeUserEvent(std::span<const uint8_t> userEvent, MusicSequence* fromSequence, MusicTrack* track,
                       double atTime, double startSliceBeat, double endSliceBeat) override {
        calls.push_back({{userEvent.begin(), userEvent.end()},
                         fromSequence,
                         track,
                         atTime,
                         startSliceBeat,
                         endSliceBeat});
    }
    std::vector<Call> calls;
};

class FFMusicSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        std::string pattern = (fs::temp_directory_path() / "ffmusicsequence-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        FFMusicSequence::registerArchiveClass();
    }
    void TearDown() override {
        Log::setSink(std::move(previousSink));
        fs::remove_all(folder);
    }

    std::shared_ptr<FFMusicSequence> fresh() {
        auto sequence = FFMusicSequence::sequenceWithMusicSequence(std::make_shared<MusicSequence>());
        sequence->addTempoChange(120, 0);
        return sequence;
    }

    // A sequence with a named note track, a tempo change, a text event and user events.
    std::shared_ptr<FFMusicSequence> composed() {
        auto sequence = fresh();
        sequence->addTempoChange(96, 4);  // whole microseconds per quarter: exact in a file
        addMeter(*sequence, 4, 3, 2);
        auto notes = FFMusicTrack::newTrackInSequence(sequence->musicSequence().get(), "Streamers");
        notes->addEvent(FFMusicEvent::eventWithMIDINote(60, 0, 100, 0, 1.0f, 2.0));
        notes->addEvent(FFMusicEvent::eventWithMIDINote(72, 1, 90, 0, 0.5f, 5.5));
        const std::vector<uint8_t> text = {1, 0, 0, 0, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
        notes->addEvent(
            FFMusicEvent::eventWithMetaEvent(text.data(), static_cast<uint32_t>(text.size()), 1.0));
        notes->addUserEvent(userBlock(1), 3.0);
        auto visual = FFMusicTrack::newTrackInSequence(sequence->musicSequence().get(), "_visual");
        visual->addUserEvent(userBlock(2), 1.0);
        visual->addUserEvent(userBlock(3), 6.0);
        return sequence;
    }

    static std::vector<std::string> summary(FFMusicSequence& sequence) {
        std::vector<std::string> lines;
        for (const auto& track : sequence.allTracksIncludingTempoTrack()) {
            for (const auto& event : track->events()) {
                if (event.type() == kMusicEventType_User) continue;
                lines.push_back(track->trackName() + " " + event.description());
            }
        }
        return lines;
    }

    fs::path folder;
    std::vector<std::string> logged;
    Log::Sink previousSink;
};

TEST_F(FFMusicSequenceTest, NegativeTimesAnswerZeroWithoutAMessage) {
    auto sequence = fresh();
    EXPECT_DOUBLE_EQ(sequence->secondsForBeats(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(sequence->beatsForSeconds(-0.001), 0.0);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicSequenceTest, PlaybackRateScalesEveryConversion) {
    auto sequence = fresh();
    struct Case {
        double rate, beats, seconds;
    } cases[] = {{1.0, 4.0, 2.0}, {0.5, 4.0, 4.0}, {2.0, 4.0, 1.0}, {1.001, 1001.0, 500.0}};
    for (const Case& c : cases) {
        sequence->setPlaybackRate(c.rate);
        EXPECT_DOUBLE_EQ(sequence->secondsForBeats(c.beats), c.seconds) << c.rate;
        EXPECT_DOUBLE_EQ(sequence->beatsForSeconds(c.seconds), c.beats) << c.rate;
        EXPECT_DOUBLE_EQ(sequence->musicSequence()->playbackRate(), c.rate);
    }
    sequence->setPlaybackRate(0.5);
    sequence->addTempoChange(60, 2);
    EXPECT_DOUBLE_EQ(sequence->lengthInBeats(), 2.0);
    EXPECT_DOUBLE_EQ(sequence->lengthInSeconds(), 2.0);

    sequence->setPlaybackRate(0.0);
    sequence->setPlaybackRate(-1.0);
    EXPECT_DOUBLE_EQ(sequence->playbackRate(), 0.5);
    EXPECT_EQ(logged,
              (std::vector<std::string>{"Ignoring playback rate 0.000000: it must be a positive number.",
                                        "Ignoring playback rate -1.000000: it must be a positive number."}));
}

TEST_F(FFMusicSequenceTest, TimeSignatureOfBar) {
    auto sequence = fresh();
    EXPECT_EQ(sequence->timeSignatureOfBar(0), (TimeSignature{0, 4}));
    EXPECT_EQ(sequence->timeSignatureOfBar(-2), (TimeSignature{0, 4}));
    EXPECT_EQ(sequence->timeSignatureOfBar(1), (TimeSignature{4, 4}));

    addMeter(*sequence, 0, 3, 2);
    for (int bar : {1, 2, 7, 500}) EXPECT_EQ(sequence->timeSignatureOfBar(bar), (TimeSignature{3, 4})) << bar;

    // 6/8 exactly at the start of bar 5 (beat 12 in 3/4).
    ASSERT_DOUBLE_EQ(sequence->beatsForBarNumber(5, 1), 12.0);
    addMeter(*sequence, 12, 6, 3);
    EXPECT_EQ(sequence->timeSignatureOfBar(4), (TimeSignature{3, 4}));
    EXPECT_EQ(sequence->timeSignatureOfBar(5), (TimeSignature{6, 8}));
    EXPECT_EQ(sequence->timeSignatureOfBar(9), (TimeSignature{6, 8}));
    EXPECT_DOUBLE_EQ(sequence->beatsForBarNumber(6, 1), 15.0);
    EXPECT_DOUBLE_EQ(sequence->beatsForBarNumber(6, 4), 16.5);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicSequenceTest, BarBeatConversionsAt480Subbeats) {
    auto sequence = fresh();
    addMeter(*sequence, 0, 4, 2);
    addMeter(*sequence, 8, 7, 3);
    addMeter(*sequence, 15, 6, 3);
    EXPECT_EQ(sequence->barBeatTimeForBeats(15.25), (BarBeatTime{5, 1, 240, 480, 0}));
    EXPECT_EQ(sequence->barBeatTimeForBeats(11.75), (BarBeatTime{4, 1, 240, 480, 0}));
    EXPECT_DOUBLE_EQ(sequence->beatsForBarBeatTime(BarBeatTime{4, 3, 0, 480, 0}), 12.5);
    EXPECT_DOUBLE_EQ(sequence->beatsForBarNumber(33, 1), 15.0 + 28 * 3.0);

    EXPECT_EQ(sequence->barBeatTimeForBeats(std::nan("")), BarBeatTime{});
    EXPECT_DOUBLE_EQ(sequence->beatsForBarBeatTime(BarBeatTime{1, 1, 0, 0, 0}), 0.0);
    EXPECT_EQ(logged,
              (std::vector<std::string>{"Unable to convert beats (nan) into bar-beat time (Error -1).",
                                        "Unable to convert bar-beat time into beats (Error -1)."}));
}

TEST_F(FFMusicSequenceTest, WithoutAStoreSequenceOperationsLogAndAnswerNeutrally) {
    auto sequence = FFMusicSequence::sequenceWithMusicSequence(nullptr);
    EXPECT_DOUBLE_EQ(sequence->secondsForBeats(1.0), 0.0);
    EXPECT_DOUBLE_EQ(sequence->beatsForSeconds(1.0), 0.0);
    EXPECT_DOUBLE_EQ(sequence->lengthInBeats(), 0.0);
    EXPECT_FALSE(sequence->addTempoChange(100, 0));
    EXPECT_TRUE(sequence->allTracks().empty());
    EXPECT_FALSE(sequence->tempoTrack());
    EXPECT_FALSE(sequence->trackAtIndex(0));
    EXPECT_FALSE(sequence->newPlayer());
    EXPECT_TRUE(sequence->smfData().empty());
    sequence->setMidiDestination(7);
    EXPECT_EQ(sequence->midiDestination(), 7u);
    EXPECT_EQ(sequence->AUGraph(), nullptr);
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "FFMusicSequence tried to get seconds for beats with no sequence in place.",
                          "Unable to get beats for seconds (Error -1, seconds = 1.000000).",
                          "FFMusicSequence tried to get length with no tempo track in place.",
                          "Couldn't get tempo track to add tempo change (error: -1)",
                          "Unable to get track count from sequence (Error -1).",
                          "Unable to get tempo track from sequence (Error -1).",
                          "Unable to get track from sequence (Error -1).",
                          "Tried to create music player with no sequence in place.",
                          "Error: FFMusicSequence couldn't save MIDI data (error -1).",
                      }));
}

TEST_F(FFMusicSequenceTest, EmptySequenceHasOneTrackAndATempoOf120) {
    auto sequence = FFMusicSequence::sequenceWithEmptySequence();
    ASSERT_TRUE(sequence);
    EXPECT_EQ(logged, (std::vector<std::string>{"creating empty sequence...", "done"}));
    EXPECT_EQ(sequence->allTracks().size(), 1u);
    EXPECT_TRUE(sequence->allTracks()[0]->events().empty());
    const auto tempo = sequence->tempoTrack()->events();
    ASSERT_EQ(tempo.size(), 1u);
    EXPECT_DOUBLE_EQ(tempo[0].extendedTempoEvent(), 120.0);
    EXPECT_FALSE(sequence->addTempoChange(-5, 1));
    EXPECT_EQ(logged.back(), "Couldn't add tempo change to sequence (error: -1)");
    EXPECT_TRUE(sequence->insertPrerollBars(4));
    EXPECT_TRUE(sequence->newPlayer());
}

TEST_F(FFMusicSequenceTest, TracksAreCachedAndFollowTheStore) {
    auto sequence = composed();
    auto tracks = sequence->allTracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(sequence->allTracks()[0], tracks[0]) << "the same wrappers while nothing changed";
    EXPECT_EQ(tracks[1]->trackName(), "_visual");
    EXPECT_EQ(sequence->allTracksExceptTempoTrack().size(), 2u);
    auto all = sequence->allTracksIncludingTempoTrack();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(sequence->checkIfTempoTrack(*all[2]));
    EXPECT_FALSE(sequence->checkIfTempoTrack(*all[0]));
    EXPECT_EQ(sequence->tempoTrack(), all[2]);

    FFMusicTrack::newTrackInSequence(sequence->musicSequence().get(), "late");
    ASSERT_EQ(sequence->allTracks().size(), 3u);
    EXPECT_EQ(sequence->allTracks()[2]->trackName(), "late");
    EXPECT_EQ(sequence->trackAtIndex(1)->musicTrack(), tracks[1]->musicTrack());
    EXPECT_FALSE(sequence->trackAtIndex(3));
    EXPECT_EQ(logged, (std::vector<std::string>{"Unable to get track from sequence (Error -2)."}));
}

TEST_F(FFMusicSequenceTest, Description) {
    auto sequence = fresh();
    FFMusicTrack::newTrackInSequence(sequence->musicSequence().get(), "a");
    EXPECT_EQ(
        sequence->description(),
        "FFMusicSequence - tracks: (\n    Track 'a': (\n    FFMusicEvent at 0.000000 (meta, data = 'a')\n),\n"
        "    Track '': (\n    FFMusicEvent at 0.000000 (type = 3, data = 00 00 00 00 00 00 5e 40)\n)\n)");
}

TEST_F(FFMusicSequenceTest, FilesLoadAndOnlyMIDIFilesAreRecognised) {
    auto original = composed();
    const Data bytes = original->smfData();
    ASSERT_GT(bytes.size(), 14u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "MThd");
    EXPECT_EQ(bytes[12], 480 >> 8);
    EXPECT_EQ(bytes[13], 480 & 0xff);

    const fs::path midi = folder / "cue.mid";
    std::ofstream(midi, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const fs::path text = folder / "notes.txt";
    std::ofstream(text) << "MTh";

    EXPECT_TRUE(FFMusicSequence::isPathForMIDIFile(midi.string()));
    EXPECT_FALSE(FFMusicSequence::isPathForMIDIFile(text.string()));
    EXPECT_FALSE(FFMusicSequence::isPathForMIDIFile((folder / "missing.mid").string()));

    auto loaded = FFMusicSequence::sequenceWithContentsOfFile(midi.string());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(summary(*loaded), summary(*original));
    EXPECT_TRUE(FFMusicSequence::sequenceWithContentsAtAlias(midi.string()));
    EXPECT_TRUE(logged.empty());

    EXPECT_FALSE(FFMusicSequence::sequenceWithContentsOfFile(""));
    EXPECT_TRUE(logged.empty());
    EXPECT_FALSE(FFMusicSequence::sequenceWithContentsOfFile(text.string()));
    EXPECT_FALSE(FFMusicSequence::sequenceWithContentsOfFile((folder / "missing.mid").string()));
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "Error: FFMusicSequence couldn't load MIDI data (error -10).");
    EXPECT_EQ(logged[1], "Error: FFMusicSequence couldn't load MIDI data (error -12).");
}

TEST_F(FFMusicSequenceTest, ArchiveKeepsNotesTempoAndMetaButNoUserEvents) {
    auto original = composed();
    const Data archive =
        KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<Archivable>(original)));
    auto restored = KeyedUnarchiver::unarchivedObjectWithData(archive).object<FFMusicSequence>();
    ASSERT_TRUE(restored);
    EXPECT_EQ(summary(*restored), summary(*original));
    EXPECT_FALSE(summary(*restored).empty());
    for (const auto& track : restored->allTracksIncludingTempoTrack()) {
        for (const auto& event : track->events()) EXPECT_NE(event.type(), kMusicEventType_User);
    }
    EXPECT_DOUBLE_EQ(restored->secondsForBeats(6.0), original->secondsForBeats(6.0));
    EXPECT_EQ(restored->timeSignatureOfBar(3), (TimeSignature{3, 4}));
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicSequenceTest, ArchiveAndCopyKeepEveryTracksLength) {
    auto original = composed();  // "_visual" ends with a user event at 6, which a file does not carry
    original->musicSequence()->tempoTrack().setLength(12.0);
    const Data archive =
        KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<Archivable>(original)));
    auto restored = KeyedUnarchiver::unarchivedObjectWithData(archive).object<FFMusicSequence>();
    ASSERT_TRUE(restored);
    auto copy = original->copy();
    ASSERT_TRUE(copy);
    auto lengths = [](FFMusicSequence& sequence) {
        std::vector<double> out;
        for (const auto& track : sequence.allTracksIncludingTempoTrack()) out.push_back(track->length());
        return out;
    };
    EXPECT_EQ(lengths(*original), (std::vector<double>{6.0, 6.0, 12.0}));
    EXPECT_EQ(lengths(*restored), lengths(*original));
    EXPECT_EQ(lengths(*copy), lengths(*original));
    EXPECT_DOUBLE_EQ(restored->lengthInBeats(), 12.0);
}

struct GarbageSequence : Archivable {
    Data bytes;
    std::string archiveClassName() const override { return "FFMusicSequence"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeBytes(bytes, "FFMusicSequenceSMFData");
    }
};

TEST_F(FFMusicSequenceTest, ArchivedBytesThatDoNotLoadDecodeAsNothing) {
    auto garbage = std::make_shared<GarbageSequence>();
    garbage->bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    const Data archive =
        KeyedArchiver::archivedDataWithRootObject(Value(std::shared_ptr<Archivable>(garbage)));
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectWithData(archive).object<FFMusicSequence>());
    EXPECT_EQ(logged,
              (std::vector<std::string>{"Error: FFMusicSequence couldn't load MIDI data (error -10)."}));
}

TEST_F(FFMusicSequenceTest, CopyCarriesUserEventsToItsLastTrack) {
    auto original = composed();
    original->setPlaybackRate(1.001);
    auto copy = original->copy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(logged,
              (std::vector<std::string>{"WARNING: calling -[FFMusicSequence copyWithZone:]. This will result "
                                        "in an unplayable sequence."}));
    EXPECT_NE(copy->musicSequence(), original->musicSequence());
    EXPECT_EQ(summary(*copy), summary(*original));
    EXPECT_DOUBLE_EQ(copy->playbackRate(), 1.001);

    auto tracks = copy->allTracks();
    ASSERT_EQ(tracks.size(), 2u);
    std::vector<std::pair<double, uint8_t>> users;
    for (const auto& event : tracks[1]->events()) {
        if (event.type() == kMusicEventType_User) users.emplace_back(event.timeStamp(), event.data().back());
    }
    EXPECT_EQ(users, (std::vector<std::pair<double, uint8_t>>{{1.0, 2}, {3.0, 1}, {6.0, 3}}));
    for (const auto& event : tracks[0]->events()) EXPECT_NE(event.type(), kMusicEventType_User);

    // Changing the copy leaves the original alone.
    tracks[1]->addUserEvent(userBlock(9), 0.5);
    EXPECT_EQ(original->allTracks()[1]->events().size(), 3u);
}

TEST_F(FFMusicSequenceTest, CopyOfASequenceWithoutTracksMakesATrackForItsUserEvents) {
    auto original = fresh();
    original->tempoTrack()->addUserEvent(userBlock(4), 2.0);
    auto copy = original->copy();
    ASSERT_EQ(copy->allTracks().size(), 1u);
    const auto events = copy->allTracks()[0]->events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type(), kMusicEventType_User);
    EXPECT_DOUBLE_EQ(events[0].timeStamp(), 2.0);
}

TEST_F(FFMusicSequenceTest, UserEventDestinationFollowsTheStoreSequence) {
    auto sequence = composed();
    RecordingDestination destination;
    sequence->setUserEventDestination(&destination);
    EXPECT_EQ(sequence->userEventDestination(), &destination);
    EXPECT_EQ(sequence->callbackUserInfo().at("target"), &destination);

    auto store = sequence->musicSequence();
    MusicTrack* visual = nullptr;
    store->trackAtIndex(1, visual);
    const std::vector<uint8_t> block = userBlock(5);
    (*store->userCallback())(*store, *visual, 6.0, block, 5.5, 6.5);
    ASSERT_EQ(destination.calls.size(), 1u);
    EXPECT_EQ(destination.calls[0].data, block);
    EXPECT_EQ(destination.calls[0].sequence, store.get());
    EXPECT_EQ(destination.calls[0].track, visual);
    EXPECT_DOUBLE_EQ(destination.calls[0].time, 6.0);
    EXPECT_DOUBLE_EQ(destination.calls[0].start, 5.5);
    EXPECT_DOUBLE_EQ(destination.calls[0].end, 6.5);

    sequence->setPlaybackRate(0.5);
    auto replacement = std::make_shared<MusicSequence>();
    sequence->setMusicSequence(replacement);
    EXPECT_FALSE(store->userCallback()) << "the replaced sequence no longer calls out";
    ASSERT_TRUE(replacement->userCallback());
    EXPECT_DOUBLE_EQ(replacement->playbackRate(), 0.5);
    EXPECT_TRUE(sequence->allTracks().empty());

    sequence->setUserEventDestination(nullptr);
    EXPECT_FALSE(replacement->userCallback());
    EXPECT_TRUE(sequence->callbackUserInfo().empty());
}

}  // namespace
}  // namespace tollvane
