#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventMeterChange.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicPlayer.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicUserEventDestination.h"

namespace tollvane {
namespace {

class SwitchableEnvironment : public CueEnvironment {
public:
    bool cuePlayerIsPlaying() const override { return playing; }
    FFMusicUserEventDestination* userEventDestination() const override { return destination; }
    std::atomic<bool> playing{false};
    FFMusicUserEventDestination* destination = nullptr;
};

class NullDestination : public FFMusicUserEventDestination {
public:
    void takeUserEvent(std::span<const uint8_t>, MusicSequence*, MusicTrack*, double, double,
                       double) override {}
};

// Rebuilds on a run loop of virtual time; counts the rebuild notifications.
class CueUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        CueEnvironment::install(environment);
        token_ = NotificationCenter::defaultCenter().addObserver(Cue::kSequenceDidChangeNotification,
                                                                 [this](const Notification&) { ++rebuilds; });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token_);
        CueEnvironment::install(nullptr);
        RunLoop::setMain(previousLoop_);
    }

    ManualRunLoop loop;
    std::shared_ptr<SwitchableEnvironment> environment = std::make_shared<SwitchableEnvironment>();
    int rebuilds = 0;

private:
    RunLoop* previousLoop_ = nullptr;
    NotificationCenter::ObserverToken token_ = 0;
};

TEST_F(CueUpdateTest, CreationAndDecodingRebuildAtOnce) {
    auto cue = Cue::create();
    EXPECT_EQ(rebuilds, 1);
    EXPECT_TRUE(cue->sequence());
    auto copy = cue->copy();
    EXPECT_EQ(rebuilds, 2);
    EXPECT_TRUE(copy->sequence());
}

TEST_F(CueUpdateTest, RequestsWithinATenthOfASecondCollapseIntoOneRebuild) {
    auto cue = Cue::create();
    const auto first = cue->sequence();
    rebuilds = 0;
    std::vector<std::string> keys;
    cue->addKeyObserver([&](std::string_view key) { keys.emplace_back(key); });

    cue->updateSequence();
    loop.advance(0.05);
    cue->updateSequence();
    loop.advance(0.05);
    cue->updateSequence();
    loop.advance(0.099);
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(cue->sequence(), first);

    loop.advance(0.002);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_NE(cue->sequence(), first);
    EXPECT_EQ(keys, std::vector<std::string>{"sequence"});

    loop.advance(10.0);
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(CueUpdateTest, ThePendingRebuildDoesNotKeepTheCueAlive) {
    auto cue = Cue::create();
    std::weak_ptr<Cue> weak = cue;
    rebuilds = 0;
    cue->updateSequence();
    cue.reset();
    EXPECT_TRUE(weak.expired());
    loop.advance(1.0);
    EXPECT_EQ(rebuilds, 0);
}

TEST_F(CueUpdateTest, RebuildWaitsWhileTheCuePlayerPlays) {
    auto cue = Cue::create();
    const auto playing = cue->sequence();
    rebuilds = 0;
    environment->playing = true;
    cue->setPlaybackRateSetting(1);
    loop.advance(0.5);
    cue->reallyUpdateSequence();
    loop.advance(0.5);
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(cue->sequence(), playing);

    environment->playing = false;
    loop.advance(0.1);
    EXPECT_EQ(rebuilds, 1);
    ASSERT_TRUE(cue->sequence());
    EXPECT_DOUBLE_EQ(cue->sequence()->playbackRate(), 1.001);
}

TEST_F(CueUpdateTest, SuspendedUpdatesSkipTheRebuildButStillSortAndCancel) {
    auto cue = Cue::create();
    const auto before = cue->sequence();
    auto clickChange = CueEventClickChange::clickChangeEventWithCue(cue, 8.0);
    auto meter = CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{3, 4}, -2, 2);
    cue->meterEvents() = {clickChange, meter};
    rebuilds = 0;

    cue->updateSequence();
    cue->setUpdatesSuspended(true);
    cue->reallyUpdateSequence();
    loop.advance(1.0);
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(cue->sequence(), before);
    // The meter change at bar 2 sorts before the click change at beat 136.
    ASSERT_EQ(cue->meterEvents().size(), 2u);
    EXPECT_EQ(cue->meterEvents()[0], meter);

    cue->setUpdatesSuspended(false);
    cue->reallyUpdateSequence();
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(CueUpdateTest, WithoutARunLoopRequestsRebuildAtOnce) {
    RunLoop::setMain(nullptr);
    auto cue = Cue::create();
    rebuilds = 0;
    cue->updateSequence();
    EXPECT_EQ(rebuilds, 1);
    // Nothing to postpone to: a playing cue is left as it is, without looping.
    environment->playing = true;
    cue->updateSequence();
    EXPECT_EQ(rebuilds, 1);
    RunLoop::setMain(&loop);
}

TEST_F(CueUpdateTest, RebuildDerivesCountoffFirstClicksAndPublishesTheirRecords) {
    auto cue = Cue::create();
    // Four quarter clicks into beat 136 at 120 bpm: the first at 132.
    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 8.0);
    cue->countoffEvents().push_back(countoff);
    cue->reallyUpdateSequence();
    EXPECT_NEAR(countoff->firstClickPrerollShiftedBeats(), 132.0, 1e-9);
    const auto map = cue->timingMap();
    ASSERT_EQ(map->countoffs().size(), 1u);
    EXPECT_NEAR(map->countoffs()[0].firstClickPosition, 132.0, 1e-9);
    EXPECT_EQ(map->countoffs()[0].lockPosition, 136.0);
}

TEST_F(CueUpdateTest, RebuildRefreshesDerivedLockTimes) {
    auto cue = Cue::create();
    auto event = CueEvent::eventWithCue(cue);
    event->setLockPrerollShiftedBeats(136.0);
    cue->trackEvents().push_back(event);
    cue->reallyUpdateSequence();
    EXPECT_EQ(event->lockBar(), 3);
    ASSERT_TRUE(event->lockTimecode());
    EXPECT_EQ(event->lockTimecode()->compare(*cue->timecodeForPrerollShiftedBeats(136.0)), 0);
}

TEST_F(CueUpdateTest, NewPlayerSendsUserEventsToTheInstalledDestination) {
    NullDestination destination;
    environment->destination = &destination;
    auto cue = Cue::create();
    EXPECT_TRUE(cue->newPlayerWithVisualEventsShifted());
    EXPECT_EQ(cue->sequence()->userEventDestination(), &destination);
    environment->destination = nullptr;
}

TEST_F(CueUpdateTest, DestroyingACueWithEventsAndAPendingRebuildIsHarmless) {
    auto cue = Cue::create();
    auto kept = CueEvent::eventWithCue(cue);
    cue->trackEvents() = {kept, CueEvent::eventWithCue(cue)};
    cue->countoffEvents().push_back(CueEventCountoff::countoffEventWithCue(cue, 4.0));
    cue->updateSequence();
    rebuilds = 0;
    cue.reset();
    loop.advance(1.0);
    EXPECT_EQ(rebuilds, 0);
    EXPECT_FALSE(kept->cue());
}

}  // namespace
}  // namespace tollvane
