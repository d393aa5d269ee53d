#pragma once

// Plays an FFMusicSequence: a MusicPlayer (owned) on the sequence's store,
// and the sequence itself (retained). While it plays, the player's thread
// hands each user event it passes to the sequence's user-event destination.
// Failures of the player are logged with their status and answered with NO or
// a neutral value.
//
// Threads: every member may be called from any thread (the main thread starts
// and stops, the sync thread reads the time and moves the player); none is
// real-time safe. stop(), pause() and the destructor return only after a
// user event being delivered on the player's thread has been taken, and no
// user event is delivered after they return; a destination must therefore not
// wait for the thread that stops or destroys its player.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/HostClock.h"
#include "playback/sequence/MusicPlayer.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {

class FFMusicSequence;

class FFMusicPlayer {
public:
    // A player without a sequence. With Delivery::stepped there is no thread:
    // the owner delivers through musicPlayer().deliverUntil() (tests).
    explicit FFMusicPlayer(const HostClock& clock = HostClock::shared(),
                           MusicPlayer::Delivery delivery = MusicPlayer::Delivery::ownThread);
    // Stops playing and releases the sequence.
    ~FFMusicPlayer();
    FFMusicPlayer(const FFMusicPlayer&) = delete;
    FFMusicPlayer& operator=(const FFMusicPlayer&) = delete;

    // A player on the sequence of a file (an alias by its full path); null
    // when the file does not load.
    static std::unique_ptr<FFMusicPlayer> playerWithContentsOfFile(const std::string& path);
    static std::unique_ptr<FFMusicPlayer> playerWithContentsAtAlias(const std::string& path);

    std::shared_ptr<FFMusicSequence> sequence() const;
    // Stops, then plays the given sequence from beat 0 (null: none).
    bool setSequence(std::shared_ptr<FFMusicSequence> sequence);

    // YES at once when already playing.
    bool play();
    bool resume() { return play(); }
    // Stops where it is; YES also when it was not playing.
    bool pause();
    // Pauses, then goes to beat 0.
    bool stop();
    // Moves to a beat and prerolls.
    bool goToTime(double beats);
    // YES without a sequence.
    bool preroll();

    // The position in beats, and in seconds through the sequence's
    // conversions (so its playback rate applies).
    double currentTime() const;
    double currentTimeInSeconds() const;
    bool goToTimeInSeconds(double seconds);

    // The play-rate scalar (2 plays twice as fast).
    double rate() const;
    void setRate(double rate);

    bool isPlaying() const;
    bool isPaused() const { return false; }

    // Host time <-> beats on the running clock; 0 (after a log line) while
    // not playing.
    uint64_t hostTimeForBeats(double beats) const;
    double beatsForHostTime(uint64_t hostTime) const;

    // The audio-unit graph of the sequence (null without one).
    AUGraphHandle AUGraph() const;
    void setAUGraph(AUGraphHandle graph);

    MusicPlayer& musicPlayer() { return player_; }

private:
    // Hands the player the sequence's current store, which the sequence may
    // have replaced since, keeping the position.
    void followStore();

    mutable std::mutex sequenceMutex_;  // guards sequence_ only; never held while calling out
    std::shared_ptr<FFMusicSequence> sequence_;
    MusicPlayer player_;
};

}  // namespace tollvane
