#include "document/Sequencer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "document/ProcessingLog.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicTrack.h"

namespace tollvane {
namespace {

using Kind = ProcessingLog::Kind;
using Entry = ProcessingLog::Entry;

Entry entry(Kind kind, const std::string& text) {
    return {kind, text, 0, {}};
}

const char* const kWarning =
    "A MIDI event would be shifted before the start of the MIDI file. This event has not been shifted.";

std::string fixture(const std::string& name) {
    return std::string(TOLLVANE_TEST_DATA) + "/streamers/" + name;
}

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// shifts.mid's tempo map: 120 bpm up to beat 8 (4 s), 60 bpm after.
double secondsInShifts(double beats) {
    return beats <= 8.0 ? beats / 2.0 : 4.0 + (beats - 8.0);
}
double beatsInShifts(double seconds) {
    return seconds <= 4.0 ? seconds * 2.0 : 8.0 + (seconds - 4.0);
}

// Start beats of each note number on a track.
std::map<int, std::vector<double>> noteStarts(const FFMusicTrack& track) {
    std::map<int, std::vector<double>> starts;
    for (const FFMusicEvent& event : track.events()) {
        if (event.type() == kMusicEventType_MIDINoteMessage)
            starts[event.midiNoteEvent().note].push_back(event.timeStamp());
    }
    return starts;
}

std::shared_ptr<FFMusicTrack> trackOf(FFMusicSequence& sequence, size_t index) {
    const auto tracks = sequence.allTracksExceptTempoTrack();
    return index < tracks.size() ? tracks[index] : nullptr;
}

// Each note of shifts.mid's "Streamers" track: where it starts in the file
// and how many seconds earlier it must move.
struct ShiftCase {
    int note;
    double beats;
    double shift;
};
const ShiftCase kShiftCases[] = {
    {48, 10.0, 0.0},       {50, 11.0, -0.0666667}, {52, 8.1, -0.1333333}, {53, 13.0, -0.2},
    {49, 14.0, 0.0},       {51, 15.0, 0.0},        {54, 16.0, 0.0},       {59, 17.0, 0.0},
    {47, 18.0, 0.0},       {96, 19.0, 0.0},        {60, 20.0, -2.0},      {71, 21.0, -2.0},
    {72, 22.0, -2.666667}, {83, 23.0, -2.666667},  {84, 24.0, -3.333333}, {95, 25.0, -3.333333},
};

void expectShifted(const FFMusicTrack& track, double tolerance) {
    const auto starts = noteStarts(track);
    for (const ShiftCase& row : kShiftCases) {
        SCOPED_TRACE("note " + std::to_string(row.note));
        ASSERT_EQ(starts.count(row.note), 1u);
        ASSERT_EQ(starts.at(row.note).size(), 1u);
        EXPECT_NEAR(starts.at(row.note)[0], beatsInShifts(secondsInShifts(row.beats) + row.shift), tolerance);
    }
}

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("tollvane-sequencer-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string output(const std::string& name) const { return (folder / name).string(); }

    std::filesystem::path folder;
    Sequencer sequencer;
};

TEST_F(SequencerTest, MovesEachNoteOfTheStreamersTrackByItsRow) {
    ASSERT_TRUE(sequencer.processMIDIFile(fixture("shifts.mid")));
    const auto sequence = sequencer.sequence();
    ASSERT_TRUE(sequence);
    expectShifted(*trackOf(*sequence, 1), 1e-6);

    // Other tracks, the second "Streamers" track included, and the track's
    // other events stay.
    EXPECT_EQ(noteStarts(*trackOf(*sequence, 0)), (std::map<int, std::vector<double>>{{72, {12.0}}}));
    EXPECT_EQ(noteStarts(*trackOf(*sequence, 2)), (std::map<int, std::vector<double>>{{60, {20.0}}}));
    bool textAt9 = false;
    for (const FFMusicEvent& event : trackOf(*sequence, 1)->events())
        textAt9 |=
            event.type() == kMusicEventType_Meta && event.metaEventType() == 1 && event.timeStamp() == 9.0;
    EXPECT_TRUE(textAt9);

    EXPECT_EQ(sequencer.log().entries(),
              (std::vector<Entry>{
                  entry(Kind::Heading, "shifts.mid"), entry(Kind::Message, "Streamers track found."),
                  entry(Kind::Message, "6 streamers and 4 punches found, out of 16 notes.")}));
}

TEST_F(SequencerTest, NoteThatWouldGoBeforeTheStartStaysWithAWarning) {
    ASSERT_TRUE(sequencer.processMIDIFile(fixture("early.mid")));
    // 72 at 1 s and 53 at 0.1 s stay; 60 at 2 s lands on 0 exactly.
    EXPECT_EQ(noteStarts(*trackOf(*sequencer.sequence(), 0)),
              (std::map<int, std::vector<double>>{{48, {0.0}}, {53, {0.2}}, {60, {0.0}}, {72, {2.0}}}));
    EXPECT_EQ(
        sequencer.log().entries(),
        (std::vector<Entry>{entry(Kind::Heading, "early.mid"), entry(Kind::Message, "Streamers track found."),
                            entry(Kind::Warning, kWarning), entry(Kind::Warning, kWarning),
                            entry(Kind::Message, "2 streamers and 2 punches found, out of 4 notes.")}));
}

TEST_F(SequencerTest, FindsTheTrackByItsWholeTrimmedNameInAnyCase) {
    struct Case {
        const char* file;
        size_t track;
        const char* name;
        const char* counts;
    };
    const Case cases[] = {
        {"split-name.mid", 1, "STREAMers", "0 streamers and 1 punch found, out of 1 note."},
        {"one-streamer.mid", 0, "sTrEaMeRs", "1 streamer and 0 punches found, out of 1 note."},
        {"early.mid", 0, "streamers", "2 streamers and 2 punches found, out of 4 notes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto sequence = FFMusicSequence::sequenceWithContentsOfFile(fixture(c.file));
        ASSERT_TRUE(sequence);
        const auto found = Sequencer::firstTrackNamed(*sequence, "Streamers");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->musicTrack(), trackOf(*sequence, c.track)->musicTrack());
        EXPECT_EQ(Sequencer::nameOfTrack(*found), c.name);

        ASSERT_TRUE(sequencer.processMIDIFile(fixture(c.file)));
        EXPECT_EQ(sequencer.log().entries().back(), entry(Kind::Message, c.counts));
    }
    // "Streamers Old" is not the track, and its note stays.
    EXPECT_TRUE(sequencer.processMIDIFile(fixture("split-name.mid")));
    EXPECT_EQ(noteStarts(*trackOf(*sequencer.sequence(), 0)),
              (std::map<int, std::vector<double>>{{60, {8.0}}}));
}

TEST_F(SequencerTest, FileWithoutTheTrackOrUnreadableIsRefusedAndNothingIsSaved) {
    struct Case {
        const char* file;
        std::vector<Entry> log;
    };
    const Case cases[] = {
        {"no-streamers.mid",
         {entry(Kind::Heading, "no-streamers.mid"),
          entry(Kind::Error, "The selected MIDI file does not contain a track named \"Streamers\".")}},
        {"not-midi.mid", {entry(Kind::Heading, "not-midi.mid")}},
        {"missing.mid", {entry(Kind::Heading, "missing.mid")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_FALSE(sequencer.processMIDIFile(fixture(c.file)));
        EXPECT_FALSE(sequencer.sequence());
        const auto& entries = sequencer.log().entries();
        ASSERT_GE(entries.size(), c.log.size());
        EXPECT_EQ(std::vector<Entry>(entries.begin(), entries.begin() + c.log.size()), c.log);
        if (c.log.size() == 1) {
            // The load failure with its number, then the summary.
            ASSERT_EQ(entries.size(), 3u);
            EXPECT_EQ(entries[1].text, "Could not load MIDI file into sequence.");
            EXPECT_NE(entries[1].errorNumber, 0);
            EXPECT_FALSE(entries[1].detail.empty());
            EXPECT_EQ(entries[2], entry(Kind::Error, "Unable to load MIDI file."));
        }

        EXPECT_FALSE(sequencer.saveMIDIFile(output("out.mid")));
        EXPECT_FALSE(std::filesystem::exists(output("out.mid")));
        ASSERT_GE(sequencer.log().entries().size(), 2u);
        EXPECT_EQ(sequencer.log().entries().rbegin()[1].text, "Unable to generate MIDI file.");
        EXPECT_EQ(sequencer.log().entries().back(), entry(Kind::Error, "Unable to save MIDI file."));
    }
}

TEST_F(SequencerTest, SavedCopyReplacesAnExistingFileAndReadsBackShifted) {
    const std::vector<uint8_t> original = bytesOf(fixture("shifts.mid"));
    const std::string out = output("processed.mid");
    std::ofstream(out) << "an older file";

    ASSERT_TRUE(sequencer.processMIDIFile(fixture("shifts.mid")));
    ASSERT_TRUE(sequencer.saveMIDIFile(out));
    EXPECT_EQ(bytesOf(fixture("shifts.mid")), original);

    const auto saved = FFMusicSequence::sequenceWithContentsOfFile(out);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->allTracksExceptTempoTrack().size(), 3u);
    EXPECT_EQ(Sequencer::nameOfTrack(*trackOf(*saved, 1)), "Streamers");
    // The file keeps times to the tick (1/480 beat), and the tempo map.
    expectShifted(*trackOf(*saved, 1), 0.5 / 480 + 1e-6);
    EXPECT_DOUBLE_EQ(saved->secondsForBeats(20.0), 16.0);
}

TEST_F(SequencerTest, SaveFailureIsLoggedWithItsNumber) {
    std::ofstream(output("plain-file")) << "not a folder";
    ASSERT_TRUE(sequencer.processMIDIFile(fixture("one-streamer.mid")));
    EXPECT_FALSE(sequencer.saveMIDIFile(output("plain-file") + "/out.mid"));
    const Entry& last = sequencer.log().entries().back();
    EXPECT_EQ(last.kind, Kind::Error);
    EXPECT_EQ(last.text, "Unable to save MIDI file.");
    EXPECT_NE(last.errorNumber, 0);
}

TEST_F(SequencerTest, OpenAsksWhereToSaveOnlyForProcessedFiles) {
    std::vector<std::pair<std::string, std::string>> asked;
    sequencer.open({fixture("no-streamers.mid"), fixture("one-streamer.mid"), fixture("early.mid")},
                   [&](const std::string& message, const std::string& type) -> std::optional<std::string> {
                       asked.emplace_back(message, type);
                       if (asked.size() == 2) return std::nullopt;  // cancelled
                       return output("copy.mid");
                   });
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{
                         {"Save processed copy of one-streamer.mid", "mid"},
                         {"Save processed copy of early.mid", "mid"}}));
    const auto copy = FFMusicSequence::sequenceWithContentsOfFile(output("copy.mid"));
    ASSERT_TRUE(copy);
    // 84 at 8 s moved 3 1/3 s earlier.
    EXPECT_NEAR(noteStarts(*trackOf(*copy, 0))[84].at(0), 2.0 * (8.0 - 10.0 / 3.0), 0.5 / 480);
    EXPECT_FALSE(sequencer.sequence());
}

TEST(ProcessingLogTest, RendersEntriesUnderTheirHeading) {
    ProcessingLog log;
    log.addMessage("before");
    log.addHeading("file.mid");
    log.addMessage("plain");
    log.addWarning("careful");
    log.addError("failed", 0);
    log.addError("failed", -12, "No such file");
    log.addError("failed", 0, "why");
    EXPECT_EQ(log.text(),
              "before\nfile.mid\n  plain\n  Warning: careful\n  Error: failed\n"
              "  Error: failed (Error -12: No such file)\n  Error: failed: why\n");
    EXPECT_TRUE(log.hasErrors());
    log.clear();
    EXPECT_FALSE(log.hasErrors());
    EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace tollvane
