// The sync controller with its real sync thread: passes run concurrently with
// the main thread's starts, stops and rehearsals while another thread reads
// the extrapolated timecode and cue time. Run under TSan in the threads stage.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/Reel.h"
#include "platform/ManualRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/ClickScheduler.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/MoviePlayer.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const std::string kSettingsFolder = usePrivateSettingsFolder("tollvane-sync-thread-tests");

constexpr uint64_t kSecond = 1'000'000'000;
// Host time of timecode zero: every timecode handed in is the host time's own
// timecode, so any extrapolation from a whole anchor gives the host time back.
constexpr uint64_t kBase = 10'000 * kSecond;

std::shared_ptr<EMTimecode> timecodeAtHost(uint64_t hostTime) {
    auto timecode = EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 0, 0, 0, 0);
    timecode->setSecondsFromZero(static_cast<double>(hostTime - kBase) / 1e9);
    return timecode;
}

class CountingClicks : public ClickScheduler {
public:
    void addClickAtHostTime(uint64_t) override { added.fetch_add(1, std::memory_order_relaxed); }
    void removeAllScheduledClicks() override { removals.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<int> added{0};
    std::atomic<int> removals{0};
};

class CountingApplication : public PlaybackApplication {
public:
    void addPunchWithHoles(int, float, float, float, int, double) override { ++punches; }
    void cancelAllPunches() override { ++cancels; }
    void setMTCStatus(const std::string&) override { ++statuses; }
    // Only ever called on the main thread.
    int punches = 0;
    int cancels = 0;
    int statuses = 0;
};

// A sixty-second reel from 0:59:00:00 whose movie follows the timecode
// exactly once started.
class FollowingMovie : public MoviePlayer {
public:
    explicit FollowingMovie(const HostClock& clock) : clock_(clock) {
        reel_ = Reel::create();
        reel_->setPath(std::string(TOLLVANE_TEST_DATA) + "/movies/sixty-seconds.mov");
        reel_->setStartTimecode(
            EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 0, 59, 0, 0));
    }
    bool isPlaying() const override { return playing_.load(); }
    std::recursive_mutex& consumerLock() override { return lock_; }
    double currentTime() const override {
        return static_cast<double>(clock_.now() - kBase) / 1e9 - 3540.0 + 0.1;
    }
    std::shared_ptr<Reel> selectedReel() const override { return reel_; }
    void gotoBeginning() override {}
    void playFromTimecode(const EMTimecode&, uint64_t) override {
        playing_.store(true);
        plays.fetch_add(1);
    }
    void pauseAtTimecode(const EMTimecode&) override { playing_.store(false); }
    void pause() override { playing_.store(false); }
    void setMovieMuted(bool) override {}
    std::atomic<int> plays{0};

private:
    const HostClock& clock_;
    std::shared_ptr<Reel> reel_;
    std::atomic<bool> playing_{false};
    std::recursive_mutex lock_;
};

class SyncThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kSettingsFolder.empty());
        previousLoop_ = RunLoop::setMain(&loop);
        previousClock_ = HostClock::setShared(&loop.clock());
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        application = std::make_shared<CountingApplication>();
        previousApplication_ = PlaybackApplication::install(application);

        // A cue whose sequence starts at 0:58:56:00; the runs below start
        // from 0:59:00:00 onwards, inside it.
        cue = Cue::create();
        cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 1, 0, 0, 0));
        cue->reallyUpdateSequence();
        cues = std::make_unique<CueController>(nullptr, loop.clock());
        cues->setPlayerFactory([this](Cue& selected) {
            auto player = std::make_unique<FFMusicPlayer>(loop.clock(), MusicPlayer::Delivery::stepped);
            player->setSequence(selected.sequence());
            return player;
        });
        cues->setSelectedCue(cue);
        cues->primeThePump();

        sync = std::make_unique<SyncController>(loop.clock());
        sync->setSleeper([this](double) {
            passes.fetch_add(1, std::memory_order_acq_rel);
            std::this_thread::yield();
        });
        sync->setCueController(cues.get());
        sync->setAudioController(&clicks);
        sync->setReelController(&movie);
    }

    void TearDown() override {
        sync.reset();
        cues.reset();
        loop.runPending();
        PlaybackApplication::install(previousApplication_);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    uint64_t now() { return loop.clock().now(); }

    // The timecode of the host time now, remembered as one handed in.
    std::shared_ptr<EMTimecode> handIn() {
        auto timecode = timecodeAtHost(now());
        std::lock_guard lock(handedInMutex);
        handedIn.push_back(timecode->secondsFromZero());
        return timecode;
    }

    bool wasHandedIn(double seconds) {
        std::lock_guard lock(handedInMutex);
        for (double handed : handedIn)
            if (std::fabs(handed - seconds) < 1e-6) return true;
        return false;
    }

    void startFollowing() {
        sync->setCurrentTimecode(*handIn(), true, now());
        loop.advance(0.04);
        sync->setCurrentTimecode(*handIn(), true, now());
    }

    // Lets virtual time pass in steps of 50 ms, each seen by at least one
    // pass of the sync thread, and runs what the thread posted.
    void runFor(double seconds) {
        for (int i = 0; i < static_cast<int>(std::lround(seconds / 0.05)); ++i) {
            loop.advance(0.05);
            waitFor(passes);
        }
        loop.runPending();
    }

    // Yields until the counter has moved on (a bounded wait, no sleep).
    static void waitFor(const std::atomic<long>& counter) {
        const long before = counter.load(std::memory_order_acquire);
        for (long spins = 0; counter.load(std::memory_order_acquire) == before && spins < 10'000'000; ++spins)
            std::this_thread::yield();
    }

    ManualRunLoop loop{kBase + 3540 * kSecond};
    std::shared_ptr<CountingApplication> application;
    CountingClicks clicks;
    FollowingMovie movie{loop.clock()};
    std::shared_ptr<Cue> cue;
    std::unique_ptr<CueController> cues;
    std::unique_ptr<SyncController> sync;
    std::atomic<long> passes{0};
    std::mutex handedInMutex;
    std::vector<double> handedIn;

private:
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    std::shared_ptr<PlaybackApplication> previousApplication_;
};

TEST_F(SyncThreadTest, ReadersSeeWholeAnchorsWhileTheMainThreadStartsAndStops) {
    sync->pauseAtTimecode(*handIn());
    const int removalsBefore = clicks.removals.load();
    const int cancelsBefore = application->cancels;
    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    std::atomic<long> tornReads{0};
    std::thread reader([&] {
        while (!done.load(std::memory_order_acquire)) {
            const uint64_t hostTime = loop.clock().now();
            const double seconds = sync->timecodeAtHostTime(hostTime)->secondsFromZero();
            const double cueTime = sync->cueTimeAtHostTime(hostTime);
            (void)sync->isPlaying();
            (void)sync->rehearsalActive();
            // Running, any whole anchor gives the host time's own timecode;
            // stopped, the last timecode handed in. A mixture of two anchors
            // lands a second or more away from both.
            const double own = static_cast<double>(hostTime - kBase) / 1e9;
            if ((std::fabs(seconds - own) > 0.001 && !wasHandedIn(seconds)) || !std::isfinite(cueTime))
                tornReads.fetch_add(1);
            reads.fetch_add(1, std::memory_order_relaxed);
        }
    });

    waitFor(reads);
    for (int round = 0; round < 60; ++round) {
        if (round % 3 == 2) {
            sync->rehearseFromTimecode(*handIn());
            EXPECT_TRUE(sync->rehearsalActive());
        } else {
            startFollowing();
        }
        EXPECT_TRUE(sync->isPlaying());
        runFor(0.5);
        waitFor(reads);
        if (round % 10 == 5) {
            // A new sync point while the sync thread reads the cue.
            cue->setSyncTimecode(
                EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), 1, 0, round % 4, 0));
        }
        sync->pauseAtTimecode(*handIn());
        EXPECT_FALSE(sync->isPlaying());
        loop.advance(1.0);
    }
    done.store(true, std::memory_order_release);
    reader.join();

    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(tornReads.load(), 0);
    EXPECT_GT(movie.plays.load(), 0);
    EXPECT_GT(clicks.added.load(), 0);
    EXPECT_EQ(clicks.removals.load() - removalsBefore, 60);
    EXPECT_EQ(application->cancels - cancelsBefore, 60);

    // Stopped, the thread ends at its next pass; a running one ends with
    // the controller.
    for (long spins = 0; sync->hasSyncThread() && spins < 100'000'000; ++spins) std::this_thread::yield();
    EXPECT_FALSE(sync->hasSyncThread());
    startFollowing();
    runFor(0.2);
    sync.reset();
}

TEST_F(SyncThreadTest, ReadersNeverWaitForTheSyncMutex) {
    startFollowing();
    const uint64_t started = now();
    std::unique_lock held(sync->syncMutex());
    std::atomic<int> reads{0};
    std::thread reader([&] {
        for (int i = 0; i < 1000; ++i) {
            (void)sync->timecodeAtHostTime(started);
            (void)sync->cueTimeAtHostTime(started);
            (void)sync->currentTimecode();
            (void)sync->isPlaying();
            reads.fetch_add(1);
        }
    });
    reader.join();
    EXPECT_EQ(reads.load(), 1000);
    held.unlock();
    sync->pause();
}

}  // namespace
}  // namespace tollvane
