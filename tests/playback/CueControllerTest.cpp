// The cue player: where a start places the player, pauses and stops, which
// cue it follows, and how it reacts to rebuilds and to the defaults. Players
// are stepped (no thread) on a hand-moved clock.

#include "playback/CueController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueDefaults.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "playback/FFMusicPlayer.h"
#include "playback/SyncController.h"
#include "support/ScopedDefault.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> timecode(int hh, int mm, int ss, int ff) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), hh, mm, ss, ff);
}

std::shared_ptr<Cue> cueAt(int hh, int mm, int ss) {
    auto cue = Cue::create();
    cue->setSyncTimecode(timecode(hh, mm, ss, 0));
    cue->reallyUpdateSequence();
    return cue;
}

class CueControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop);
        previousClock_ = HostClock::setShared(&loop.clock());
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        loop.clock().set(1'000'000'000'000);
        cues = std::make_unique<CueController>(nullptr, loop.clock());
        cues->setPlayerFactory([this](Cue& cue) {
            ++playersMade;
            auto player = std::make_unique<FFMusicPlayer>(loop.clock(), MusicPlayer::Delivery::stepped);
            player->setSequence(cue.sequence());
            return player;
        });
        cue = cueAt(1, 0, 10);
    }

    void TearDown() override {
        cues.reset();
        loop.runPending();
        Log::setSink(previousSink_);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    bool loggedLine(const std::string& text) const {
        for (const auto& line : logged)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    ManualRunLoop loop;
    std::vector<std::string> logged;
    std::unique_ptr<CueController> cues;
    std::shared_ptr<Cue> cue;
    int playersMade = 0;

private:
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    Log::Sink previousSink_;
};

TEST_F(CueControllerTest, StartsAtElapsedTimePlusOffsetFromPrerollStartPlusLatency) {
    ScopedDefault latency("latencyCompensation", Value(0.1));
    ScopedDefault debug("debugSync", Value(1));
    cues->setSelectedCue(cue);
    cues->primeThePump();
    EXPECT_TRUE(cues->pumpPrimed());
    EXPECT_TRUE(loggedLine("cue priming pump"));

    const auto origin = cue->timecodeForPrerollShiftedBeats(0.0);
    auto at = origin->copy();
    at->addSeconds(4.0);
    const uint64_t hostTime = loop.clock().now();
    loop.clock().advanceSeconds(0.02);
    cues->playFromTimecode(*at, hostTime);

    EXPECT_TRUE(cues->isPlaying());
    EXPECT_TRUE(cues->timecodeBeingReceived());
    ASSERT_NE(cues->player(), nullptr);
    EXPECT_TRUE(cues->player()->isPlaying());
    EXPECT_NEAR(cues->player()->currentTimeInSeconds(), 4.12, 1e-6);
    EXPECT_TRUE(loggedLine("play from " + at->description()));
    EXPECT_TRUE(
        loggedLine("cue offset 4.120000 s (" + origin->description() + " to " + at->description() + ")"));

    // A second start never carries on with a half-played player.
    const int before = playersMade;
    cues->playFromTimecode(*at, loop.clock().now());
    EXPECT_EQ(playersMade, before + 1);
    EXPECT_NEAR(cues->player()->currentTimeInSeconds(), 4.1, 1e-6);
}

TEST_F(CueControllerTest, PausesOnlyAtANewTimecodeWhileIdle) {
    cues->setSelectedCue(cue);
    // Selecting parks at 0:00:00:00 29.97 non-drop.
    ASSERT_TRUE(cues->lastReceivedTimecode());
    EXPECT_EQ(cues->lastReceivedTimecode()->stringRepresentationWithBitsAndFramerate(),
              EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(4), 0, 0, 0, 0)
                  ->stringRepresentationWithBitsAndFramerate());
    cues->primeThePump();

    const int before = playersMade;
    cues->pauseAtTimecode(*cues->lastReceivedTimecode());
    EXPECT_EQ(playersMade, before);

    const auto elsewhere = timecode(1, 0, 0, 0);
    cues->pauseAtTimecode(*elsewhere);
    EXPECT_EQ(playersMade, before + 1);
    EXPECT_TRUE(cues->lastReceivedTimecode()->isEqual(*elsewhere));

    // While playing, even the recorded timecode stops the player.
    cues->playFromTimecode(*timecode(0, 59, 10, 0), loop.clock().now());
    ASSERT_TRUE(cues->isPlaying());
    cues->pauseAtTimecode(*elsewhere);
    EXPECT_FALSE(cues->isPlaying());
    EXPECT_FALSE(cues->timecodeBeingReceived());
    EXPECT_FALSE(cues->player()->isPlaying());
    EXPECT_DOUBLE_EQ(cues->player()->currentTime(), 0.0);

    SyncController sync(loop.clock());
    sync.setSyncThreadEnabled(false);
    sync.setCurrentTimecode(*timecode(1, 0, 5, 0), false);
    cues->pause(sync);
    EXPECT_TRUE(cues->lastReceivedTimecode()->isEqual(*timecode(1, 0, 5, 0)));
}

TEST_F(CueControllerTest, FollowsTheSelectedCuesSyncPointAndDisplayText) {
    int orderChanges = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        CueArrayController::kCueOrderDidChangeNotification, [&](const Notification&) { ++orderChanges; });
    std::vector<std::string> keys;
    cues->addKeyObserver([&](std::string_view key) { keys.emplace_back(key); });

    cue->setTitle("1M1");
    cues->setSelectedCue(cue);
    EXPECT_EQ(cues->displayText(), "1M1");
    cue->setSyncTimecode(timecode(1, 2, 0, 0));
    EXPECT_EQ(orderChanges, 1);
    cue->setOptionalDisplayText(std::string("Main Title"));
    EXPECT_EQ(cues->displayText(), "Main Title");

    auto other = cueAt(2, 0, 0);
    cues->setSelectedCue(other);
    cue->setSyncTimecode(timecode(1, 3, 0, 0));
    EXPECT_EQ(orderChanges, 1);
    cues->setSelectedCue(nullptr);
    EXPECT_EQ(cues->displayText(), "");
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "selectedCue"), 3);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(CueControllerTest, RebuildsOfTheSelectedCueRenewTheIdlePlayer) {
    cues->setSelectedCue(cue);
    cues->primeThePump();
    int before = playersMade;

    // Another cue's rebuild leaves the player alone.
    auto other = cueAt(2, 0, 0);
    other->reallyUpdateSequence();
    EXPECT_EQ(playersMade, before);

    // A count-off default rebuilds the selected cue, then its player.
    const auto oldSequence = cue->sequence();
    ScopedDefault length("countoffWarningStreamerLength", Value(6.0));
    loop.advance(Cue::kUpdateDelay + 0.01);
    EXPECT_NE(cue->sequence(), oldSequence);
    EXPECT_EQ(playersMade, before + 1);
    EXPECT_EQ(cues->player()->sequence(), cue->sequence());

    // Not while playing.
    cues->playFromTimecode(*timecode(0, 59, 10, 0), loop.clock().now());
    before = playersMade;
    NotificationCenter::defaultCenter().postNotification(Cue::kSequenceDidChangeNotification);
    EXPECT_EQ(playersMade, before);
    EXPECT_TRUE(cues->isPlaying());
}

TEST_F(CueControllerTest, ALatencyChangeStops) {
    cues->setSelectedCue(cue);
    cues->playFromTimecode(*timecode(0, 59, 10, 0), loop.clock().now());
    ASSERT_TRUE(cues->isPlaying());
    ScopedDefault latency("latencyCompensation", Value(0.25));
    EXPECT_FALSE(cues->isPlaying());
    EXPECT_FALSE(cues->timecodeBeingReceived());
    EXPECT_TRUE(cues->pumpPrimed());
}

TEST_F(CueControllerTest, GoneControllersHearNothing) {
    cues.reset();
    ScopedDefault length("countoffDownbeatBeepsCount", Value(5));
    ScopedDefault latency("latencyCompensation", Value(0.3));
    NotificationCenter::defaultCenter().postNotification(Cue::kSequenceDidChangeNotification);
    cue->setSyncTimecode(timecode(1, 5, 0, 0));
    SUCCEED();
}

TEST_F(CueControllerTest, FollowsTheFrontDocumentsSelectedCue) {
    DocumentController documents;
    auto first = Document::create();
    auto second = Document::create();
    auto a = cueAt(1, 0, 0);
    auto b = cueAt(1, 1, 0);
    auto c = cueAt(1, 2, 0);
    first->cueController().setContent({a, b});
    second->cueController().setContent({c});
    first->cueController().setSelectedObjects({a});
    documents.addDocument(first);

    CueController following(&documents, loop.clock());
    EXPECT_EQ(following.selectedCue(), a);
    EXPECT_TRUE(following.player());

    first->cueController().setSelectedObjects({b});
    EXPECT_EQ(following.selectedCue(), b);
    first->cueController().setSelectedObjects({});
    EXPECT_EQ(following.selectedCue(), nullptr);

    second->cueController().setSelectedObjects({c});
    documents.addDocument(second);
    documents.setCurrentDocument(second);
    EXPECT_EQ(following.selectedCue(), c);
    // The document left behind no longer steers.
    first->cueController().setSelectedObjects({a});
    EXPECT_EQ(following.selectedCue(), c);

    documents.removeDocument(second);
    documents.removeDocument(first);
    EXPECT_EQ(following.selectedCue(), nullptr);
}

// The sync thread starts the player and reads it under the controller's lock
// while the main thread pauses and switches cues.
TEST_F(CueControllerTest, ThreadedStartsAgainstMainThreadStopsAndSelections) {
    auto other = cueAt(1, 1, 0);
    cues->setSelectedCue(cue);
    std::atomic<bool> done{false};
    std::thread syncThread([&] {
        const auto at = timecode(0, 59, 20, 0);
        while (!done.load()) {
            std::lock_guard lock(cues->lock());
            cues->playFromTimecode(*at, loop.clock().now());
            if (FFMusicPlayer* player = cues->player()) (void)player->currentTime();
            (void)cues->isPlaying();
            (void)cues->selectedCue();
        }
    });
    for (int i = 0; i < 200; ++i) {
        cues->setSelectedCue(i % 2 ? other : cue);
        cues->pauseAtTimecode(*timecode(1, 0, 0, i % 25));
        cues->sequenceDidChange();
        (void)cues->lastReceivedTimecode();
    }
    done = true;
    syncThread.join();
    cues->stop();
    EXPECT_FALSE(cues->isPlaying());
}

}  // namespace
}  // namespace tollvane
