// The sync controller on virtual time: the chase state machine, extrapolation,
// nudges and rehearsals, and sync passes run by hand against a recording
// movie player, click scheduler and application.

#include "playback/SyncController.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCueEnd.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/ClickScheduler.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/MoviePlayer.h"
#include "playback/PlaybackApplication.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const std::string kSettingsFolder = usePrivateSettingsFolder("tollvane-sync-tests");

constexpr uint64_t kSecond = 1'000'000'000;

std::shared_ptr<EMTimecode> at25(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), text);
}

std::shared_ptr<EMTimecode> plusSeconds(const EMTimecode& timecode, double seconds) {
    auto moved = timecode.copy();
    moved->addSeconds(seconds);
    return moved;
}

class RecordingApplication : public PlaybackApplication {
public:
    struct Punch {
        int holes;
        float red, green, blue;
        int size;
        double afterDelay;
        uint64_t hostTime;
    };

    explicit RecordingApplication(const HostClock& clock) : clock_(clock) {}

    void addPunchWithHoles(int holes, float red, float green, float blue, int size,
                           double afterDelay) override {
        punches.push_back({holes, red, green, blue, size, afterDelay, clock_.now()});
    }
    void cancelAllPunches() override { ++cancelledPunches; }
    void setMTCOfflineForRehearsal(bool offline) override { offlineForRehearsal.push_back(offline); }
    void setMTCStatus(const std::string& status) override { statuses.push_back(status); }

    std::vector<Punch> punches;
    int cancelledPunches = 0;
    std::vector<bool> offlineForRehearsal;
    std::vector<std::string> statuses;

private:
    const HostClock& clock_;
};

class RecordingClicks : public ClickScheduler {
public:
    void addClickAtHostTime(uint64_t hostTime) override { clicks.push_back(hostTime); }
    void removeAllScheduledClicks() override { ++removals; }

    std::vector<uint64_t> clicks;
    int removals = 0;
};

class RecordingMovie : public MoviePlayer {
public:
    struct Play {
        std::string timecode;
        uint64_t hostTime;
    };

    bool isPlaying() const override { return playing; }
    std::recursive_mutex& consumerLock() override { return lock_; }
    double currentTime() const override { return movieTime ? movieTime() : 0.0; }
    std::shared_ptr<Reel> selectedReel() const override { return reel; }
    void gotoBeginning() override { ++gotoBeginnings; }
    void playFromTimecode(const EMTimecode& timecode, uint64_t hostTime) override {
        plays.push_back({timecode.stringRepresentation(), hostTime});
        playing = true;
    }
    void pauseAtTimecode(const EMTimecode& timecode) override {
        pausesAt.push_back(timecode.stringRepresentation());
        playing = false;
    }
    void pause() override {
        ++pauses;
        playing = false;
    }
    void setMovieMuted(bool) override {}

    bool playing = false;
    std::function<double()> movieTime;
    std::shared_ptr<Reel> reel;
    int gotoBeginnings = 0;
    std::vector<Play> plays;
    std::vector<std::string> pausesAt;
    int pauses = 0;

private:
    std::recursive_mutex lock_;
};

class SyncControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kSettingsFolder.empty());
        previousLoop_ = RunLoop::setMain(&loop);
        previousClock_ = HostClock::setShared(&loop.clock());
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        CueDefaults::registerDefaults(defaults);
        for (const char* key :
             {"latencyCompensation", "latencyCompensationAudio", "matchTimecodeRate", "debugSync"})
            savedDefaults_.push_back({key, defaults.objectForKey(key)});
        defaults.setDouble("latencyCompensation", 0.1);
        defaults.setDouble("latencyCompensationAudio", 0.01);
        defaults.setBool("matchTimecodeRate", false);
        defaults.removeObject("debugSync");

        application = std::make_shared<RecordingApplication>(loop.clock());
        previousApplication_ = PlaybackApplication::install(application);
        rehearsalToken_ = NotificationCenter::defaultCenter().addObserver(
            "TLRehearsalFlagDidChangeNotification", [this](const Notification&) { ++rehearsalNotices; });

        sync = std::make_unique<SyncController>(loop.clock());
        sync->setSyncThreadEnabled(false);
        sync->setReelController(&movie);
        sync->setAudioController(&clicks);
    }

    void TearDown() override {
        sync.reset();
        cues.reset();
        cue.reset();
        loop.runPending();
        NotificationCenter::defaultCenter().removeObserver(rehearsalToken_);
        PlaybackApplication::install(previousApplication_);
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        for (const auto& [key, value] : savedDefaults_) defaults.setObject(key, value);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    uint64_t now() { return loop.clock().now(); }

    // Two timecodes a frame apart; time runs from the second, `timecode`,
    // at the host time answered.
    uint64_t startAt(const EMTimecode& timecode) {
        auto before = timecode.copy();
        before->subtractFrames(1);
        sync->setCurrentTimecode(*before, true, now());
        loop.advance(0.04);
        sync->setCurrentTimecode(timecode, true, now());
        return now();
    }

    // A cue synced at 1:00:00:00 (25 fps) at bar 1, 120 bpm: its sequence
    // starts 64 s earlier, at 0:58:56:00, and beat b falls at 3536 + b / 2
    // seconds from zero. The cue player plays it on stepped players on the
    // loop's clock.
    void selectCue() {
        cue = Cue::create();
        cue->setSyncTimecode(at25("1:00:00:00"));
        cue->reallyUpdateSequence();
        cues = std::make_unique<CueController>(nullptr, loop.clock());
        cues->setPlayerFactory([this](Cue& selected) {
            auto player = std::make_unique<FFMusicPlayer>(loop.clock(), MusicPlayer::Delivery::stepped);
            player->setSequence(selected.sequence());
            return player;
        });
        cues->setSelectedCue(cue);
        cues->primeThePump();
        sync->setCueController(cues.get());
    }

    // Passes every 50 ms for `seconds`, running what they post to the main
    // thread after each.
    void runPasses(double seconds) {
        for (int i = 0; i < static_cast<int>(std::lround(seconds / 0.05)); ++i) {
            sync->runSyncPass();
            loop.runPending();
            loop.advance(0.05);
        }
    }

    ManualRunLoop loop{1000 * kSecond};
    std::shared_ptr<RecordingApplication> application;
    RecordingClicks clicks;
    RecordingMovie movie;
    std::shared_ptr<Cue> cue;
    std::unique_ptr<CueController> cues;
    std::unique_ptr<SyncController> sync;
    int rehearsalNotices = 0;

private:
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    std::shared_ptr<PlaybackApplication> previousApplication_;
    std::vector<std::pair<std::string, Value>> savedDefaults_;
    NotificationCenter::ObserverToken rehearsalToken_ = 0;
};

// --- The chase state machine ------------------------------------------------------

TEST_F(SyncControllerTest, StartsOnlyOnTwoTimecodesTwentyFiveToFiftyMillisecondsApart) {
    struct Case {
        double interval;
        bool starts;
    };
    const Case cases[] = {{0.024, false}, {0.025, true},   {0.04, true},
                          {0.05, true},   {0.0501, false}, {0.5, false}};
    auto first = at25("1:00:00:00");
    auto second = at25("1:00:00:01");
    for (const Case& c : cases) {
        // After a silence a single timecode starts nothing.
        loop.advance(10.0);
        sync->setCurrentTimecode(*first, true, now());
        EXPECT_FALSE(sync->isPlaying());
        loop.advanceTicks(static_cast<uint64_t>(std::llround(c.interval * 1e9)));
        sync->setCurrentTimecode(*second, true, now());
        EXPECT_EQ(sync->isPlaying(), c.starts) << c.interval;
        EXPECT_FALSE(sync->rehearsalActive());
        if (c.starts) {
            EXPECT_EQ(application->statuses.back(), "Playing from 1:00:00:01/00@25fps");
            EXPECT_TRUE(sync->hasSyncThread());
        }
        sync->pause();
        EXPECT_FALSE(sync->isPlaying());
    }
    EXPECT_EQ(application->statuses.back(), "Waiting for MTC...");
}

TEST_F(SyncControllerTest, SmallDeviationsKeepTheRunAndTheEleventhLargeOneStopsIt) {
    auto start = at25("1:00:00:00");
    const uint64_t started = startAt(*start);
    // Each timecode arrives 40 ms after the last, `off` seconds behind the
    // extrapolation.
    auto receive = [&](double off) {
        loop.advance(0.04);
        auto received = plusSeconds(*start, static_cast<double>(now() - started) / 1e9 - off);
        sync->setCurrentTimecode(*received, true, now());
        return received;
    };
    for (int i = 0; i < 10; ++i) receive(0.6);
    EXPECT_TRUE(sync->isPlaying());
    // A deviation within the limit resets the count.
    receive(0.4);
    for (int i = 0; i < 10; ++i) receive(0.6);
    EXPECT_TRUE(sync->isPlaying());
    EXPECT_TRUE(movie.pausesAt.empty());

    const auto eleventh = receive(0.6);
    EXPECT_FALSE(sync->isPlaying());
    EXPECT_TRUE(sync->currentTimecode()->isEqual(*eleventh));
    ASSERT_EQ(movie.pausesAt.size(), 1u);
    EXPECT_EQ(movie.pausesAt.front(), eleventh->stringRepresentation());
    EXPECT_EQ(clicks.removals, 1);
    EXPECT_EQ(application->cancelledPunches, 1);
    EXPECT_EQ(application->statuses.back(), "Waiting for MTC...");

    // The next well-spaced pair starts afresh from the new timecode.
    auto restart = at25("1:00:05:00");
    const uint64_t restarted = startAt(*restart);
    EXPECT_TRUE(sync->isPlaying());
    EXPECT_TRUE(sync->timecodeAtHostTime(restarted)->isEqual(*restart));
}

TEST_F(SyncControllerTest, ExtrapolationAddsTwoFramesAtDropFrame) {
    for (int64_t index = 0; index < 8; ++index) {
        const EMTimecodeFramerate rate = EMTimecode::framerateForIndex(index);
        auto timecode = EMTimecode::timecodeWithFramerate(rate, 1, 0, 0, 0);
        sync->rehearseFromTimecode(*timecode);
        const uint64_t anchor = now();
        const int64_t expected = rate.dropFrame ? 2 : 0;
        EXPECT_EQ(sync->timecodeAtHostTime(anchor)->framesFromTimecode(*timecode), expected) << index;
        // A second later, a second's worth of frames further.
        const auto later = sync->timecodeAtHostTime(anchor + kSecond);
        EXPECT_NEAR(later->secondsFromTimecode(*timecode), 1.0 + expected * 1.001 / rate.fps, 1.0 / rate.fps)
            << index;
        sync->pause();
        // Stopped, the stored timecode comes back as it was handed in.
        EXPECT_TRUE(sync->timecodeAtHostTime(anchor + kSecond)->isEqual(*timecode)) << index;
    }
}

TEST_F(SyncControllerTest, NudgeMovesTheStoppedPositionOnly) {
    selectCue();
    auto parked = at25("1:00:10:00");
    sync->pauseAtTimecode(*parked);
    const int pausesBefore = movie.pauses;

    sync->nudgeByFrames(1);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "1:00:10:01");
    EXPECT_EQ(movie.pauses, pausesBefore + 1);
    ASSERT_TRUE(cues->lastReceivedTimecode());
    EXPECT_EQ(cues->lastReceivedTimecode()->stringRepresentation(), "1:00:10:01");
    sync->nudgeByFrames(-2);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "1:00:09:24");
    EXPECT_EQ(cues->lastReceivedTimecode()->stringRepresentation(), "1:00:09:24");

    const uint64_t started = startAt(*parked);
    const size_t statuses = application->statuses.size();
    const int pauses = movie.pauses;
    sync->nudgeByFrames(1);
    EXPECT_TRUE(sync->isPlaying());
    EXPECT_TRUE(sync->timecodeAtHostTime(started)->isEqual(*parked));
    EXPECT_EQ(movie.pauses, pauses);
    EXPECT_TRUE(movie.pausesAt.empty());
    EXPECT_EQ(application->statuses.size(), statuses);
}

TEST_F(SyncControllerTest, RehearsalRunsAtOnceAndAnyStopEndsIt) {
    auto from = at25("1:00:20:00");
    sync->rehearseFromTimecode(*from);
    EXPECT_TRUE(sync->isPlaying());
    EXPECT_TRUE(sync->rehearsalActive());
    EXPECT_EQ(application->offlineForRehearsal, (std::vector<bool>{true}));
    EXPECT_EQ(rehearsalNotices, 1);
    EXPECT_TRUE(sync->hasSyncThread());
    loop.advance(2.0);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "1:00:22:00");

    sync->pause();
    EXPECT_FALSE(sync->isPlaying());
    EXPECT_FALSE(sync->rehearsalActive());
    EXPECT_EQ(application->offlineForRehearsal, (std::vector<bool>{true, false}));
    EXPECT_EQ(rehearsalNotices, 2);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "1:00:20:00");
    // The registered thread ends at its next pass.
    EXPECT_FALSE(sync->runSyncPass());
    EXPECT_FALSE(sync->hasSyncThread());
}

TEST_F(SyncControllerTest, RehearsalWhileFollowingTimecodeStartsFromItsOwnTimecode) {
    startAt(*at25("1:00:00:00"));
    loop.advance(1.0);
    auto from = at25("2:00:00:00");
    sync->rehearseFromTimecode(*from);
    EXPECT_TRUE(sync->rehearsalActive());
    EXPECT_TRUE(sync->currentTimecode()->isEqual(*from));
    loop.advance(1.0);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "2:00:01:00");
    EXPECT_EQ(application->offlineForRehearsal.back(), true);
}

// --- Cue time -----------------------------------------------------------------------

TEST_F(SyncControllerTest, CueTimeFollowsTheTimecodeAndTheCuesSyncPoint) {
    EXPECT_EQ(sync->hostTimeAtPrerollShiftedBeats(130.0), 0u);
    selectCue();
    const uint64_t started = startAt(*at25("0:59:50:00"));
    // 0:59:52:00 is 8 s before the sync point, whose sequence time is 64 s.
    EXPECT_DOUBLE_EQ(sync->cueTimeAtHostTime(started + 2 * kSecond), 56.0);
    EXPECT_EQ(sync->hostTimeAtCueTime(-8.0), started + 2 * kSecond);
    EXPECT_EQ(sync->hostTimeAtPrerollShiftedBeats(124.0), started + 8 * kSecond);

    // A new sync point is seen at once.
    cue->setSyncTimecode(at25("1:00:01:00"));
    EXPECT_DOUBLE_EQ(sync->cueTimeAtHostTime(started + 2 * kSecond), 55.0);
    EXPECT_EQ(sync->hostTimeAtPrerollShiftedBeats(124.0), started + 9 * kSecond);

    // Stopped: at the stored timecode whatever the host time.
    sync->pauseAtTimecode(*at25("1:00:01:00"));
    EXPECT_DOUBLE_EQ(sync->cueTimeAtHostTime(started + 100 * kSecond), 64.0);
    sync->pauseAtPrerollShiftedBeats(130.0);
    EXPECT_EQ(sync->currentTimecode()->stringRepresentation(), "1:00:02:00");
}

// --- Sync passes: the cue --------------------------------------------------------------

TEST_F(SyncControllerTest, TheCuePlayerWaitsBeforeTheCueAndStartsInsideIt) {
    selectCue();
    // 0:58:00:00 lies before the sequence's start (0:58:56:00).
    startAt(*at25("0:58:00:00"));
    sync->runSyncPass();
    EXPECT_FALSE(cues->isPlaying());
    ASSERT_TRUE(cues->player());
    EXPECT_EQ(cues->player()->currentTime(), 0.0);

    sync->pause();
    startAt(*at25("0:59:50:00"));
    sync->runSyncPass();
    EXPECT_TRUE(cues->isPlaying());
    // 54 s into the sequence, and the video latency ahead of it.
    EXPECT_NEAR(cues->player()->currentTimeInSeconds(), 54.1, 1e-6);

    // Past the cue's end (beat 136, 1:00:04:00) nothing starts.
    sync->pause();
    EXPECT_FALSE(cues->isPlaying());
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockPrerollShiftedBeats(136.0);
    cue->setCueEndEvent(end);
    cue->reallyUpdateSequence();
    EXPECT_DOUBLE_EQ(cue->lengthInSeconds(), 68.0);
    startAt(*at25("1:00:04:01"));
    sync->runSyncPass();
    EXPECT_FALSE(cues->isPlaying());
    sync->pause();
    startAt(*at25("1:00:03:24"));
    sync->runSyncPass();
    EXPECT_TRUE(cues->isPlaying());
}

TEST_F(SyncControllerTest, AudioClicksGoOutAtTheirHostTimesLessTheAudioLatency) {
    selectCue();
    const uint64_t started = startAt(*at25("0:59:50:00"));
    runPasses(16.0);
    // The four warning clicks before bar 1 (beat 128) and the beats after it,
    // each handed over once: beat b sounds at 3536 + b / 2 s from zero, the
    // run started at 3590 s and has reached 3606 s (beat 140).
    ASSERT_GE(clicks.clicks.size(), 17u);
    for (size_t i = 0; i < clicks.clicks.size(); ++i) {
        const double beat = 124.0 + static_cast<double>(i);
        const double fromStart = 3536.0 + beat / 2.0 - 3590.0;
        const uint64_t expected = started + static_cast<uint64_t>(fromStart * 1e9) - 10'000'000;
        EXPECT_EQ(clicks.clicks[i], expected) << "beat " << beat;
    }
    // Each went over well ahead of its time.
    EXPECT_LT(clicks.clicks.back(), now() + kSecond);
}

TEST_F(SyncControllerTest, AClickDueBeforeTheNextPassGoesOutInThePassThatStartsThePlayer) {
    selectCue();
    // Beat 124 sounds at 0:59:58:00, 40 ms after the start.
    const uint64_t started = startAt(*at25("0:59:57:24"));
    sync->runSyncPass();
    ASSERT_TRUE(cues->isPlaying());
    ASSERT_EQ(clicks.clicks.size(), 1u);
    EXPECT_NEAR(static_cast<double>(clicks.clicks[0] - started), 40e6 - 10e6, 2.0);
}

TEST_F(SyncControllerTest, ALastAddedClickIsForgottenWhenNoClickIsDue) {
    selectCue();
    startAt(*at25("0:59:50:00"));
    runPasses(0.5);
    ASSERT_EQ(clicks.clicks.size(), 1u);
    const uint64_t first = clicks.clicks.front();
    runPasses(0.5);
    EXPECT_EQ(clicks.clicks.size(), 1u);

    // Everything muted: no click is due, so the same click goes over again
    // once the clicks are back.
    cue->setClickMuteSetting(2);
    runPasses(0.1);
    EXPECT_EQ(clicks.clicks.size(), 1u);
    cue->setClickMuteSetting(0);
    runPasses(0.1);
    ASSERT_EQ(clicks.clicks.size(), 2u);
    EXPECT_EQ(clicks.clicks[1], first);
}

TEST_F(SyncControllerTest, ASixFrameVisualClickIsPunchedAFifthOfASecondEarly) {
    selectCue();
    auto change = CueEventClickChange::clickChangeEventWithCue(cue, 0.0);
    change->setChangePunches(true);
    change->setBarPunchEnabled(true);
    change->setBarPunchHoles(6);
    change->setBarPunchColor(Color::calibrated(1.0, 0.0, 0.0));
    cue->addEvent(change);
    cue->reallyUpdateSequence();
    cues->primeThePump();

    const uint64_t started = startAt(*at25("0:59:56:00"));
    runPasses(6.0);
    std::vector<RecordingApplication::Punch> barPunches;
    for (const auto& candidate : application->punches)
        if (candidate.holes == 6) barPunches.push_back(candidate);
    // Bars 1 and 2, at 3600 and 3602 s; the run has reached 3602 s.
    ASSERT_EQ(barPunches.size(), 2u);
    for (size_t bar = 0; bar < barPunches.size(); ++bar) {
        const auto& punch = barPunches[bar];
        EXPECT_EQ(punch.red, 1.0f);
        EXPECT_EQ(punch.green, 0.0f);
        EXPECT_EQ(punch.size, 1);
        // The pass ran at 3596 s plus its host time since the start; the
        // punch shows the video latency (0.1 s) and its own six frames early.
        const double passSeconds = 3596.0 + static_cast<double>(punch.hostTime - started) / 1e9;
        const double barSeconds = 3600.0 + 2.0 * static_cast<double>(bar);
        EXPECT_NEAR(punch.afterDelay, barSeconds - passSeconds - 0.1 - 0.2, 1e-9) << "bar " << bar + 1;
        EXPECT_GT(punch.afterDelay, 0.0);
    }
}

// --- Sync passes: the movie -------------------------------------------------------------

class SyncMovieTest : public SyncControllerTest {
protected:
    static std::string sixtySeconds() {
        return std::string(TOLLVANE_TEST_DATA) + "/movies/sixty-seconds.mov";
    }

    std::shared_ptr<Reel> reelAt(const char* start, const std::string& path = {}) {
        auto reel = Reel::create();
        if (!path.empty()) reel->setPath(path);
        reel->setStartTimecode(at25(start));
        return reel;
    }

    // The movie plays `ahead` seconds ahead of the timecode (with the video
    // latency on top, as a movie player shows it).
    void playMovieAhead(double ahead, uint64_t started, double startOffset) {
        movie.reel = reelAt("1:00:00:00", sixtySeconds());
        movie.playing = true;
        movie.movieTime = [this, ahead, started, startOffset] {
            return startOffset + static_cast<double>(now() - started) / 1e9 + ahead + 0.1;
        };
    }
};

TEST_F(SyncMovieTest, BeforeTheReelTheMovieRewindsAndTheReelIsLookedUp) {
    const std::string sixty = sixtySeconds();
    auto document = Document::create();
    document->setReelSelectionMode(1);
    auto earlier = reelAt("0:58:00:00", sixty);
    auto later = reelAt("1:00:00:00", sixty);
    document->reelController().setContent({earlier, later});
    document->reelController().setSelectedObjects({later});
    DocumentController documents;
    documents.addDocument(document);
    sync->setDocumentController(&documents);
    movie.reel = later;

    startAt(*at25("0:58:30:00"));
    sync->runSyncPass();
    EXPECT_EQ(movie.gotoBeginnings, 1);
    EXPECT_TRUE(movie.plays.empty());
    loop.runPending();
    EXPECT_EQ(document->reelController().selectedReel(), earlier);

    // The movie player shows the new reel: the next pass starts it.
    movie.reel = earlier;
    const uint64_t pass = now();
    sync->runSyncPass();
    ASSERT_EQ(movie.plays.size(), 1u);
    EXPECT_EQ(movie.plays.front().timecode, "0:58:30:00");
    EXPECT_EQ(movie.plays.front().hostTime, pass);
    sync.reset();
    documents.removeDocument(document);
}

TEST_F(SyncMovieTest, WithoutAReelOnlyTheReelIsLookedUp) {
    auto document = Document::create();
    document->setReelSelectionMode(1);
    auto reel = reelAt("1:00:00:00", sixtySeconds());
    document->reelController().setContent({reel});
    DocumentController documents;
    documents.addDocument(document);
    sync->setDocumentController(&documents);

    startAt(*at25("1:00:10:00"));
    sync->runSyncPass();
    sync->runSyncPass();
    EXPECT_EQ(movie.gotoBeginnings, 0);
    EXPECT_TRUE(movie.plays.empty());
    loop.runPending();
    EXPECT_EQ(document->reelController().selectedReel(), reel);
    sync.reset();
    documents.removeDocument(document);
}

TEST_F(SyncMovieTest, DriftIsOnlyPublishedWithoutMatchTimecodeRate) {
    const uint64_t started = startAt(*at25("1:00:10:00"));
    playMovieAhead(0.3, started, 10.0);
    runPasses(3.0);
    EXPECT_TRUE(movie.playing);
    EXPECT_TRUE(movie.pausesAt.empty());
    EXPECT_NEAR(sync->videoSyncTime(), 0.3, 0.001);
}

TEST_F(SyncMovieTest, WithMatchTimecodeRateADriftingMovieIsPausedAndRestarted) {
    UserDefaults::standardUserDefaults().setBool("matchTimecodeRate", true);
    const uint64_t started = startAt(*at25("1:00:10:00"));
    playMovieAhead(0.3, started, 10.0);
    // The average after n passes is 0.3 (1 - 0.8^n): past 0.2 on the fifth.
    for (int i = 0; i < 4; ++i) {
        sync->runSyncPass();
        loop.runPending();
    }
    EXPECT_TRUE(movie.pausesAt.empty());
    EXPECT_GT(sync->videoSyncTime(), 0.17);
    sync->runSyncPass();
    loop.runPending();
    ASSERT_EQ(movie.pausesAt.size(), 1u);
    EXPECT_EQ(movie.pausesAt.front(), "1:00:10:00");
    EXPECT_EQ(sync->videoSyncTime(), 0.0);

    loop.advance(0.05);
    sync->runSyncPass();
    ASSERT_EQ(movie.plays.size(), 1u);
    EXPECT_EQ(movie.plays.front().hostTime, now());
}

TEST_F(SyncMovieTest, ThePlayingCueDoesNotCountAsMovieDrift) {
    selectCue();
    const uint64_t started = startAt(*at25("0:59:50:00"));
    movie.reel = reelAt("0:59:00:00");
    movie.playing = true;
    movie.movieTime = [this, started] { return 50.0 + static_cast<double>(now() - started) / 1e9 + 0.1; };
    runPasses(2.0);
    EXPECT_TRUE(cues->isPlaying());
    EXPECT_NEAR(sync->videoSyncTime(), 0.0, 1e-9);
}

// --- Latency values ------------------------------------------------------------------------

TEST_F(SyncControllerTest, LatencyValuesFollowTheirDefaults) {
    EXPECT_DOUBLE_EQ(sync->videoLatencyCompensation(), 0.1);
    EXPECT_DOUBLE_EQ(sync->audioLatencyCompensation(), 0.01);
    UserDefaults::standardUserDefaults().setDouble("latencyCompensation", 0.25);
    UserDefaults::standardUserDefaults().setDouble("latencyCompensationAudio", 0.02);
    EXPECT_DOUBLE_EQ(sync->videoLatencyCompensation(), 0.25);
    EXPECT_DOUBLE_EQ(sync->audioLatencyCompensation(), 0.02);
}

}  // namespace
}  // namespace tollvane
