#include "playback/FFMusicPlayer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/ManualHostClock.h"
#include "playback/FFMusicSequence.h"
#include "playback/FFMusicUserEventDestination.h"

namespace tollvane {
namespace {

constexpr uint64_t kStart = 7'000'000'000;
constexpr uint64_t kSecond = 1'000'000'000;

struct Taken {
    std::vector<uint8_t> userEvent;
    MusicSequence* sequence;
    MusicTrack* track;
    double time, start, end;
};

class RecordingDestination : public FFMusicUserEventDestination {
public:
    void takeUserEvent(std::span<const uint8_t> userEvent, MusicSequence* fromSequence, MusicTrack* track,
                       double atTime, double startSliceBeat, double endSliceBeat) override {
        taken.push_back({{userEvent.begin(), userEvent.end()},
                         fromSequence,
                         track,
                         atTime,
                         startSliceBeat,
                         endSliceBeat});
    }
    std::vector<Taken> taken;
};

class FFMusicPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        store->tempoTrack().newExtendedTempoEvent(0.0, 120.0);
        sequence = FFMusicSequence::sequenceWithMusicSequence(store);
        ASSERT_TRUE(sequence);
    }
    void TearDown() override { Log::setSink(std::move(previousSink)); }

    // Moves the clock on and lets the player deliver up to the new time.
    void advance(double seconds) {
        clock.advanceSeconds(seconds);
        player.musicPlayer().deliverUntil(clock.now());
    }

    MusicTrack& newTrack() {
        MusicTrack* track = nullptr;
        EXPECT_EQ(store->newTrack(track), kMusicSequenceNoErr);
        return *track;
    }

    static void addUserEvent(MusicTrack& track, double beats, uint8_t tag) {
        const uint8_t block[6] = {2, 0, 0, 0, tag, 0xee};
        ASSERT_EQ(track.newUserEvent(beats, block), kMusicSequenceNoErr);
    }

    ManualHostClock clock{kStart};
    std::vector<std::string> logged;
    Log::Sink previousSink;
    std::shared_ptr<MusicSequence> store = std::make_shared<MusicSequence>();
    std::shared_ptr<FFMusicSequence> sequence;
    FFMusicPlayer player{clock, MusicPlayer::Delivery::stepped};
};

TEST_F(FFMusicPlayerTest, PlayPauseAndStop) {
    ASSERT_TRUE(player.setSequence(sequence));
    EXPECT_EQ(player.sequence(), sequence);
    EXPECT_TRUE(player.play());
    EXPECT_TRUE(player.isPlaying());
    EXPECT_FALSE(player.isPaused());
    clock.advanceSeconds(1.0);
    EXPECT_DOUBLE_EQ(player.currentTime(), 2.0);
    EXPECT_TRUE(player.play());  // already playing: carries on from where it is
    clock.advanceSeconds(0.5);
    EXPECT_DOUBLE_EQ(player.currentTime(), 3.0);

    EXPECT_TRUE(player.pause());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(player.isPaused());
    clock.advanceSeconds(1.0);
    EXPECT_DOUBLE_EQ(player.currentTime(), 3.0);
    EXPECT_TRUE(player.pause());
    EXPECT_TRUE(player.resume());
    clock.advanceSeconds(0.5);
    EXPECT_DOUBLE_EQ(player.currentTime(), 4.0);

    EXPECT_TRUE(player.stop());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);

    // Stopping a stopped player leaves it at beat 0, wherever it was moved.
    EXPECT_TRUE(player.goToTime(5.0));
    EXPECT_DOUBLE_EQ(player.currentTime(), 5.0);
    EXPECT_TRUE(player.stop());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    EXPECT_TRUE(player.stop());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicPlayerTest, WithoutASequence) {
    EXPECT_FALSE(player.play());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_TRUE(player.preroll());
    EXPECT_TRUE(player.goToTime(2.0));
    EXPECT_DOUBLE_EQ(player.currentTime(), 2.0);
    EXPECT_EQ(player.currentTimeInSeconds(), 0.0);
    EXPECT_TRUE(player.goToTimeInSeconds(3.0));
    EXPECT_EQ(player.currentTime(), 0.0);
    EXPECT_TRUE(player.stop());
    EXPECT_EQ(player.AUGraph(), nullptr);
    player.setAUGraph(&player);
    EXPECT_EQ(player.AUGraph(), nullptr);
    EXPECT_EQ(logged, std::vector<std::string>{"Unable to start music player (Error -21)."});
}

TEST_F(FFMusicPlayerTest, RefusedValuesAreLoggedAndChangeNothing) {
    ASSERT_TRUE(player.setSequence(sequence));
    EXPECT_EQ(player.rate(), 1.0);
    player.setRate(2.0);
    EXPECT_EQ(player.rate(), 2.0);
    player.setRate(0.0);
    player.setRate(-1.0);
    EXPECT_EQ(player.rate(), 2.0);
    EXPECT_FALSE(player.goToTime(std::nan("")));
    EXPECT_EQ(player.hostTimeForBeats(1.0), 0u);
    EXPECT_EQ(player.beatsForHostTime(kStart), 0.0);
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "Unable to set play rate 0.000000 (Error -20).",
                          "Unable to set play rate -1.000000 (Error -20).",
                          "Unable to set music player time (Error -20).",
                          "Unable to get host time for beats (Error -22).",
                          "Unable to get beats for host time (Error -22).",
                      }));
}

TEST_F(FFMusicPlayerTest, SecondsGoThroughTheSequenceAndItsPlaybackRate) {
    ASSERT_TRUE(player.setSequence(sequence));
    sequence->setPlaybackRate(0.5);
    // At playback rate 0.5, 4 beats at 120 bpm are 4 seconds.
    EXPECT_TRUE(player.goToTimeInSeconds(4.0));
    EXPECT_DOUBLE_EQ(player.currentTime(), 4.0);
    EXPECT_DOUBLE_EQ(player.currentTimeInSeconds(), 4.0);

    // Sequence seconds pass with host seconds at play rate 1, twice as fast at 2.
    ASSERT_TRUE(player.play());
    clock.advanceSeconds(2.0);
    EXPECT_DOUBLE_EQ(player.currentTimeInSeconds(), 6.0);
    EXPECT_DOUBLE_EQ(player.currentTime(), 6.0);
    player.setRate(2.0);
    clock.advanceSeconds(1.0);
    EXPECT_DOUBLE_EQ(player.currentTimeInSeconds(), 8.0);

    EXPECT_EQ(player.hostTimeForBeats(10.0), clock.now() + 1 * kSecond);
    EXPECT_DOUBLE_EQ(player.beatsForHostTime(clock.now() + kSecond / 2), 9.0);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicPlayerTest, HandsUserEventsToTheSequencesDestination) {
    RecordingDestination destination;
    sequence->setUserEventDestination(&destination);
    MusicTrack& first = newTrack();
    MusicTrack& second = newTrack();
    addUserEvent(second, 1.0, 'b');
    addUserEvent(first, 1.0, 'a');
    addUserEvent(first, 3.0, 'c');
    ASSERT_TRUE(player.setSequence(sequence));

    ASSERT_TRUE(player.play());
    advance(1.0);  // [0, 2)
    ASSERT_EQ(destination.taken.size(), 2u);
    const Taken& a = destination.taken[0];
    EXPECT_EQ(a.userEvent, (std::vector<uint8_t>{2, 0, 0, 0, 'a', 0xee}));
    EXPECT_EQ(a.sequence, store.get());
    EXPECT_EQ(a.track, &first);
    EXPECT_EQ(a.time, 1.0);
    EXPECT_EQ(a.start, 0.0);
    EXPECT_EQ(a.end, 2.0);
    EXPECT_EQ(destination.taken[1].track, &second);

    advance(1.0);  // [2, 4)
    ASSERT_EQ(destination.taken.size(), 3u);
    EXPECT_EQ(destination.taken[2].userEvent[4], 'c');
    EXPECT_EQ(destination.taken[2].start, 2.0);

    // Back to 2.5: c again, but not a or b.
    ASSERT_TRUE(player.goToTime(2.5));
    advance(1.0);
    ASSERT_EQ(destination.taken.size(), 4u);
    EXPECT_EQ(destination.taken[3].userEvent[4], 'c');
    EXPECT_EQ(destination.taken[3].start, 2.5);
    EXPECT_EQ(destination.taken[3].end, 4.5);

    // Nothing while paused or after a stop.
    ASSERT_TRUE(player.pause());
    EXPECT_EQ(player.musicPlayer().deliverUntil(clock.now() + 10 * kSecond), 0u);
    ASSERT_TRUE(player.stop());
    EXPECT_EQ(player.musicPlayer().deliverUntil(clock.now() + 10 * kSecond), 0u);
    EXPECT_EQ(destination.taken.size(), 4u);
}

TEST_F(FFMusicPlayerTest, ANewSequenceStopsAndRewinds) {
    ASSERT_TRUE(player.setSequence(sequence));
    ASSERT_TRUE(player.play());
    clock.advanceSeconds(1.0);
    auto other = FFMusicSequence::sequenceWithMusicSequence(std::make_shared<MusicSequence>());
    ASSERT_TRUE(player.setSequence(other));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentTime(), 0.0);
    EXPECT_EQ(player.sequence(), other);
    EXPECT_EQ(player.musicPlayer().sequence(), other->musicSequence());
    ASSERT_TRUE(player.setSequence(nullptr));
    EXPECT_EQ(player.sequence(), nullptr);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicPlayerTest, PlaysTheStoreTheSequenceHoldsNow) {
    ASSERT_TRUE(player.setSequence(sequence));
    ASSERT_TRUE(player.goToTime(2.0));
    auto replacement = std::make_shared<MusicSequence>();
    MusicTrack* track = nullptr;
    replacement->newTrack(track);
    addUserEvent(*track, 2.5, 'n');
    sequence->setMusicSequence(replacement);
    RecordingDestination destination;
    sequence->setUserEventDestination(&destination);

    ASSERT_TRUE(player.play());
    EXPECT_EQ(player.musicPlayer().sequence(), replacement);
    EXPECT_DOUBLE_EQ(player.currentTime(), 2.0);
    advance(1.0);
    ASSERT_EQ(destination.taken.size(), 1u);
    EXPECT_EQ(destination.taken[0].sequence, replacement.get());
}

TEST_F(FFMusicPlayerTest, PlayerWithContentsOfFile) {
    EXPECT_EQ(FFMusicPlayer::playerWithContentsOfFile(""), nullptr);
    EXPECT_EQ(FFMusicPlayer::playerWithContentsAtAlias("/nonexistent/tollvane.mid"), nullptr);

    std::string path = (std::filesystem::temp_directory_path() / "tollvane-player-XXXXXX").string();
    int fd = ::mkstemp(path.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        Data bytes = sequence->smfData();
        ASSERT_FALSE(bytes.empty());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::unique_ptr<FFMusicPlayer> loaded = FFMusicPlayer::playerWithContentsOfFile(path);
    std::filesystem::remove(path);
    ASSERT_NE(loaded, nullptr);
    ASSERT_NE(loaded->sequence(), nullptr);
    EXPECT_EQ(loaded->musicPlayer().sequence(), loaded->sequence()->musicSequence());
    EXPECT_FALSE(loaded->isPlaying());
}

}  // namespace
}  // namespace tollvane
