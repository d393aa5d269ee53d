#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEventBarNumberChange.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "model/Reel.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

class CueArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(nullptr);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        Cue::registerArchiveClass();
    }
    void TearDown() override { RunLoop::setMain(previousLoop_); }

    static std::shared_ptr<Cue> roundTrip(const std::shared_ptr<Cue>& cue) {
        const Data bytes = KeyedArchiver::archivedDataWithRootObject(Value(cue));
        return KeyedUnarchiver::unarchivedObjectWithData(bytes).object<Cue>();
    }

    template <class Kind>
    static std::shared_ptr<Kind> only(const std::vector<std::shared_ptr<CueEvent>>& list) {
        std::shared_ptr<Kind> found;
        for (const auto& event : list) {
            if (auto kind = std::dynamic_pointer_cast<Kind>(event)) {
                EXPECT_FALSE(found) << "two events of one kind";
                found = kind;
            }
        }
        return found;
    }

private:
    RunLoop* previousLoop_ = nullptr;
};

TEST_F(CueArchiveTest, RoundTripOfACueHoldingEveryKindOfEvent) {
    auto cue = Cue::create();
    cue->setTitle("4M2");
    cue->setOptionalDisplayText("Chase");
    cue->setCueID(0x12345678);
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(1), "1:02:03:04"));
    cue->setSyncPrerollShiftedBeats(Value(132.0));
    cue->setBarNumberOffset(Value(-2));
    cue->setPlaybackStartTimeStamp(6.5);
    cue->setWarningBeats(2);
    cue->setWarningBeatNoteDuration(8);
    cue->setClickMuteSetting(1);
    cue->setReel(std::make_shared<Reel>(99));

    cue->tempoEvents().push_back(CueEventTempoChange::tempoChangeEventWithCue(cue, 96.5, 6, 16.0));
    cue->meterEvents().push_back(CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{7, 8}, 8, 3));
    auto clickChange = CueEventClickChange::clickChangeEventWithCue(cue, 8.0);
    clickChange->setClickPattern({2, 2, 3});
    cue->meterEvents().push_back(clickChange);
    cue->trackEvents().push_back(
        CueEventStreamer::streamerEventWithCue(cue, Color::calibrated(1.0, 0.0, 0.0), 4.0f, 2.0f, 20.0));
    cue->trackEvents().push_back(
        CueEventPunch::punchEventWithCue(cue, Color::calibrated(0, 0, 1), 5, 1.0f, 24.0));
    auto barNumber = CueEventBarNumberChange::barNumberChangeEventWithCue(cue, 32.0);
    barNumber->setBarNumber("100A");
    cue->trackEvents().push_back(barNumber);
    cue->trackEvents().push_back(CueEventSoundCue::soundCueEventWithCue(cue, "Car passes"));
    cue->countoffEvents().push_back(
        CueEventCountoff::countoffEventWithCue(cue, 12.0, 3, 8, true, true, false, true));
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockPrerollShiftedBeats(320.0);
    end->setAutoFollow(true);
    end->setAutoFollowCueNumber("4M3");
    cue->setCueEndEvent(end);
    auto start = CueEventMusicIn::musicInEventWithCue(cue);
    start->setLockPrerollShiftedBeats(130.0);
    cue->setCueStartEvent(start);
    cue->reallyUpdateSequence();

    auto decoded = roundTrip(cue);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->title(), "4M2");
    EXPECT_EQ(decoded->optionalDisplayText(), std::optional<std::string>("Chase"));
    EXPECT_EQ(decoded->cueID(), 0x12345678u);
    EXPECT_EQ(decoded->syncTimecodeString(), "1:02:03:04");
    EXPECT_EQ(decoded->syncTimecode()->framerate().fps, 24u);
    EXPECT_EQ(decoded->syncPrerollShiftedBeats(), 132.0);
    EXPECT_EQ(decoded->barNumberOffsetValue(), -2);
    EXPECT_EQ(decoded->playbackStartTimeStamp(), 6.5);
    EXPECT_EQ(decoded->warningBeats(), 2u);
    EXPECT_EQ(decoded->warningBeatNoteDuration(), 8);
    EXPECT_EQ(decoded->clickMuteSetting(), 1u);
    EXPECT_EQ(decoded->reelID(), 99u);
    EXPECT_FALSE(decoded->reel());  // the document re-links it

    ASSERT_EQ(decoded->tempoEvents().size(), 1u);
    ASSERT_EQ(decoded->meterEvents().size(), 2u);
    ASSERT_EQ(decoded->trackEvents().size(), 4u);
    ASSERT_EQ(decoded->countoffEvents().size(), 1u);
    for (const auto* list : {&decoded->tempoEvents(), &decoded->meterEvents(), &decoded->trackEvents(),
                             &decoded->countoffEvents()}) {
        for (const auto& event : *list) EXPECT_EQ(event->cue(), decoded) << event->description();
    }

    auto tempo = only<CueEventTempoChange>(decoded->tempoEvents());
    ASSERT_TRUE(tempo);
    EXPECT_EQ(tempo->bpm(), 96.5);
    EXPECT_EQ(tempo->lockPrerollShiftedBeats(), 144.0);
    auto meter = only<CueEventMeterChange>(decoded->meterEvents());
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->meter(), (TimeSignature{7, 8}));
    EXPECT_EQ(meter->lockBar(), 3);
    auto decodedClick = only<CueEventClickChange>(decoded->meterEvents());
    ASSERT_TRUE(decodedClick);
    EXPECT_EQ(decodedClick->clickPattern(), (std::vector<uint32_t>{2, 2, 3}));
    auto streamer = only<CueEventStreamer>(decoded->trackEvents());
    ASSERT_TRUE(streamer);
    EXPECT_EQ(streamer->feet(), 4.0f);
    auto punch = only<CueEventPunch>(decoded->trackEvents());
    ASSERT_TRUE(punch);
    EXPECT_EQ(punch->holes(), 5);
    auto decodedBarNumber = only<CueEventBarNumberChange>(decoded->trackEvents());
    ASSERT_TRUE(decodedBarNumber);
    EXPECT_EQ(decodedBarNumber->barNumber(), std::optional<std::string>("100A"));
    auto soundCue = only<CueEventSoundCue>(decoded->trackEvents());
    ASSERT_TRUE(soundCue);
    EXPECT_EQ(soundCue->text(), "Car passes");
    auto countoff = only<CueEventCountoff>(decoded->countoffEvents());
    ASSERT_TRUE(countoff);
    EXPECT_EQ(countoff->countoffBeats(), 3);
    EXPECT_TRUE(countoff->punchClick());
    EXPECT_FALSE(countoff->streamerIntoFirstBeat());
    ASSERT_TRUE(decoded->cueEndEvent());
    EXPECT_EQ(decoded->cueEndEvent()->cue(), decoded);
    EXPECT_EQ(decoded->cueEndEvent()->autoFollowCueNumber(), "4M3");
    ASSERT_TRUE(decoded->cueStartEvent());
    EXPECT_EQ(decoded->cueStartEvent()->lockPrerollShiftedBeats(), 130.0);

    // The decoded cue compiled itself from what it read: the same map.
    EXPECT_EQ(decoded->lengthInBeats(), 320.0);
    EXPECT_NEAR(countoff->firstClickPrerollShiftedBeats(),
                only<CueEventCountoff>(cue->countoffEvents())->firstClickPrerollShiftedBeats(), 1e-9);
    for (double beats : {100.0, 128.0, 150.0, 300.0}) {
        EXPECT_NEAR(decoded->secondsFromSyncPointForPrerollShiftedBeats(beats),
                    cue->secondsFromSyncPointForPrerollShiftedBeats(beats), 1e-9)
            << beats;
        EXPECT_EQ(decoded->barBeatStringForTimeStamp(beats - 128.0),
                  cue->barBeatStringForTimeStamp(beats - 128.0));
    }
}

}  // namespace
}  // namespace tollvane
