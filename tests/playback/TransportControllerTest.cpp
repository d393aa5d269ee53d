// The transport: the setting protocol and where it parks, rehearsal start
// and stop, the standard and pickup slots, the warning-click length, and the
// cue environment the application installs over these controllers. Runs on
// a virtual-time loop with the sync thread switched off.

#include "playback/TransportController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "model/ClickPattern.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "support/ScopedDefault.h"
#include "support/TransportRig.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> timecode(int hh, int mm, int ss, int ff) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), hh, mm, ss, ff);
}

class TransportControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        cue = Cue::create();
        cue->setSyncTimecode(timecode(1, 0, 10, 0));
        cue->reallyUpdateSequence();
        keyToken_ = transport.addKeyObserver([this](std::string_view key) { keys.emplace_back(key); });
        for (const char* name : {TransportController::kPlaybackStartTimeStampDidChangeNotification,
                                 TransportController::kWarningClicksDidChangeNotification,
                                 TransportController::kWarningClickNoteDurationDidChangeNotification,
                                 TransportController::kClickMuteSettingDidChangeNotification,
                                 TransportController::kWarningBeatPunchesEnabledDidChangeNotification}) {
            notificationTokens_.push_back(NotificationCenter::defaultCenter().addObserver(
                name, &transport, [this](const Notification& note) { notifications.push_back(note.name); }));
        }
    }

    void TearDown() override {
        for (auto token : notificationTokens_) NotificationCenter::defaultCenter().removeObserver(token);
        transport.removeKeyObserver(keyToken_);
        rig.tearDown();
    }

    // Selects the cue and lets its rebuild settle.
    void selectCue() {
        cues.setSelectedCue(cue);
        settle();
    }
    void settle() { rig.settle(); }
    void clearRecords() {
        keys.clear();
        notifications.clear();
    }
    bool announced(const std::string& key) const { return std::count(keys.begin(), keys.end(), key) > 0; }

    std::shared_ptr<EMTimecode> parkingTimecode() const {
        auto start = cue->rehearsalStartTimecode();
        start->subtractSeconds(0.2);
        return start;
    }
    double position() const { return sync.currentTimecode()->secondsFromZero(); }
    // Time runs on timecode: two frames 40 ms apart.
    void startMTC(const EMTimecode& at) {
        sync.setCurrentTimecode(at, true, loop.clock().now());
        loop.clock().advanceSeconds(0.04);
        auto next = at.copy();
        next->addFrames(1);
        sync.setCurrentTimecode(*next, true, loop.clock().now());
        ASSERT_TRUE(sync.isPlaying());
        ASSERT_FALSE(sync.rehearsalActive());
    }

    TransportRig rig;
    ManualRunLoop& loop = rig.loop;
    CueController& cues = rig.cues;
    SyncController& sync = rig.sync;
    TransportController& transport = rig.transport;
    std::shared_ptr<Cue> cue;
    std::vector<std::string> keys;
    std::vector<std::string> notifications;

private:
    KeyValueObservable::ObserverToken keyToken_ = 0;
    std::vector<NotificationCenter::ObserverToken> notificationTokens_;
};

// Which settings park at the rehearsal start, and the notice each posts.
TEST_F(TransportControllerTest, EachSettingRunsTheProtocol) {
    struct Case {
        const char* key;
        const char* notification;
        bool parks;
        bool warningBeatTimes;
        std::function<void(TransportController&)> change;
        std::function<bool(const Cue&)> cueTookIt;
    } cases[] = {
        {"playbackStartTimeStamp", TransportController::kPlaybackStartTimeStampDidChangeNotification, true,
         false, [](TransportController& t) { t.setPlaybackStartTimeStamp(8.0); },
         [](const Cue& c) { return c.playbackStartTimeStamp() == 8.0; }},
        {"warningBeats", TransportController::kWarningClicksDidChangeNotification, true, true,
         [](TransportController& t) { t.setWarningBeats(8); },
         [](const Cue& c) { return c.warningBeats() == 8; }},
        {"warningBeatNoteDuration", TransportController::kWarningClickNoteDurationDidChangeNotification, true,
         true, [](TransportController& t) { t.setWarningBeatNoteDuration(4); },
         [](const Cue& c) { return c.warningBeatNoteDuration() == 4; }},
        {"clickMuteSetting", TransportController::kClickMuteSettingDidChangeNotification, false, true,
         [](TransportController& t) { t.setClickMuteSetting(2); },
         [](const Cue& c) { return c.clickMuteSetting() == 2; }},
        {"warningBeatPunchesEnabled", TransportController::kWarningBeatPunchesEnabledDidChangeNotification,
         false, false, [](TransportController& t) { t.setWarningBeatPunchesEnabled(true); },
         [](const Cue& c) { return c.warningBeatPunchesEnabled(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        cue = Cue::create();
        cue->setSyncTimecode(timecode(1, 0, 10, 0));
        cue->reallyUpdateSequence();
        selectCue();
        const auto elsewhere = timecode(2, 0, 0, 0);
        sync.pauseAtTimecode(*elsewhere);
        const auto sequenceBefore = cue->sequence();
        clearRecords();

        c.change(transport);
        EXPECT_TRUE(c.cueTookIt(*cue));
        EXPECT_EQ(notifications, std::vector<std::string>{c.notification});
        EXPECT_TRUE(announced(c.key));
        EXPECT_EQ(announced("warningBeatTimes"), c.warningBeatTimes);
        settle();
        EXPECT_NE(cue->sequence(), sequenceBefore);
        EXPECT_EQ(transport.standardState(), transport.pickupState());
        if (c.parks) {
            EXPECT_NEAR(position(), parkingTimecode()->secondsFromZero(), 1e-9);
        } else {
            EXPECT_NEAR(position(), elsewhere->secondsFromZero(), 1e-9);
        }
    }
}

TEST_F(TransportControllerTest, WarningClicksParkBeforeTheNewRehearsalStart) {
    selectCue();
    const double oldStart = cue->rehearsalStartTimecode()->secondsFromZero();
    transport.setWarningBeats(8);
    settle();
    // Four more clicks at 120 bpm: two seconds earlier.
    EXPECT_NEAR(cue->rehearsalStartTimecode()->secondsFromZero(), oldStart - 2.0, 1e-3);
    EXPECT_NEAR(position(), oldStart - 2.2, 1e-3);
    EXPECT_FALSE(sync.isPlaying());
}

TEST_F(TransportControllerTest, SettingsLeaveThePositionAloneWhileMTCRuns) {
    selectCue();
    startMTC(*timecode(1, 0, 0, 0));
    transport.setWarningBeats(8);
    transport.setPlaybackStartTimeStamp(4.0);
    settle();
    EXPECT_TRUE(sync.isPlaying());
    EXPECT_GT(position(), timecode(1, 0, 0, 0)->secondsFromZero());
}

TEST_F(TransportControllerTest, PlaybackStartChangeDuringRehearsalEndsItAndParks) {
    selectCue();
    transport.setRehearsalActive(true);
    ASSERT_TRUE(transport.rehearsalActive());
    const double oldStart = cue->rehearsalStartTimecode()->secondsFromZero();
    keys.clear();
    loop.clock().advanceSeconds(1.0);

    transport.setPlaybackStartTimeStamp(8.0);
    EXPECT_FALSE(transport.rehearsalActive());
    EXPECT_FALSE(sync.isPlaying());
    EXPECT_TRUE(announced("rehearsalActive"));
    EXPECT_TRUE(announced("playbackStartPrerollShiftedBeats"));
    settle();
    // Eight beats later at 120 bpm.
    EXPECT_NEAR(cue->rehearsalStartTimecode()->secondsFromZero(), oldStart + 4.0, 1e-3);
    EXPECT_NEAR(position(), oldStart + 3.8, 1e-3);
}

TEST_F(TransportControllerTest, PrerollShiftedPlaybackStart) {
    selectCue();
    transport.setPlaybackStartPrerollShiftedBeats(132.0);
    EXPECT_DOUBLE_EQ(transport.playbackStartTimeStamp(), 4.0);
    EXPECT_DOUBLE_EQ(transport.playbackStartPrerollShiftedBeats(), 132.0);
    EXPECT_DOUBLE_EQ(cue->playbackStartTimeStamp(), 4.0);
    // Compilation reads the playback start through the installed environment.
    EXPECT_DOUBLE_EQ(CueEnvironment::current().playbackStartPrerollShiftedBeats(), 132.0);
}

TEST_F(TransportControllerTest, PickupStartsAsACopyOfStandardThenGoesItsOwnWay) {
    selectCue();
    transport.setWarningBeats(3);
    const TransportController::TransportState standard = transport.standardState();
    EXPECT_EQ(transport.pickupState(), standard);

    // A new cue: its own settings, and no pickup yet.
    cue = Cue::create();
    cue->setSyncTimecode(timecode(1, 0, 10, 0));
    cue->reallyUpdateSequence();
    selectCue();
    EXPECT_EQ(transport.warningBeats(), 4u);
    EXPECT_FALSE(transport.pickupState().valid);

    transport.setPickupActive(true);
    EXPECT_TRUE(transport.pickupState().valid);
    EXPECT_EQ(transport.pickupState(), transport.standardState());
    EXPECT_EQ(transport.warningBeats(), 4u);

    transport.setWarningBeats(1);
    transport.setPlaybackStartTimeStamp(-2.0);
    EXPECT_EQ(transport.pickupState().warningBeats, 1u);
    EXPECT_EQ(transport.standardState().warningBeats, 4u);
    EXPECT_DOUBLE_EQ(transport.standardState().playbackStartTimeStamp, 0.0);

    transport.setPickupActive(false);
    EXPECT_EQ(transport.warningBeats(), 4u);
    EXPECT_EQ(cue->warningBeats(), 4u);
    EXPECT_DOUBLE_EQ(cue->playbackStartTimeStamp(), 0.0);
    transport.setPickupActive(true);
    EXPECT_EQ(cue->warningBeats(), 1u);
    EXPECT_DOUBLE_EQ(transport.playbackStartTimeStamp(), -2.0);
    EXPECT_FALSE(transport.transportBeingUpdated());
    // Flipping moved the playback start: the position follows.
    settle();
    EXPECT_NEAR(position(), parkingTimecode()->secondsFromZero(), 1e-9);
}

TEST_F(TransportControllerTest, SpaceBarRehearsesFromWhereItStandsAndStopsThere) {
    selectCue();
    const auto at = timecode(1, 0, 10, 0);
    sync.pauseAtTimecode(*at);
    transport.pauseOrResumeRehearsal();
    EXPECT_TRUE(transport.rehearsalActive());
    EXPECT_TRUE(sync.isPlaying());
    EXPECT_TRUE(sync.currentTimecode()->isEqual(*at));
    transport.pauseOrResumeRehearsal();
    EXPECT_FALSE(transport.rehearsalActive());
    EXPECT_FALSE(sync.isPlaying());
    EXPECT_TRUE(sync.currentTimecode()->isEqual(*at));
}

TEST_F(TransportControllerTest, EndingARehearsalRewindsOnlyWithAutoRewind) {
    selectCue();
    for (const bool rewind : {false, true}) {
        SCOPED_TRACE(rewind);
        ScopedDefault autoRewind("transportAutoRewind", Value(rewind));
        transport.toggleRehearsal();
        ASSERT_TRUE(transport.rehearsalActive());
        EXPECT_NEAR(position(), parkingTimecode()->secondsFromZero(), 1e-9);
        loop.clock().advanceSeconds(2.0);
        transport.toggleRehearsal();
        EXPECT_FALSE(sync.isPlaying());
        EXPECT_NEAR(position(), parkingTimecode()->secondsFromZero() + (rewind ? 0.0 : 2.0), 1e-3);
    }
}

TEST_F(TransportControllerTest, NoParkingWhileAutoFollowingOrWithoutACue) {
    transport.setRehearsalActive(true);
    EXPECT_FALSE(sync.isPlaying());

    selectCue();
    const auto elsewhere = timecode(2, 0, 0, 0);
    sync.pauseAtTimecode(*elsewhere);
    CueEnvironment::current().setProcessingAutoFollow(true);
    EXPECT_TRUE(transport.processingAutoFollow());
    transport.setWarningBeats(6);
    settle();
    EXPECT_NEAR(position(), elsewhere->secondsFromZero(), 1e-9);
    transport.setProcessingAutoFollow(false);
}

TEST_F(TransportControllerTest, WarningClickLength) {
    transport.setWarningBeatNoteDuration(NoteDuration::kSameAsClick);
    EXPECT_DOUBLE_EQ(transport.warningBeatDurationMatching(), 1.0);  // no cue

    selectCue();
    transport.setWarningBeatNoteDuration(NoteDuration::kSameAsClick);
    EXPECT_DOUBLE_EQ(transport.warningBeatDurationMatching(), 1.0);
    transport.setWarningBeatNoteDuration(NoteDuration::kQuarter);
    EXPECT_DOUBLE_EQ(transport.warningBeatDurationMatching(), 1.0);

    auto change = CueEventClickChange::clickChangeWithCue(cue, 8, 0.0);
    change->setClickPattern({2, 2, 3});
    cue->addEvent(change);
    cue->reallyUpdateSequence();
    const auto setting = cue->clickSettingForPrerollShiftedBeats(128.0);
    ASSERT_TRUE(std::holds_alternative<ClickPattern>(setting));
    transport.setWarningBeatNoteDuration(NoteDuration::kSameAsClick);
    EXPECT_DOUBLE_EQ(transport.warningBeatDurationMatching(), std::get<ClickPattern>(setting).baseDuration);
    EXPECT_DOUBLE_EQ(transport.warningBeatDurationMatching(), 0.5);
}

TEST_F(TransportControllerTest, CurrentTimeStampAndTheEnvironment) {
    selectCue();
    sync.pauseAtTimecode(*timecode(1, 0, 12, 0));
    EXPECT_NEAR(transport.currentTimeStamp(), 4.0, 1e-6);

    CueEnvironment& environment = CueEnvironment::current();
    EXPECT_TRUE(environment.currentTimecode()->isEqual(*timecode(1, 0, 12, 0)));
    EXPECT_FALSE(environment.cuePlayerIsPlaying());
    cues.playFromTimecode(*timecode(1, 0, 12, 0), loop.clock().now());
    EXPECT_TRUE(environment.cuePlayerIsPlaying());
    EXPECT_EQ(environment.userEventDestination(), nullptr);
    cues.stop();
}

}  // namespace
}  // namespace tollvane
