// The bar|beat counter and the count-off beside it: where the counter stands
// against the incoming timecode, the playback start and the cue's end, and
// how many warning clicks the count-off says are left.

#include "app/BarBeatCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Value.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "support/TransportRig.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> at25(int hh, int mm, int ss, int ff) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), hh, mm, ss, ff);
}

// A cue synced at 1:00:10:00, 120 bpm (half a second a beat), in 4/4 but for
// a 12/8 bar 3 clicking in eighths: bar 1 at beat 128 (1:00:10:00), bar 2 at
// 132, bar 3 at 136 (1:00:14:00), bar 4 at 142, bar 5 at 146, and its end at
// bar 9 (beat 162).
class BarBeatCounterTest : public ::testing::Test {
protected:
    void SetUp() override {
        sync.setVideoLatencyCompensation(0.0);

        cue = Cue::create();
        cue->setSyncTimecode(at25(1, 0, 10, 0));
        cue->meterEvents().push_back(
            CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{12, 8}, 8, 3));
        cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{4, 4}, 6, 4));
        auto end = CueEventCueEnd::cueEndEventWithCue(cue);
        end->setLockPrerollShiftedBeats(162.0);
        cue->setCueEndEvent(end);
        cue->reallyUpdateSequence();
        ASSERT_NE(cue->sequence(), nullptr);
    }

    void TearDown() override { rig.tearDown(); }

    void selectCue() {
        cues.setSelectedCue(cue);
        settle();
    }
    // Four quarter-note warning clicks into bar 3.
    void startAtBar3() {
        transport.setPlaybackStartTimeStamp(8.0);
        transport.setWarningBeats(4);
        transport.setWarningBeatNoteDuration(NoteDuration::kQuarter);
        settle();
    }
    // Lets the cue's pending rebuild run.
    void settle() { rig.settle(); }

    TransportRig rig;
    ManualRunLoop& loop = rig.loop;
    CueController& cues = rig.cues;
    SyncController& sync = rig.sync;
    TransportController& transport = rig.transport;
    BarBeatCounter counter{sync, transport};
    std::shared_ptr<Cue> cue;
};

TEST_F(BarBeatCounterTest, CounterAndCountoffFollowTheTimecode) {
    struct Case {
        const char* name;
        int ss, ff;                     // 1:00:ss:ff
        double playbackStartTimeStamp;  // beats after bar 1
        uint32_t warningBeats;
        int32_t noteDuration;
        double videoLatency;
        int32_t barNumberOffset;
        const char* counter;
        const char* countoff;
    };
    const Case cases[] = {
        {"one second before the start: two of four quarters gone", 13, 0, 8.0, 4, 6, 0.0, 0, "3|01",
         "2/4 into "},
        {"just past one click gone", 13, 10, 8.0, 4, 6, 0.0, 0, "3|01", "3/4 into "},
        {"at the first warning click", 12, 0, 8.0, 4, 6, 0.0, 0, "3|01", "4 into "},
        {"long before, all clicks still to come", 11, 0, 8.0, 4, 6, 0.0, 0, "3|01", "4 into "},
        {"long before bar 1", 0, 0, 8.0, 4, 6, 0.0, 0, "3|01", "4 into "},
        {"the latency carries the picture past the start", 13, 15, 8.0, 4, 6, 0.5, 0, "3|01", ""},
        {"after the start: no count-off, beats in eighths", 15, 0, 8.0, 4, 6, 0.0, 0, "3|05", ""},
        {"a 4/4 bar prints one digit", 20, 0, 0.0, 4, 6, 0.0, 0, "5|3", ""},
        {"the latency moves the counter ahead", 20, 0, 0.0, 4, 6, 0.5, 0, "5|4", ""},
        {"held at the cue's end", 30, 0, 0.0, 4, 6, 0.0, 0, "9|1", ""},
        {"the offset renumbers a 4/4 bar", 20, 0, 0.0, 4, 6, 0.0, 10, "15|3", ""},
        {"the offset keeps the 12/8 bar's two digits", 15, 0, 0.0, 4, 6, 0.0, 10, "13|05", ""},
        {"eighth-note warning clicks", 13, 0, 8.0, 8, 8, 0.0, 0, "3|01", "4/8 into "},
        {"the click's own length: eighths in the 12/8 bar", 13, 0, 8.0, 8, NoteDuration::kSameAsClick, 0.0, 0,
         "3|01", "4/8 into "},
        {"code 13 counts 0.08125 beats", 13, 12, 8.0, 16, 13, 0.0, 0, "3|01", "4/16 into "},
        {"codes beyond the table count a beat", 13, 0, 8.0, 4, 20, 0.0, 0, "3|01", "2/4 into "},
    };
    selectCue();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        transport.setPlaybackStartTimeStamp(c.playbackStartTimeStamp);
        transport.setWarningBeats(c.warningBeats);
        transport.setWarningBeatNoteDuration(c.noteDuration);
        cue->setBarNumberOffset(Value(int64_t{c.barNumberOffset}));
        settle();
        sync.setVideoLatencyCompensation(c.videoLatency);
        sync.pauseAtTimecode(*at25(1, 0, c.ss, c.ff));
        counter.update(cue, true);
        EXPECT_EQ(counter.counterText(), c.counter);
        EXPECT_EQ(counter.countoffText(), c.countoff);
    }
}

TEST_F(BarBeatCounterTest, OfflineShowsADashUnlessRehearsing) {
    selectCue();
    startAtBar3();
    sync.pauseAtTimecode(*at25(1, 0, 13, 0));
    EXPECT_TRUE(counter.update(cue, true));
    EXPECT_EQ(counter.countoffText(), "2/4 into ");

    EXPECT_TRUE(counter.update(cue, false));
    EXPECT_EQ(counter.counterText(), " - ");
    EXPECT_EQ(counter.countoffText(), "");
    EXPECT_FALSE(counter.update(cue, false));

    sync.rehearseFromTimecode(*at25(1, 0, 13, 0));
    ASSERT_TRUE(sync.rehearsalActive());
    EXPECT_TRUE(counter.update(cue, false));
    EXPECT_EQ(counter.counterText(), "3|01");
    EXPECT_EQ(counter.countoffText(), "2/4 into ");
    sync.pause();
}

TEST_F(BarBeatCounterTest, WithoutACueTheCounterIsEmptyAndTheCountoffStays) {
    selectCue();
    startAtBar3();
    sync.pauseAtTimecode(*at25(1, 0, 13, 0));
    counter.update(cue, true);
    ASSERT_EQ(counter.countoffText(), "2/4 into ");

    EXPECT_TRUE(counter.update(nullptr, true));
    EXPECT_EQ(counter.counterText(), "");
    EXPECT_EQ(counter.countoffText(), "2/4 into ");
    counter.update(nullptr, false);
    EXPECT_EQ(counter.countoffText(), "2/4 into ");
}

TEST(BarBeatCounterCountoff, CountsTheClicksLeft) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        double remaining, beat, factor;
        uint32_t warningBeats;
        const char* text;
    };
    const Case cases[] = {
        {1.0, 0.5, 1.0, 4, "2/4 into "},
        {0.0, 0.5, 1.0, 4, "4/4 into "},
        {0.49, 0.5, 1.0, 4, "4/4 into "},
        {0.5, 0.5, 1.0, 4, "3/4 into "},
        {1.99, 0.5, 1.0, 4, "1/4 into "},
        {2.0, 0.5, 1.0, 4, "4 into "},
        {1e300, 1e-300, 1.0, 4, "4 into "},
        {1.0, 0.0, 1.0, 4, "4 into "},
        {1.0, 0.5, 0.0, 4, "4 into "},
        {nan, 0.5, 1.0, 4, "4 into "},
        {infinity, 0.5, 1.0, 4, "4 into "},
        {1.0, 0.5, 1.0, 0, "0 into "},
        {1.0, 0.5, 1.0, 4000000000u, "3999999998/4000000000 into "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BarBeatCounter::countoffTextFor(c.remaining, c.beat, c.factor, c.warningBeats), c.text)
            << c.remaining << " s, " << c.beat << " s a beat, factor " << c.factor << ", " << c.warningBeats;
    }
}

TEST(BarBeatCounterCounter, PrintsBarAndBeat) {
    EXPECT_EQ(BarBeatCounter::counterTextFor(1, 1, false), "1|1");
    EXPECT_EQ(BarBeatCounter::counterTextFor(-31, 3, false), "-31|3");
    EXPECT_EQ(BarBeatCounter::counterTextFor(12, 7, true), "12|07");
    EXPECT_EQ(BarBeatCounter::counterTextFor(12, 11, true), "12|11");
}

}  // namespace
}  // namespace tollvane
