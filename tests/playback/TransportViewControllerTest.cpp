// The transport bar's logic: the current-time texts and their timer, the
// button states, locating by typing, the pickup label and the setting
// proxies.

#include "playback/TransportViewController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/PlaybackApplication.h"
#include "playback/PlaybackEnvironment.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "support/TransportRig.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> timecode(int hh, int mm, int ss, int ff) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), hh, mm, ss, ff);
}

class OfflineApplication : public PlaybackApplication {
public:
    bool MTCOnline() const override { return online; }
    bool online = true;
};

class TransportViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousApplication_ = PlaybackApplication::install(application);
        view = std::make_unique<TransportViewController>(transport);
        view->addKeyObserver([this](std::string_view key) { keys.emplace_back(key); });

        cue = Cue::create();
        cue->setSyncTimecode(timecode(1, 0, 10, 0));
        cue->reallyUpdateSequence();
    }

    void TearDown() override {
        view.reset();
        rig.tearDown();
        PlaybackApplication::install(previousApplication_);
    }

    void selectCue() {
        cues.setSelectedCue(cue);
        rig.settle();
    }
    bool announced(const std::string& key) const { return std::count(keys.begin(), keys.end(), key) > 0; }

    TransportRig rig;
    ManualRunLoop& loop = rig.loop;
    CueController& cues = rig.cues;
    SyncController& sync = rig.sync;
    TransportController& transport = rig.transport;
    std::shared_ptr<OfflineApplication> application = std::make_shared<OfflineApplication>();
    std::unique_ptr<TransportViewController> view;
    std::shared_ptr<Cue> cue;
    std::vector<std::string> keys;

private:
    std::shared_ptr<PlaybackApplication> previousApplication_;
};

TEST_F(TransportViewControllerTest, PlaceholdersWithoutACueThenTheCuesTexts) {
    sync.pauseAtTimecode(*timecode(1, 0, 12, 0));
    view->updateCurrentTimeDisplays();
    EXPECT_EQ(view->barBeatText(), "-|-|---");
    EXPECT_EQ(view->realTimeText(), "-:--.--");
    EXPECT_EQ(view->timecodeText(), "1:00:12:00");
    EXPECT_FALSE(view->canChangeTransportSettings());

    selectCue();
    EXPECT_TRUE(announced("canChangeTransportSettings"));
    EXPECT_TRUE(view->canChangeTransportSettings());
    sync.pauseAtTimecode(*timecode(1, 0, 12, 0));
    view->updateCurrentTimeDisplays();
    EXPECT_EQ(view->barBeatText(), "2|1|000");
    EXPECT_EQ(view->realTimeText(), cue->realTimeStringForTimeStamp(4.0));
    EXPECT_EQ(view->timecodeText(), "1:00:12:00");
}

TEST_F(TransportViewControllerTest, TheTimerRefreshesTwentyFiveTimesASecondExceptFieldsBeingEdited) {
    selectCue();
    sync.pauseAtTimecode(*timecode(1, 0, 12, 0));
    view->startDisplayTimer();
    EXPECT_TRUE(view->displayTimerRunning());
    loop.advance(0.04);
    EXPECT_EQ(view->barBeatText(), "2|1|000");

    ASSERT_TRUE(view->beginBarBeatEntry());
    ASSERT_TRUE(view->beginTimecodeEntryScoring());  // takes over from the bar/beat field
    EXPECT_FALSE(view->barBeatFieldEditing());
    sync.pauseAtTimecode(*timecode(1, 0, 14, 0));
    loop.advance(0.04);
    EXPECT_EQ(view->barBeatText(), "3|1|000");
    EXPECT_EQ(view->timecodeText(), "1:00:12:00");

    view->endTimeEntry();
    view->stopDisplayTimer();
    loop.advance(0.2);
    EXPECT_EQ(view->timecodeText(), "1:00:12:00");
}

TEST_F(TransportViewControllerTest, TimeEntryNeedsACueAndStoppedTime) {
    EXPECT_FALSE(view->beginBarBeatEntry());
    EXPECT_FALSE(view->beginTimecodeEntryScoring());
    selectCue();
    transport.setRehearsalActive(true);
    EXPECT_FALSE(view->beginBarBeatEntry());
    EXPECT_FALSE(view->beginTimecodeEntryScoring());
    transport.setRehearsalActive(false);
    view->barBeatCounterClicked();
    EXPECT_TRUE(view->barBeatFieldEditing());
    // Rehearsing from the button ends the entry.
    view->toggleRehearsal();
    EXPECT_FALSE(view->barBeatFieldEditing());
}

TEST_F(TransportViewControllerTest, LocatingByTyping) {
    selectCue();
    const auto start = timecode(1, 0, 30, 0);
    struct Case {
        bool barBeat;
        const char* text;
        const char* expected;  // null: the position stays
    } cases[] = {
        {true, "3", "1:00:14:00"}, {true, " 2|3|000 ", "1:00:13:00"},
        {true, "", nullptr},       {true, "garbage", nullptr},
        {true, "   ", nullptr},    {false, "1:00:20:05", "1:00:20:05"},
        {false, "", nullptr},      {false, "next week", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        sync.pauseAtTimecode(*start);
        if (c.barBeat) {
            ASSERT_TRUE(view->beginBarBeatEntry());
            view->barBeatEntryFinished(c.text);
        } else {
            view->scoringTimecodeCounterClicked();
            ASSERT_TRUE(view->timecodeFieldEditing());
            view->scoringTimecodeEntryFinished(c.text);
        }
        EXPECT_FALSE(view->barBeatFieldEditing());
        EXPECT_FALSE(view->timecodeFieldEditing());
        EXPECT_EQ(sync.currentTimecode()->stringRepresentation(), c.expected ? c.expected : "1:00:30:00");
        EXPECT_FALSE(sync.isPlaying());
    }
    // Text that arrives without an entry under way locates nothing.
    view->barBeatEntryFinished("5");
    EXPECT_EQ(sync.currentTimecode()->stringRepresentation(), "1:00:30:00");
}

TEST_F(TransportViewControllerTest, ButtonsFollowRehearsalAndMTCFollowing) {
    EXPECT_EQ(view->rehearseButtonImage(), "play-16-off");
    EXPECT_EQ(view->onlineButtonImage(), "time-16-on");
    EXPECT_EQ(view->onlineButtonTitle(), "Online");
    application->online = false;
    view->updateTransportControls();
    EXPECT_EQ(view->onlineButtonImage(), "time-16-off");
    EXPECT_EQ(view->onlineButtonTitle(), "Offline");

    selectCue();
    sync.pauseAtTimecode(*timecode(1, 0, 5, 0));
    view->toggleRehearsal();
    EXPECT_TRUE(transport.rehearsalActive());
    EXPECT_EQ(view->rehearseButtonImage(), "pause-16");
    EXPECT_EQ(view->scoringRehearseButtonImage(), "pause-16");
    EXPECT_TRUE(view->adrFoleyRehearseButtonOn());
    view->toggleRehearsal();
    EXPECT_EQ(view->rehearseButtonImage(), "play-16-off");
    EXPECT_EQ(view->scoringRehearseButtonImage(), "play-16-off");
    EXPECT_FALSE(view->adrFoleyRehearseButtonOn());
    EXPECT_EQ(sync.currentTimecode()->stringRepresentation(), "1:00:05:00");

    view->rehearseFromTop();
    EXPECT_TRUE(sync.currentTimecode()->isEqual(*cue->rehearsalStartTimecode()));
}

TEST_F(TransportViewControllerTest, PickupLabelAndProxies) {
    EXPECT_EQ(view->pickupLabel(), "Countoff into");
    EXPECT_FALSE(view->pickupLabelIsWhite());
    selectCue();
    transport.setPickupActive(true);
    NotificationCenter::defaultCenter().postNotification(
        TransportController::kPickupActiveDidChangeNotification);
    EXPECT_TRUE(announced("pickupLabel"));
    EXPECT_EQ(view->pickupLabel(), "PICKUP into");
    EXPECT_TRUE(view->pickupLabelIsWhite());

    keys.clear();
    view->setWarningClicks(3);
    view->setPlaybackStartPrerollShiftedBeats(136.0);
    view->setWarningClickNoteDuration(8);
    view->setClickMuteSetting(1);
    view->setWarningBeatPunchesEnabled(true);
    EXPECT_EQ(transport.warningBeats(), 3u);
    EXPECT_EQ(view->warningClicks(), 3u);
    EXPECT_DOUBLE_EQ(transport.playbackStartTimeStamp(), 8.0);
    EXPECT_DOUBLE_EQ(view->playbackStartPrerollShiftedBeats(), 136.0);
    EXPECT_EQ(view->warningClickNoteDuration(), 8);
    EXPECT_EQ(view->clickMuteSetting(), 1u);
    EXPECT_TRUE(view->warningBeatPunchesEnabled());
    for (const char* key : {"warningClicks", "playbackStartPrerollShiftedBeats", "warningClickNoteDuration",
                            "clickMuteSetting", "warningBeatPunchesEnabled"})
        EXPECT_TRUE(announced(key)) << key;
    EXPECT_EQ(transport.pickupState().warningBeats, 3u);
}

}  // namespace
}  // namespace tollvane
