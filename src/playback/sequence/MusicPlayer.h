#pragma once

// The player of the sequence service: a clock in beats, anchored to host
// time, that hands every user event it passes to the sequence's user
// callback.
//
// Position: while playing, the beat at host time h is found from the anchor
// (the host time and beat at which playing last started, moved or changed
// rate): seconds(anchorBeat) + (h - anchorHost) * rate, converted back to
// beats through the sequence's tempo map and playback rate.
//
// Delivery: deliverUntil(h) takes the slice [last beat delivered, beat at h),
// and calls the user callback for each user event of every track whose time
// falls in it, in time order (equal times: track order, then the order in
// which they were added), with the slice's start and end beats. The slice
// start then moves to its end, so an event on a slice boundary is delivered
// once, by the slice that starts there. setTime() resets the slice start, so
// moving back delivers the events from the new position on again.
//
// Threads: with Delivery::ownThread the player has a thread that sleeps
// until the next user event falls due (a timed wait on the monotonic clock)
// and then calls deliverUntil(); it is woken at once by start(), stop(),
// setTime(), setPlayRateScalar() and setSequence(), and looks for edits of the
// sequence at least every 10 ms while playing. It asks for real-time
// (SCHED_FIFO) priority below that of audio threads and runs at normal
// priority when the system refuses. With Delivery::stepped there is no
// thread and the owner calls deliverUntil() (tests, offline use).
//
// Every member may be called from any thread; none is real-time safe. The
// user callback is never called with the player's lock held; it may call the
// player's getters, setTime() and stop() (a stop or move from inside the
// callback ends delivery of the rest of the slice) and may destroy the
// player. stop(), setTime(), setSequence() and the destructor wait for a call
// of the callback in progress on another thread to return, so no event of the
// old position is delivered once they have returned; the callback must
// therefore not wait for a thread that may be stopping or destroying its
// player.

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/HostClock.h"

namespace tollvane {

class MusicSequence;

// Status codes of the player (0 is success; the store's codes are in MusicSequence.h).
constexpr int kMusicPlayerNoErr = 0;
constexpr int kMusicPlayerError_InvalidArgument = -20;  // a time or rate that is not usable
constexpr int kMusicPlayerError_NoSequence = -21;       // the operation needs a sequence
constexpr int kMusicPlayerError_NotPlaying = -22;       // host times exist only while playing

class MusicPlayer {
public:
    enum class Delivery { ownThread, stepped };

    // The clock must outlive the player.
    explicit MusicPlayer(const HostClock& clock = HostClock::shared(),
                         Delivery delivery = Delivery::ownThread);
    // Stops (waiting for a delivery in progress) and ends the thread. May be
    // called from inside the user callback; the thread then ends by itself.
    ~MusicPlayer();
    MusicPlayer(const MusicPlayer&) = delete;
    MusicPlayer& operator=(const MusicPlayer&) = delete;

    // Stops playing and moves to beat 0. The player keeps the sequence alive.
    int setSequence(std::shared_ptr<MusicSequence> sequence);
    std::shared_ptr<MusicSequence> sequence() const;

    // Starts from the current position (kMusicPlayerError_NoSequence without
    // a sequence); starting while playing does nothing.
    int start();
    // Stops at the current position; stopping a stopped player does nothing.
    int stop();
    bool isPlaying() const;
    // Nothing to prepare; kMusicPlayerError_NoSequence without a sequence.
    int preroll();

    // The position in beats (the beat at the host clock's now while playing).
    int getTime(double& beats) const;
    // Moves to a beat (finite; kMusicPlayerError_InvalidArgument otherwise).
    // While playing, playing continues from there at once.
    int setTime(double beats);

    // The play-rate scalar: 2 plays twice as fast. Must be finite and above 0.
    int getPlayRateScalar(double& rate) const;
    int setPlayRateScalar(double rate);

    // Host time <-> beats on the running clock; kMusicPlayerError_NotPlaying
    // while stopped.
    int getHostTimeForBeats(double beats, uint64_t& hostTime) const;
    int getBeatsForHostTime(uint64_t hostTime, double& beats) const;

    // Delivers the user events passed by host time `hostTime` (see above) and
    // answers how many it delivered. Nothing while stopped. Calls from
    // several threads are taken one after another, each with its own slice.
    // A call from inside the user callback does nothing.
    size_t deliverUntil(uint64_t hostTime);

    // The host time at which the next undelivered user event falls due;
    // false while stopped or when no user event lies ahead.
    bool nextEventHostTime(uint64_t& hostTime) const;

private:
    class Core;

    std::shared_ptr<Core> core_;  // shared with the thread, which may outlive the player
    std::thread thread_;          // made with the player, parked while stopped
};

}  // namespace tollvane
