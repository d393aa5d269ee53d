// Compiling cues: the tempo track and the "_visual" track read back event by
// event. The pre-roll is 120 bpm, so until a tempo change one second is two
// beats; the new cue's sync point is 01:00:00:00 at beat 128.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/CueSequenceCompiler.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/FFMusicSequence.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

constexpr uint8_t kTimeSignature = 0x58;

class PlaybackStartEnvironment : public CueEnvironment {
public:
    explicit PlaybackStartEnvironment(double beats) : beats_(beats) {}
    double playbackStartPrerollShiftedBeats() const override { return beats_; }

private:
    double beats_;
};

struct Block {
    double time = 0.0;
    std::vector<uint8_t> bytes;
};

struct Compiled {
    std::shared_ptr<FFMusicSequence> sequence;
    std::vector<MusicEventData> tempo;
    std::vector<MusicEventData> visual;

    std::vector<Block> blocks(uint32_t type) const {
        std::vector<Block> found;
        for (const MusicEventData& event : visual) {
            if (event.type == kMusicEventType_User && UserEventRecord::typeOf(event.payload) == type) {
                found.push_back({event.timeStamp, event.payload});
            }
        }
        return found;
    }
    std::vector<double> tempoTimes() const {
        std::vector<double> times;
        for (const MusicEventData& event : tempo) {
            if (event.type == kMusicEventType_ExtendedTempo) times.push_back(event.timeStamp);
        }
        return times;
    }
    // Time signatures as (time, data bytes).
    std::vector<std::pair<double, std::vector<uint8_t>>> meters() const {
        std::vector<std::pair<double, std::vector<uint8_t>>> found;
        for (const MusicEventData& event : tempo) {
            uint8_t type = 0;
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            if (event.readMeta(type, data, length) && type == kTimeSignature) {
                found.emplace_back(event.timeStamp, std::vector<uint8_t>(data, data + length));
            }
        }
        return found;
    }
};

std::shared_ptr<EMTimecode> timecode(int hh, int mm, int ss, int ff) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(4), hh, mm, ss, ff);
}

class CueSequenceCompilerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop_);
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        // Beeps exactly where they sound; the streamer defaults each test wants.
        setDefault("latencyCompensation", Value(0.0));
        setDefault("latencyCompensationAudio", Value(0.0));
        cue = Cue::create();
        // The cue's own rebuilds would compile behind the tests' backs.
        cue->setUpdatesSuspended(true);
    }

    void TearDown() override {
        for (const std::string& key : overridden_) UserDefaults::standardUserDefaults().removeObject(key);
        if (environmentInstalled_) CueEnvironment::install(nullptr);
        cue.reset();
        Log::setSink(previousSink_);
        RunLoop::setMain(previousLoop_);
    }

    void setDefault(const std::string& key, const Value& value) {
        UserDefaults::standardUserDefaults().setObject(key, value);
        overridden_.push_back(key);
    }
    void setCountoffStreamers(bool downbeat, bool warning) {
        setDefault("countoffDownbeatStreamerEnabled", Value(downbeat));
        setDefault("countoffWarningStreamerEnabled", Value(warning));
    }
    void setPlaybackStart(double beats) {
        CueEnvironment::install(std::make_shared<PlaybackStartEnvironment>(beats));
        environmentInstalled_ = true;
    }

    Compiled compile() {
        Compiled compiled;
        compiled.sequence =
            CueSequenceCompiler(*cue, CueSequenceCompiler::Settings::current()).calculatedSequence();
        if (!compiled.sequence) return compiled;
        const auto store = compiled.sequence->musicSequence();
        compiled.tempo = store->tempoTrack().events();
        MusicTrack* visual = nullptr;
        if (store->trackCount() == 1 && store->trackAtIndex(0, visual) == kMusicSequenceNoErr) {
            compiled.visual = visual->events();
        }
        return compiled;
    }

    bool loggedLine(const std::string& line) const {
        return std::find(logged.begin(), logged.end(), line) != logged.end();
    }

    std::shared_ptr<Cue> cue;
    std::vector<std::string> logged;

private:
    ManualRunLoop loop_;
    RunLoop* previousLoop_ = nullptr;
    Log::Sink previousSink_;
    std::vector<std::string> overridden_;
    bool environmentInstalled_ = false;
};

TEST_F(CueSequenceCompilerTest, NewCueHasThePrerollCueStartAndCountoffStreamers) {
    setCountoffStreamers(true, true);
    const Compiled compiled = compile();
    ASSERT_TRUE(compiled.sequence);

    ASSERT_EQ(compiled.tempo.size(), 2u);
    double bpm = 0.0;
    EXPECT_TRUE(compiled.tempo[0].readTempo(bpm));
    EXPECT_EQ(bpm, 120.0);
    EXPECT_EQ(compiled.tempo[0].timeStamp, 0.0);
    ASSERT_EQ(compiled.meters().size(), 1u);
    EXPECT_EQ(compiled.meters()[0].first, 0.0);
    EXPECT_EQ(compiled.meters()[0].second, (std::vector<uint8_t>{4, 2, 24, 8}));

    ASSERT_FALSE(compiled.visual.empty());
    uint8_t type = 0;
    const uint8_t* name = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(compiled.visual[0].readMeta(type, name, length));
    EXPECT_EQ(type, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), length), "_visual");
    EXPECT_EQ(compiled.visual[0].timeStamp, 0.0);

    const auto starts = compiled.blocks(UserEventRecord::kCueStart);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].time, 128.0);

    // The warning streamer runs into the first warning beat (124), the
    // downbeat streamer into the playback start (128); each 3 feet, 2 s.
    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 2u);
    const auto warning = UserEventRecord::readStreamer(streamers[0].bytes);
    const auto downbeat = UserEventRecord::readStreamer(streamers[1].bytes);
    EXPECT_DOUBLE_EQ(streamers[0].time, 120.0);
    EXPECT_DOUBLE_EQ(streamers[1].time, 124.0);
    EXPECT_EQ(warning->seconds, 2.0);
    EXPECT_EQ(downbeat->seconds, 2.0);
    EXPECT_EQ(warning->red, 1.0f) << "yellow";
    EXPECT_EQ(warning->blue, 0.0f);
    EXPECT_EQ(downbeat->red, 0.0f) << "green";
    EXPECT_EQ(downbeat->green, 1.0f);
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 120.0);
    EXPECT_EQ(compiled.visual.size(), 4u);
    EXPECT_TRUE(logged.empty());

    setCountoffStreamers(false, false);
    const Compiled plain = compile();
    EXPECT_TRUE(plain.blocks(UserEventRecord::kStreamer).empty());
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 124.0);
}

TEST_F(CueSequenceCompilerTest, StreamersAndPunchesAtOrAfterThePlaybackStart) {
    setCountoffStreamers(false, false);
    cue->trackEvents().push_back(
        CueEventStreamer::streamerEventWithCue(cue, Color::calibrated(0, 0, 1), 2.0f, 1.0f, 72.0));
    cue->trackEvents().push_back(
        CueEventPunch::punchEventWithCue(cue, Color::calibrated(1, 0, 0), 3, 1.0f, 72.0));
    cue->trackEvents().push_back(CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 12.0));

    const Compiled compiled = compile();

    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 2u);
    EXPECT_NEAR(streamers[0].time, 140.0 - 4.0, 1e-9);
    EXPECT_NEAR(streamers[1].time, 197.333, 1e-3);
    const auto twoFeet = UserEventRecord::readStreamer(streamers[1].bytes);
    EXPECT_NEAR(twoFeet->seconds, 1.333, 1e-3);
    EXPECT_EQ(twoFeet->blue, 1.0f);
    EXPECT_EQ(twoFeet->red, 0.0f);

    const auto punches = compiled.blocks(UserEventRecord::kPunch);
    ASSERT_EQ(punches.size(), 1u);
    EXPECT_NEAR(punches[0].time, 200.0 - 2.0 * 2.0 / 30.0, 1e-9);
    EXPECT_EQ(UserEventRecord::readPunch(punches[0].bytes)->holes, 3);
}

TEST_F(CueSequenceCompilerTest, TrackEventsBeforeThePlaybackStartComeInWhenItMovesEarlier) {
    setCountoffStreamers(false, false);
    cue->trackEvents().push_back(CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 12.0));
    cue->trackEvents().push_back(CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 72.0));

    setPlaybackStart(160.0);
    Compiled compiled = compile();
    ASSERT_EQ(compiled.blocks(UserEventRecord::kStreamer).size(), 1u);
    EXPECT_DOUBLE_EQ(compiled.blocks(UserEventRecord::kStreamer)[0].time, 196.0);
    EXPECT_TRUE(compiled.blocks(UserEventRecord::kCueStart).empty()) << "playback starts inside the cue";

    setPlaybackStart(140.0);
    compiled = compile();
    ASSERT_EQ(compiled.blocks(UserEventRecord::kStreamer).size(), 2u) << "an event at the start is in";
    EXPECT_DOUBLE_EQ(compiled.blocks(UserEventRecord::kStreamer)[0].time, 136.0);
}

TEST_F(CueSequenceCompilerTest, SoundCueMutesTheReelAndShowsItsTextWithTheEarlierWarning) {
    setCountoffStreamers(false, false);
    auto soundCue = CueEventSoundCue::soundCueEventWithCue(cue, "Door slam");
    soundCue->setLockTimecode(timecode(1, 0, 5, 0));  // 5.005 s after the sync point
    soundCue->setStreamerEnabled(true);
    soundCue->setStreamerFeet(1.5);  // 1 s
    soundCue->setBeepsEnabled(true);
    soundCue->setBeepsCount(3);
    soundCue->setBeepsSeconds(2.0);
    soundCue->setBeepOnCuePoint(true);
    soundCue->setPunchOnEachBeep(false);
    cue->trackEvents().push_back(soundCue);

    const Compiled compiled = compile();

    const double position = 128.0 + 2.0 * 5.005;
    EXPECT_NEAR(soundCue->lockPrerollShiftedBeats(), position, 1e-9);
    const auto mutes = compiled.blocks(UserEventRecord::kReelMute);
    ASSERT_EQ(mutes.size(), 1u);
    EXPECT_NEAR(mutes[0].time, position, 1e-9);
    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 1u);
    EXPECT_NEAR(streamers[0].time, position - 2.0, 1e-9);
    const auto beeps = compiled.blocks(UserEventRecord::kBeeps);
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_NEAR(beeps[0].time, position - 4.0, 1e-9) << "2.0 s before the cue point";
    const auto beepRecord = UserEventRecord::readBeeps(beeps[0].bytes);
    EXPECT_EQ(beepRecord->count, 4u);
    EXPECT_NEAR(beepRecord->seconds, 2.667, 1e-3);
    EXPECT_FALSE(beepRecord->punches);
    const auto texts = compiled.blocks(UserEventRecord::kTextChange);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NEAR(texts[0].time, position - 4.0, 1e-9);
    EXPECT_EQ(UserEventRecord::readTextChange(texts[0].bytes), "Door slam");

    soundCue->setEnabled(false);
    const Compiled disabled = compile();
    EXPECT_TRUE(disabled.blocks(UserEventRecord::kReelMute).empty());
    EXPECT_EQ(disabled.visual.size(), 2u) << "the track name and the cue start are left";
}

TEST_F(CueSequenceCompilerTest, ADRFoleyCueCountsTimecodesFromTheSyncTimecodeAlone) {
    setCountoffStreamers(false, false);
    cue->setTitle(Cue::kADRFoleyCueTitle);
    auto soundCue = CueEventSoundCue::soundCueEventWithCue(cue, "Line 1");
    soundCue->setLockTimecode(timecode(1, 2, 0, 0));
    cue->trackEvents().push_back(soundCue);

    compile();

    EXPECT_NEAR(soundCue->lockPrerollShiftedBeats(), 2.0 * 120.12, 1e-9);
}

TEST_F(CueSequenceCompilerTest, MeterChangesArePlacedByBarAndBarLockedPositionsWrittenBack) {
    setCountoffStreamers(false, false);
    auto threeFour = CueEventMeterChange::meterChangeWithCue(cue, {3, 4}, 6, 0);
    auto fiveEight = CueEventMeterChange::meterChangeWithCue(cue, {5, 8}, 8, 3);
    auto beyond =
        CueEventMeterChange::meterChangeWithCue(cue, {2, 4}, 6, std::numeric_limits<int32_t>::max());
    cue->meterEvents().push_back(threeFour);
    cue->meterEvents().push_back(fiveEight);
    cue->meterEvents().push_back(beyond);
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 0.0);
    streamer->setLockType(CueEvent::kLockTypeBar);
    streamer->setLockBar(4);
    cue->trackEvents().push_back(streamer);

    const Compiled compiled = compile();

    // 3/4 from the cue's bar 1 (sequence bar 33, beat 128); the cue's bar 3
    // starts two 3/4 bars later, at 134; its bar 4 one 5/8 bar after that.
    const auto meters = compiled.meters();
    ASSERT_EQ(meters.size(), 3u);
    EXPECT_EQ(meters[1].first, 128.0);
    EXPECT_EQ(meters[1].second, (std::vector<uint8_t>{3, 2, 24, 8}));
    EXPECT_EQ(meters[2].first, 134.0);
    EXPECT_EQ(meters[2].second, (std::vector<uint8_t>{5, 3, 12, 8}));
    EXPECT_DOUBLE_EQ(threeFour->lockPrerollShiftedBeats(), 128.0)
        << "where its meter is, not in the pre-roll";
    EXPECT_DOUBLE_EQ(fiveEight->lockPrerollShiftedBeats(), 134.0);
    EXPECT_DOUBLE_EQ(streamer->lockPrerollShiftedBeats(), 136.5);
    EXPECT_FALSE(streamer->lockTimesAreUpdatingAutomatically());
    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 1u);
    EXPECT_DOUBLE_EQ(streamers[0].time, 136.5 - 4.0);
    // A bar past every sequence bar is skipped, in both steps.
    EXPECT_EQ(logged, std::vector<std::string>(
                          2, "Warning: Unable to get beat number for 2147483647|1|000 (error -4)."));
}

TEST_F(CueSequenceCompilerTest, TempoChangesShapeEveryLaterConversion) {
    setCountoffStreamers(false, false);
    cue->tempoEvents().push_back(CueEventTempoChange::tempoChangeEventWithCue(cue, 60.0, 6, 32.0));
    auto barLocked = CueEventTempoChange::tempoChangeEventWithCue(cue, 45.0, 4, 0.0);  // half notes: 90
    barLocked->setLockType(CueEvent::kLockTypeBar);
    barLocked->setLockBar(19);  // sequence bar 51, beat 200
    cue->tempoEvents().push_back(barLocked);
    cue->trackEvents().push_back(CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 52.0));

    const Compiled compiled = compile();

    EXPECT_EQ(compiled.tempoTimes(), (std::vector<double>{0.0, 160.0, 200.0}));
    double bpm = 0.0;
    compiled.tempo.back().readTempo(bpm);
    EXPECT_EQ(bpm, 90.0);
    EXPECT_DOUBLE_EQ(barLocked->lockPrerollShiftedBeats(), 200.0);
    // 2 s before 180 at 60 bpm.
    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 1u);
    EXPECT_DOUBLE_EQ(streamers[0].time, 178.0);
}

TEST_F(CueSequenceCompilerTest, TimecodeLockedTempoChangeBeforeTheCueStartIsSkippedButRepositioned) {
    setCountoffStreamers(false, false);
    auto early = CueEventTempoChange::tempoChangeEventWithCue(cue, 90.0, 6, 0.0);
    early->setLockType(CueEvent::kLockTypeTimecode);
    early->setLockTimecode(timecode(0, 58, 0, 0));  // 120.12 s before the sync point
    auto late = CueEventTempoChange::tempoChangeEventWithCue(cue, 60.0, 6, 0.0);
    late->setLockType(CueEvent::kLockTypeTimecode);
    late->setLockTimecode(timecode(1, 0, 10, 0));
    auto later = CueEventTempoChange::tempoChangeEventWithCue(cue, 120.0, 6, 0.0);
    later->setLockType(CueEvent::kLockTypeTimecode);
    later->setLockTimecode(timecode(1, 0, 20, 0));
    // Listed out of time order: they are taken by timecode.
    cue->tempoEvents() = {later, early, late};

    const Compiled compiled = compile();

    const double lateBeats = 128.0 + 2.0 * 10.01;
    EXPECT_NEAR(early->lockPrerollShiftedBeats(), 128.0 - 2.0 * 120.12, 1e-6);
    EXPECT_NEAR(late->lockPrerollShiftedBeats(), lateBeats, 1e-6);
    // Ten seconds of 60 bpm after the second one.
    EXPECT_NEAR(later->lockPrerollShiftedBeats(), lateBeats + 10.01, 1e-6);
    const auto times = compiled.tempoTimes();
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[1], lateBeats, 1e-6);
    EXPECT_TRUE(loggedLine("Warning: Event at " + early->lockTimecode()->description() +
                           " is before cue start. Skipping."))
        << (logged.empty() ? "" : logged[0]);
    EXPECT_EQ(logged.size(), 1u);
}

TEST_F(CueSequenceCompilerTest, CountoffStreamersRunIntoItsFirstClickAndItsPosition) {
    setCountoffStreamers(false, false);
    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 32.0);  // 4 quarter notes into 160
    cue->countoffEvents().push_back(countoff);
    auto eighths = CueEventCountoff::countoffEventWithCue(cue, 72.0, 2, 8, true, false, true, false);
    eighths->setStreamerColorIntoFirstBeat(Color::calibrated(0, 0, 1));
    cue->countoffEvents().push_back(eighths);

    const Compiled compiled = compile();

    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 3u);
    EXPECT_DOUBLE_EQ(streamers[0].time, 152.0) << "into the first click, 156";
    EXPECT_DOUBLE_EQ(streamers[1].time, 156.0) << "into the count-off's position";
    EXPECT_DOUBLE_EQ(streamers[2].time, 199.0 - 4.0) << "two eighths before 200";
    EXPECT_EQ(UserEventRecord::readStreamer(streamers[1].bytes)->green, 1.0f);
    EXPECT_EQ(UserEventRecord::readStreamer(streamers[2].bytes)->blue, 1.0f);
}

TEST_F(CueSequenceCompilerTest, WarningBeatsFollowTheClickOrTheirOwnNote) {
    setCountoffStreamers(false, false);
    auto eighthClick = CueEventClickChange::clickChangeWithCue(cue, 8, 0.0);
    cue->meterEvents().push_back(eighthClick);

    compile();
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 126.0) << "four eighths";

    cue->setWarningBeatNoteDuration(4);  // half notes
    compile();
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 120.0);

    cue->setWarningBeats(0);
    setCountoffStreamers(true, true);
    const Compiled compiled = compile();
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 128.0);
    EXPECT_TRUE(compiled.blocks(UserEventRecord::kStreamer).empty()) << "no warning beats, no streamers";
}

TEST_F(CueSequenceCompilerTest, DownbeatStreamerRunsIntoTheMusicIn) {
    setCountoffStreamers(true, false);
    auto musicIn = CueEventMusicIn::musicInEventWithCue(cue);
    musicIn->setLockPrerollShiftedBeats(136.0);
    cue->setCueStartEvent(musicIn);

    const Compiled compiled = compile();

    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 1u);
    EXPECT_DOUBLE_EQ(streamers[0].time, 132.0);
    EXPECT_DOUBLE_EQ(cue->rehearsalStartPrerollShiftedBeats(), 124.0) << "the first warning beat is earlier";
}

TEST_F(CueSequenceCompilerTest, CueEndStreamerAndCueChangeWithTheDocumentHandle) {
    setCountoffStreamers(false, false);
    setDefault("cueEndStreamerEnabled", Value(true));
    auto document = Document::create();
    cue->setDocument(document.get());
    auto cueEnd = CueEventCueEnd::cueEndEventWithCue(cue);
    cueEnd->setLockPrerollShiftedBeats(300.0);
    cueEnd->setAutoFollow(true);
    cueEnd->setAutoFollowCueNumber("12");
    cue->setCueEndEvent(cueEnd);

    const Compiled compiled = compile();

    const auto changes = compiled.blocks(UserEventRecord::kCueChange);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].time, 300.0);
    ASSERT_EQ(changes[0].bytes.size(), 19u);
    const auto change = UserEventRecord::readCueChange(changes[0].bytes);
    EXPECT_EQ(change->documentHandle, document->documentHandle());
    EXPECT_EQ(Document::documentForHandle(change->documentHandle), document);
    EXPECT_EQ(change->cueNumber, "12");
    const auto streamers = compiled.blocks(UserEventRecord::kStreamer);
    ASSERT_EQ(streamers.size(), 1u);
    EXPECT_DOUBLE_EQ(streamers[0].time, 296.0);
    EXPECT_EQ(UserEventRecord::readStreamer(streamers[0].bytes)->red, 1.0f) << "the default red";

    cueEnd->setAutoFollowCueNumber("");
    EXPECT_TRUE(compile().blocks(UserEventRecord::kCueChange).empty());
    cue->setDocument(nullptr);
}

TEST_F(CueSequenceCompilerTest, PlaybackRateFollowsTheSetting) {
    for (const auto& [setting, rate] : {std::pair{-1, 1.0 / 1.001}, {0, 1.0}, {1, 1.001}, {7, 1.0}}) {
        cue->setPlaybackRateSetting(setting);
        const Compiled compiled = compile();
        ASSERT_TRUE(compiled.sequence);
        EXPECT_DOUBLE_EQ(compiled.sequence->playbackRate(), rate) << setting;
    }
}

}  // namespace
}  // namespace tollvane
