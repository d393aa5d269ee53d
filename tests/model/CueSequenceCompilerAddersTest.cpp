// The adders of the "_visual" track and the settings a compilation reads,
// on a bare sequence (120 bpm, so one second is two beats).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/Cue.h"
#include "model/CueSequenceCompiler.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"

namespace tollvane {
namespace {

class CueSequenceCompilerAddersTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        ASSERT_EQ(sequence.newTrack(track), kMusicSequenceNoErr);
    }
    void TearDown() override { Log::setSink(previousSink_); }

    std::vector<MusicEventData> userEvents() const {
        std::vector<MusicEventData> events;
        for (MusicEventData& event : track->events()) {
            if (event.type == kMusicEventType_User) events.push_back(std::move(event));
        }
        return events;
    }

    MusicSequence sequence;
    MusicTrack* track = nullptr;
    std::vector<std::string> logged;

private:
    Log::Sink previousSink_;
};

TEST_F(CueSequenceCompilerAddersTest, StreamerAtAnUnconvertiblePositionIsSkipped) {
    const double start = CueSequenceCompiler::addStreamerToTrack(*track, sequence, INFINITY, 1, 1, 1, 2.0f);

    EXPECT_TRUE(std::isinf(start));
    EXPECT_TRUE(userEvents().empty());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0],
              "Couldn't get time in seconds for streamer calculation (error -1/0xffffffff). Skipping.");
}

TEST_F(CueSequenceCompilerAddersTest, PunchThatWouldStartBeforeTheSequenceIsSkipped) {
    // 2/30 s before 0.1 beat (0.05 s) is before the sequence starts; one
    // hole is not moved.
    CueSequenceCompiler::addPunchToTrack(*track, sequence, 0.1, 3, 1.0f, 1.0f, 1.0f);
    CueSequenceCompiler::addPunchToTrack(*track, sequence, 0.1, 1, 1.0f, 1.0f, 1.0f);

    const auto events = userEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_DOUBLE_EQ(events[0].timeStamp, 0.1);
    EXPECT_EQ(UserEventRecord::readPunch(events[0].payload)->holes, 1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(
        logged[0],
        "Warning: Couldn't shift punch because it would end up before beginning of sequence. Skipping.");
}

TEST_F(CueSequenceCompilerAddersTest, BeepsStartTheirDurationAndLatencyEarly) {
    struct Case {
        const char* name;
        int32_t count;
        bool final;
        double audioLatency, videoLatency;
        double start;
        uint32_t payloadCount;
        float payloadSeconds;
    };
    const Case cases[] = {
        {"no beep on the cue point", 3, false, 0.0, 0.0, 200.0 - 4.0, 3, 2.0f},
        // Video compensated 0.1 s more than audio: the beeps start 0.1 s later.
        {"latency", 3, false, 0.0, 0.1, 200.0 - 4.0 + 0.2, 3, 2.0f},
        {"only the beep on the cue point", 0, true, 0.0, 0.0, 200.0 - 4.0, 1, 2.0f},
    };
    auto cue = Cue::create();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MusicSequence beepSequence;
        MusicTrack* beepTrack = nullptr;
        ASSERT_EQ(beepSequence.newTrack(beepTrack), kMusicSequenceNoErr);
        CueSequenceCompiler::Settings settings;
        settings.latencyCompensationAudio = c.audioLatency;
        settings.latencyCompensation = c.videoLatency;
        const CueSequenceCompiler compiler(*cue, settings);

        const double start =
            compiler.addBeepsToTrack(*beepTrack, beepSequence, 200.0, c.count, 2.0f, true, c.final);

        EXPECT_NEAR(start, c.start, 1e-9);
        const auto events = beepTrack->events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].timeStamp, start);
        const auto beeps = UserEventRecord::readBeeps(events[0].payload);
        ASSERT_TRUE(beeps);
        EXPECT_EQ(beeps->count, c.payloadCount);
        EXPECT_FLOAT_EQ(beeps->seconds, c.payloadSeconds);
        EXPECT_TRUE(beeps->punches);
    }
}

TEST_F(CueSequenceCompilerAddersTest, NoTextNoBlockAndCueChangesLoggedWhenAsked) {
    CueSequenceCompiler::addTextChangeToTrack(*track, sequence, 150.0, "");
    CueSequenceCompiler::Settings settings;
    settings.debugAutoFollow = true;
    auto cue = Cue::create();
    CueSequenceCompiler(*cue, settings).addCueChangeToTrack(*track, sequence, 152.0, "12");

    const auto events = userEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(UserEventRecord::readCueChange(events[0].payload)->documentHandle, 0u)
        << "a cue without a document";
    EXPECT_EQ(logged, std::vector<std::string>{"Add cue change 12"});
}

TEST(CueSequenceCompilerSettingsTest, ReadsTheDefaultsAndTurnsColourDataIntoCalibratedRGB) {
    UserDefaults defaults("");
    ValueDictionary registered;
    registered.set("countoffDownbeatStreamerEnabled", Value(true));
    registered.set("countoffDownbeatStreamerColor", Value(Color::deviceWhite(0.5)->archivedData()));
    registered.set("countoffWarningStreamerLength", Value(4.5));
    registered.set("latencyCompensation", Value(0.1));
    registered.set("debugAutoFollow", Value(true));
    defaults.registerDefaults(registered);
    defaults.setObject("countoffWarningStreamerColor", Value(Data{1, 2, 3}));

    const auto settings = CueSequenceCompiler::Settings::fromUserDefaults(defaults, 140.0);

    EXPECT_TRUE(settings.countoffDownbeatStreamerEnabled);
    ASSERT_TRUE(settings.countoffDownbeatStreamerColor);
    EXPECT_EQ(settings.countoffDownbeatStreamerColor->colorSpace(), Color::CalibratedRGB);
    EXPECT_DOUBLE_EQ(settings.countoffDownbeatStreamerColor->greenComponent(), 0.5);
    EXPECT_FALSE(settings.countoffWarningStreamerColor) << "data that is no colour";
    EXPECT_EQ(settings.countoffWarningStreamerLength, 4.5);
    EXPECT_EQ(settings.countoffDownbeatStreamerLength, 3.0) << "an unset length keeps its default";
    EXPECT_FALSE(settings.cueEndStreamerEnabled);
    EXPECT_EQ(settings.latencyCompensation, 0.1);
    EXPECT_TRUE(settings.debugAutoFollow);
    EXPECT_EQ(settings.playbackStartPrerollShiftedBeats, 140.0);
}

}  // namespace
}  // namespace tollvane
