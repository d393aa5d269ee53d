#include "playback/sequence/MusicPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ManualHostClock.h"
#include "platform/SystemHostClock.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {
namespace {

constexpr uint64_t kStart = 5'000'000'000;  // host time at which the tests start playing
constexpr uint64_t kSecond = 1'000'000'000;

// Adds a user event whose one data byte is `tag`.
void addUserEvent(MusicTrack& track, double beats, char tag) {
    const uint8_t block[5] = {1, 0, 0, 0, static_cast<uint8_t>(tag)};
    ASSERT_EQ(track.newUserEvent(beats, block), kMusicSequenceNoErr);
}

struct Delivery {
    const MusicTrack* track;
    double time;
    char tag;
    double startSlice;
    double endSlice;
};

class MusicPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sequence->setUserCallback([this](MusicSequence&, MusicTrack& track, double time,
                                         std::span<const uint8_t> data, double start, double end) {
            ASSERT_EQ(data.size(), 5u);
            delivered.push_back({&track, time, static_cast<char>(data[4]), start, end});
            if (onDelivery) onDelivery();
        });
        ASSERT_EQ(player.setSequence(sequence), kMusicPlayerNoErr);
    }

    MusicTrack& newTrack() {
        MusicTrack* track = nullptr;
        EXPECT_EQ(sequence->newTrack(track), kMusicSequenceNoErr);
        return *track;
    }

    // Moves the clock on and delivers up to the new time.
    size_t advance(double seconds) {
        clock.advanceSeconds(seconds);
        return player.deliverUntil(clock.now());
    }

    std::string tags() const {
        std::string text;
        for (const Delivery& d : delivered) text += d.tag;
        return text;
    }

    double now() const {
        double beats = 0.0;
        EXPECT_EQ(player.getTime(beats), kMusicPlayerNoErr);
        return beats;
    }

    ManualHostClock clock{kStart};
    std::shared_ptr<MusicSequence> sequence = std::make_shared<MusicSequence>();
    std::vector<Delivery> delivered;
    std::function<void()> onDelivery;
    MusicPlayer player{clock, MusicPlayer::Delivery::stepped};
};

TEST_F(MusicPlayerTest, DeliversAcrossTracksInTimeThenTrackThenInsertionOrder) {
    MusicTrack& first = newTrack();
    MusicTrack& second = newTrack();
    addUserEvent(second, 2.0, 'e');
    addUserEvent(first, 2.0, 'b');
    addUserEvent(second, 0.5, 'a');
    addUserEvent(first, 2.0, 'c');
    addUserEvent(first, 1.0, 'x');
    addUserEvent(second, 3.0, 'f');
    first.newExtendedTempoEvent(1.5, 120.0);  // not a user event: never delivered

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    EXPECT_EQ(advance(1.25), 5u);  // 120 bpm: beat 2.5
    EXPECT_EQ(tags(), "axbce");
    ASSERT_EQ(delivered.size(), 5u);
    EXPECT_EQ(delivered[0].track, &second);
    EXPECT_EQ(delivered[2].track, &first);
    EXPECT_EQ(delivered[4].track, &second);
    for (const Delivery& d : delivered) {
        EXPECT_DOUBLE_EQ(d.startSlice, 0.0);
        EXPECT_DOUBLE_EQ(d.endSlice, 2.5);
    }
    EXPECT_DOUBLE_EQ(delivered[1].time, 1.0);

    EXPECT_EQ(advance(0.5), 1u);
    EXPECT_EQ(tags(), "axbcef");
    EXPECT_DOUBLE_EQ(delivered.back().startSlice, 2.5);
    EXPECT_DOUBLE_EQ(delivered.back().endSlice, 3.5);
}

TEST_F(MusicPlayerTest, EventsOnSliceBoundariesAreDeliveredOnceByTheSliceStartingThere) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 0.0, 's');  // exactly at the start position
    addUserEvent(track, 2.0, 'b');
    addUserEvent(track, 4.0, 'c');

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    EXPECT_EQ(advance(1.0), 1u);  // [0, 2)
    EXPECT_EQ(tags(), "s");
    EXPECT_EQ(advance(0.0), 0u);                 // an empty slice
    EXPECT_EQ(player.deliverUntil(kStart), 0u);  // back in time: nothing again
    EXPECT_EQ(advance(1.0), 1u);                 // [2, 4): c lies on the end
    EXPECT_EQ(tags(), "sb");
    EXPECT_DOUBLE_EQ(delivered[1].startSlice, 2.0);
    EXPECT_EQ(advance(0.5), 1u);  // [4, 5): c once
    EXPECT_EQ(tags(), "sbc");
    EXPECT_DOUBLE_EQ(delivered[2].startSlice, 4.0);
}

TEST_F(MusicPlayerTest, SlicesFollowTheHostTimesAsked) {
    MusicTrack& track = newTrack();
    for (int beat = 0; beat < 8; ++beat) addUserEvent(track, beat, static_cast<char>('0' + beat));

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    struct Step {
        double seconds;
        std::string tagsAfter;
        double start, end;
    };
    const Step steps[] = {
        {0.5, "0", 0.0, 1.0},    {0.5, "01", 1.0, 2.0},    {0.25, "012", 2.0, 2.5},
        {0.25, "012", 2.5, 3.0}, {1.0, "01234", 3.0, 5.0}, {10.0, "01234567", 5.0, 25.0},
    };
    for (const Step& step : steps) {
        size_t before = delivered.size();
        advance(step.seconds);
        EXPECT_EQ(tags(), step.tagsAfter) << step.end;
        for (size_t i = before; i < delivered.size(); ++i) {
            EXPECT_DOUBLE_EQ(delivered[i].startSlice, step.start);
            EXPECT_DOUBLE_EQ(delivered[i].endSlice, step.end);
        }
    }
    EXPECT_DOUBLE_EQ(now(), 25.0);
}

TEST_F(MusicPlayerTest, GoingBackReplaysAndGoingForwardSkips) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 1.0, 'a');
    addUserEvent(track, 2.0, 'b');
    addUserEvent(track, 3.0, 'c');
    addUserEvent(track, 6.0, 'd');

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    advance(2.0);  // [0, 4)
    EXPECT_EQ(tags(), "abc");

    ASSERT_EQ(player.setTime(2.0), kMusicPlayerNoErr);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_DOUBLE_EQ(now(), 2.0);
    advance(1.0);  // [2, 4): b and c again
    EXPECT_EQ(tags(), "abcbc");
    EXPECT_DOUBLE_EQ(delivered[3].startSlice, 2.0);
    EXPECT_DOUBLE_EQ(delivered[3].endSlice, 4.0);

    ASSERT_EQ(player.setTime(5.5), kMusicPlayerNoErr);
    advance(1.0);  // [5.5, 7.5)
    EXPECT_EQ(tags(), "abcbcd");

    // Moving while stopped takes effect at the next start.
    ASSERT_EQ(player.stop(), kMusicPlayerNoErr);
    ASSERT_EQ(player.setTime(0.5), kMusicPlayerNoErr);
    EXPECT_EQ(advance(5.0), 0u);
    EXPECT_DOUBLE_EQ(now(), 0.5);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    advance(0.5);  // [0.5, 1.5)
    EXPECT_EQ(tags(), "abcbcda");
}

TEST_F(MusicPlayerTest, PlayRateScalesTheClockFromTheMomentItIsSet) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 3.0, 'a');

    ASSERT_EQ(player.setPlayRateScalar(2.0), kMusicPlayerNoErr);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    advance(0.5);
    EXPECT_DOUBLE_EQ(now(), 2.0);
    uint64_t hostTime = 0;
    ASSERT_EQ(player.getHostTimeForBeats(3.0, hostTime), kMusicPlayerNoErr);
    EXPECT_EQ(hostTime, kStart + kSecond * 3 / 4);

    ASSERT_EQ(player.setPlayRateScalar(1.0), kMusicPlayerNoErr);
    EXPECT_DOUBLE_EQ(now(), 2.0);
    advance(0.5);  // [2, 3): the event at 3 is the next slice's
    EXPECT_EQ(tags(), "");
    advance(0.5);
    EXPECT_EQ(tags(), "a");
    EXPECT_DOUBLE_EQ(delivered[0].startSlice, 3.0);
    EXPECT_DOUBLE_EQ(delivered[0].endSlice, 4.0);

    double rate = 0.0;
    ASSERT_EQ(player.getPlayRateScalar(rate), kMusicPlayerNoErr);
    EXPECT_EQ(rate, 1.0);
}

TEST_F(MusicPlayerTest, SequencePlaybackRateAndTempoChangesShapeTheClock) {
    sequence->tempoTrack().newExtendedTempoEvent(0.0, 120.0);
    sequence->tempoTrack().newExtendedTempoEvent(2.0, 60.0);
    ASSERT_EQ(sequence->setPlaybackRate(0.5), kMusicSequenceNoErr);
    MusicTrack& track = newTrack();
    addUserEvent(track, 3.0, 'a');

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    // At rate 0.5 the two beats at 120 bpm last 2 s, the next at 60 bpm 2 s.
    struct Case {
        double beats;
        uint64_t hostTime;
    };
    const Case cases[] = {{0.0, kStart},
                          {1.0, kStart + kSecond},
                          {2.0, kStart + 2 * kSecond},
                          {3.0, kStart + 4 * kSecond},
                          {2.5, kStart + 3 * kSecond}};
    for (const Case& c : cases) {
        uint64_t hostTime = 0;
        ASSERT_EQ(player.getHostTimeForBeats(c.beats, hostTime), kMusicPlayerNoErr);
        EXPECT_EQ(hostTime, c.hostTime) << c.beats;
        double beats = -1.0;
        ASSERT_EQ(player.getBeatsForHostTime(c.hostTime, beats), kMusicPlayerNoErr);
        EXPECT_NEAR(beats, c.beats, 1e-12);
    }
    uint64_t due = 0;
    ASSERT_TRUE(player.nextEventHostTime(due));
    EXPECT_EQ(due, kStart + 4 * kSecond);

    advance(3.999);
    EXPECT_EQ(tags(), "");
    advance(0.002);
    EXPECT_EQ(tags(), "a");
    EXPECT_FALSE(player.nextEventHostTime(due));
}

TEST_F(MusicPlayerTest, StopKeepsThePositionAndDeliversNothingUntilStarted) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 1.0, 'a');
    addUserEvent(track, 3.0, 'b');

    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);  // already playing: the anchor stays
    clock.advanceSeconds(1.0);
    ASSERT_EQ(player.stop(), kMusicPlayerNoErr);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(now(), 2.0);
    EXPECT_EQ(player.deliverUntil(clock.now()), 0u);
    ASSERT_EQ(player.stop(), kMusicPlayerNoErr);
    EXPECT_DOUBLE_EQ(now(), 2.0);

    // Resuming starts the slices at the stop position: what was passed while
    // nobody delivered is not delivered late.
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    advance(1.0);
    EXPECT_EQ(tags(), "b");
    EXPECT_DOUBLE_EQ(delivered[0].startSlice, 2.0);
}

TEST_F(MusicPlayerTest, RefusesWhatItCannotDo) {
    MusicPlayer empty(clock, MusicPlayer::Delivery::stepped);
    EXPECT_EQ(empty.start(), kMusicPlayerError_NoSequence);
    EXPECT_EQ(empty.preroll(), kMusicPlayerError_NoSequence);
    EXPECT_FALSE(empty.isPlaying());
    EXPECT_EQ(empty.deliverUntil(kStart + kSecond), 0u);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(player.setTime(nan), kMusicPlayerError_InvalidArgument);
    EXPECT_EQ(player.setTime(inf), kMusicPlayerError_InvalidArgument);
    for (double rate : {0.0, -1.0, nan, inf}) {
        EXPECT_EQ(player.setPlayRateScalar(rate), kMusicPlayerError_InvalidArgument) << rate;
    }
    double rate = 0.0;
    player.getPlayRateScalar(rate);
    EXPECT_EQ(rate, 1.0);

    uint64_t hostTime = 0;
    double beats = 0.0;
    EXPECT_EQ(player.getHostTimeForBeats(1.0, hostTime), kMusicPlayerError_NotPlaying);
    EXPECT_EQ(player.getBeatsForHostTime(kStart, beats), kMusicPlayerError_NotPlaying);
    EXPECT_EQ(player.preroll(), kMusicPlayerNoErr);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    EXPECT_EQ(player.getHostTimeForBeats(nan, hostTime), kMusicPlayerError_InvalidArgument);
    // Far beyond the clock's range the host time saturates instead of wrapping.
    EXPECT_EQ(player.getHostTimeForBeats(1e300, hostTime), kMusicPlayerNoErr);
    EXPECT_EQ(hostTime, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(player.getHostTimeForBeats(-1e12, hostTime), kMusicPlayerNoErr);
    EXPECT_EQ(hostTime, 0u);
}

TEST_F(MusicPlayerTest, ANewSequenceStopsAndRewinds) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 0.5, 'a');
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    clock.advanceSeconds(1.0);

    auto other = std::make_shared<MusicSequence>();
    ASSERT_EQ(player.setSequence(other), kMusicPlayerNoErr);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(now(), 0.0);
    EXPECT_EQ(player.sequence(), other);
    EXPECT_EQ(player.deliverUntil(clock.now()), 0u);
    ASSERT_EQ(player.setSequence(nullptr), kMusicPlayerNoErr);
    EXPECT_EQ(player.start(), kMusicPlayerError_NoSequence);
}

TEST_F(MusicPlayerTest, TheCallbackMayStopOrMoveThePlayer) {
    MusicTrack& track = newTrack();
    addUserEvent(track, 1.0, 'a');
    addUserEvent(track, 2.0, 'b');
    addUserEvent(track, 3.0, 'c');

    // A stop from inside the callback ends the slice at once.
    onDelivery = [this] { player.stop(); };
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    EXPECT_EQ(advance(2.0), 1u);
    EXPECT_EQ(tags(), "a");
    EXPECT_FALSE(player.isPlaying());

    // A move back from inside the callback: the rest of the slice is dropped
    // and playing goes on from the new position.
    onDelivery = [this] {
        if (delivered.size() == 2) {
            player.setTime(1.5);
            EXPECT_EQ(player.deliverUntil(clock.now() + kSecond), 0u);  // not re-entered
        }
    };
    ASSERT_EQ(player.setTime(0.0), kMusicPlayerNoErr);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    advance(2.0);  // [0, 4): a, then the move drops b and c
    EXPECT_EQ(tags(), "aa");
    advance(1.0);  // [1.5, 3.5)
    EXPECT_EQ(tags(), "aabc");
}

TEST_F(MusicPlayerTest, TheCallbackMayDestroyASteppedPlayer) {
    auto own = std::make_unique<MusicPlayer>(clock, MusicPlayer::Delivery::stepped);
    MusicTrack& track = newTrack();
    addUserEvent(track, 0.5, 'a');
    addUserEvent(track, 0.6, 'b');
    onDelivery = [&own] { own.reset(); };
    ASSERT_EQ(own->setSequence(sequence), kMusicPlayerNoErr);
    ASSERT_EQ(own->start(), kMusicPlayerNoErr);
    clock.advanceSeconds(1.0);
    EXPECT_EQ(own->deliverUntil(clock.now()), 1u);
    EXPECT_EQ(own, nullptr);
    EXPECT_EQ(tags(), "a");
}

// The real thread on the real clock. These start threads and are run under
// TSan; they wait for events, never for time.
class MusicPlayerThreadTest : public ::testing::Test {
protected:
    // `count` user events, one every 2 ms from beat 0.01 at 600 bpm (0.1 s a beat).
    std::shared_ptr<MusicSequence> makeSequence(int count) {
        auto sequence = std::make_shared<MusicSequence>();
        sequence->tempoTrack().newExtendedTempoEvent(0.0, 600.0);
        MusicTrack* track = nullptr;
        sequence->newTrack(track);
        for (int i = 0; i < count; ++i) {
            const uint8_t block[5] = {1, 0, 0, 0, static_cast<uint8_t>(i)};
            track->newUserEvent(0.01 + 0.02 * i, block);
        }
        return sequence;
    }

    void waitForCount(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return static_cast<int>(received.size()) >= count; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> received;
};

TEST_F(MusicPlayerThreadTest, DeliversEveryEventInOrderOnItsThread) {
    auto sequence = makeSequence(20);
    std::atomic<bool> onOtherThread{true};
    const auto testThread = std::this_thread::get_id();
    sequence->setUserCallback(
        [&](MusicSequence&, MusicTrack&, double, std::span<const uint8_t> data, double, double) {
            if (std::this_thread::get_id() == testThread) onOtherThread = false;
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(data[4]);
            changed.notify_all();
        });
    MusicPlayer player(SystemHostClock::instance());
    ASSERT_EQ(player.setSequence(sequence), kMusicPlayerNoErr);
    ASSERT_EQ(player.start(), kMusicPlayerNoErr);
    waitForCount(20);
    ASSERT_EQ(player.stop(), kMusicPlayerNoErr);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(received.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(received[i], i);
    EXPECT_TRUE(onOtherThread);
}

TEST_F(MusicPlayerThreadTest, NothingIsDeliveredOnceStopOrTheDestructorHasReturned) {
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroy" : "stop");
        auto sequence = makeSequence(500);  // one second of events
        std::atomic<int> count{0};
        std::atomic<bool> stopping{false};
        std::atomic<bool> inCallback{false};
        sequence->setUserCallback(
            [&](MusicSequence&, MusicTrack&, double, std::span<const uint8_t>, double, double) {
                inCallback = true;
                int n = ++count;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    changed.notify_all();
                }
                // Hold the fifth delivery until the stop has begun, so that the
                // stop meets a delivery in progress.
                if (n == 5) {
                    while (!stopping) std::this_thread::yield();
                }
                inCallback = false;
            });
        auto player = std::make_unique<MusicPlayer>(SystemHostClock::instance());
        ASSERT_EQ(player->setSequence(sequence), kMusicPlayerNoErr);
        ASSERT_EQ(player->start(), kMusicPlayerNoErr);
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return count >= 5; });
        }
        stopping = true;
        if (destroy) {
            player.reset();
        } else {
            ASSERT_EQ(player->stop(), kMusicPlayerNoErr);
        }
        EXPECT_FALSE(inCallback);
        const int atReturn = count;

        // Let another player deliver 20 events (40 ms of events 2 ms apart):
        // the first one would have delivered as many meanwhile.
        received.clear();
        auto witness = makeSequence(20);
        witness->setUserCallback(
            [&](MusicSequence&, MusicTrack&, double, std::span<const uint8_t> data, double, double) {
                std::lock_guard<std::mutex> lock(mutex);
                received.push_back(data[4]);
                changed.notify_all();
            });
        MusicPlayer next(SystemHostClock::instance());
        ASSERT_EQ(next.setSequence(witness), kMusicPlayerNoErr);
        ASSERT_EQ(next.start(), kMusicPlayerNoErr);
        waitForCount(20);
        EXPECT_EQ(count, atReturn);
    }
}

TEST_F(MusicPlayerThreadTest, DestroyingThePlayerFromItsOwnCallbackIsSafe) {
    auto sequence = makeSequence(10);
    auto player = std::make_unique<MusicPlayer>(SystemHostClock::instance());
    std::atomic<int> calls{0};
    sequence->setUserCallback(
        [&](MusicSequence&, MusicTrack&, double, std::span<const uint8_t>, double, double) {
            ++calls;
            player.reset();
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(0);
            changed.notify_all();
        });
    ASSERT_EQ(player->setSequence(sequence), kMusicPlayerNoErr);
    ASSERT_EQ(player->start(), kMusicPlayerNoErr);
    waitForCount(1);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tollvane
