#pragma once

// Where the program is in time. Holds the current timecode, whether time
// runs ("playing") and whether the run is a rehearsal. A received timecode
// is anchored to a host time and extrapolated from there. While time runs a
// sync thread wakes every 50 ms to keep the movie and the selected cue's
// player in step and to schedule audio clicks (on the click scheduler) and
// visual clicks (punches, on the application) ahead of time, with latency
// compensation.
//
// One shared instance for the program (sharedInstance); tests make their
// own and drive passes by hand on virtual time.
//
// Threads and locks:
// - setCurrentTimecode, rehearseFromTimecode, the pauses and nudgeByFrames:
//   main thread. They hold syncMutex() (recursive) throughout.
// - The sync thread holds syncMutex() for each whole pass, then the cue
//   player's lock for the cue step, and the movie player's consumerLock only
//   around its time and gotoBeginning. Lock order: syncMutex, then either of
//   those.
// - isPlaying, rehearsalActive, currentTimecode, timecodeAtHostTime,
//   cueTimeAtHostTime: any thread, without waiting for syncMutex; the anchor
//   (timecode, host time, rate) is published whole, so a display thread sees
//   the old anchor or the new one, never a mixture.
// - The latency values and videoSyncTime: any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/HostClock.h"

namespace tollvane {

class ClickScheduler;
class CueController;
class DocumentController;
class EMTimecode;
class MoviePlayer;

class SyncController {
public:
    // How the sync thread waits between passes; tests pass one that returns
    // at once.
    using Sleeper = std::function<void(double seconds)>;

    // The program's sync controller: made on first use, on the shared cue
    // controller and document controller, a null movie player and a null
    // click scheduler until the application sets its own.
    static SyncController& sharedInstance();

    explicit SyncController(const HostClock& clock = HostClock::shared());
    // Ends the sync thread (waiting for it) before the controller goes.
    ~SyncController();
    SyncController(const SyncController&) = delete;
    SyncController& operator=(const SyncController&) = delete;

    // Collaborators (main thread, before time runs; not owned, must outlive
    // the controller or be replaced first). Null restores the null stand-in
    // (no cue controller: the cue step does nothing).
    MoviePlayer* reelController() const;
    void setReelController(MoviePlayer* player);
    CueController* cueController() const;
    void setCueController(CueController* controller);
    ClickScheduler* audioController() const;
    void setAudioController(ClickScheduler* scheduler);
    // The document whose reels are selected by timecode: the front document
    // of this controller (null: none).
    void setDocumentController(DocumentController* controller);

    // Whether a start creates the real sync thread (default yes). Off, tests
    // call runSyncPass themselves.
    void setSyncThreadEnabled(bool enabled);
    void setSleeper(Sleeper sleeper);
    bool hasSyncThread() const;

    std::recursive_mutex& syncMutex() const { return syncMutex_; }

    bool isPlaying() const;
    bool rehearsalActive() const;

    // Extrapolated from the anchor at the current host time / at `hostTime`.
    std::shared_ptr<EMTimecode> currentTimecode() const;
    std::shared_ptr<EMTimecode> timecodeAtHostTime(uint64_t hostTime) const;
    // Seconds into the selected cue's sequence at `hostTime`.
    double cueTimeAtHostTime(uint64_t hostTime) const;
    // Host time at which `seconds` after the cue's sync point is reached.
    uint64_t hostTimeAtCueTime(double seconds) const;
    // Host time of a pre-roll-shifted position; 0 without a selected cue.
    uint64_t hostTimeAtPrerollShiftedBeats(double beats) const;

    // The chase state machine.
    void setCurrentTimecode(const EMTimecode& timecode, bool playing, uint64_t hostTime);
    void setCurrentTimecode(const EMTimecode& timecode, bool playing);
    void rehearseFromTimecode(const EMTimecode& timecode);
    // Stops at the last timecode handed in.
    void pause();
    void pauseAtTimecode(const EMTimecode& timecode);
    void pauseAtPrerollShiftedBeats(double beats);
    void pauseAtRehearsalStart();
    // Stopped: moves the last timecode handed in by `frames` and stops there.
    // Ignored while playing.
    void nudgeByFrames(int32_t frames);

    // Seconds; bound to "latencyCompensationAudio" and "latencyCompensation".
    double audioLatencyCompensation() const;
    void setAudioLatencyCompensation(double seconds);
    double videoLatencyCompensation() const;
    void setVideoLatencyCompensation(double seconds);
    // Smoothed movie offset (movie time minus expected), for the sync status.
    double videoSyncTime() const;
    void setVideoSyncTime(double seconds);

    // One pass of the sync thread at the clock's now. Answers false, having
    // cleared the thread registration, when time no longer runs.
    bool runSyncPass();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    mutable std::recursive_mutex syncMutex_;
};

}  // namespace tollvane
