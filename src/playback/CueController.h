#pragma once

// The cue player: plays the selected cue's compiled sequence in step with
// timecode. It follows the front document's selected cue, keeps a player
// made for that cue (always a fresh one at the start while idle), starts it
// at the right position when timecode runs and stops it when timecode stops.
// The sync controller and the transport drive it.
//
// One shared instance for the program (sharedCueController); tests make
// their own.
//
// Threads: the sync thread calls playFromTimecode, isPlaying, selectedCue
// and player() holding lock(); everything else runs on the main thread.
// Replacing and using the player happen under lock() (recursive). Nothing
// here is real-time safe.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/HostClock.h"
#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace tollvane {

class Cue;
class Document;
class DocumentController;
class EMTimecode;
class FFMusicPlayer;
class SyncController;

class CueController : public KeyValueObservable {
public:
    // Makes the player for a cue; by default the cue's
    // newPlayerWithVisualEventsShifted. Tests hand out stepped players.
    using PlayerFactory = std::function<std::unique_ptr<FFMusicPlayer>(Cue& cue)>;

    // The program's cue player, made on first use and following the shared
    // document controller.
    static CueController& sharedCueController();

    // A cue player on `clock`, following `documentController` (none: it
    // follows nothing until setSelectedCue). Observes the sequence-change
    // notification and the count-off and latency defaults.
    explicit CueController(DocumentController* documentController = nullptr,
                           const HostClock& clock = HostClock::shared());
    ~CueController() override;
    CueController(const CueController&) = delete;
    CueController& operator=(const CueController&) = delete;

    void setPlayerFactory(PlayerFactory factory);

    // Clears playing; with `updatePlayer`, replaces the player by a fresh
    // one for the selected cue (stopped); marks the pump primed. Logs "cue
    // priming pump" when "debugSync" is above 0.
    void primeThePump() { primeThePumpUpdatingPlayer(true); }
    void primeThePumpUpdatingPlayer(bool updatePlayer);

    // Starts the player at `timecode`, which was current at `hostTime`,
    // plus the time since and the video latency compensation.
    void playFromTimecode(const EMTimecode& timecode, uint64_t hostTime);
    // Idle at that timecode already: nothing. Otherwise stop and remember it.
    void pauseAtTimecode(const EMTimecode& timecode);
    // Pauses at the sender's currentTimecode.
    void pause(const SyncController& sender);
    // Stops the player and primes a fresh one.
    void stop();

    std::shared_ptr<Cue> selectedCue() const;
    // Observes the cue's sync timecode (a change posts
    // "TLCueOrderDidChangeNotification"), takes its display text and, when
    // idle, pauses at 00:00:00:00 (29.97 non-drop). Announces "selectedCue".
    void setSelectedCue(std::shared_ptr<Cue> cue);
    // Takes the observed document's selected cue and primes the pump.
    void updateSelectedCue();
    // Follows the document controller's front document.
    void updateSelectedDocument();
    // On "TLCueSequenceDidChangeNotification": a fresh player when idle.
    void sequenceDidChange();
    // A count-off default changed: the selected cue rebuilds.
    void updateCountoffPrefs();
    // "latencyCompensation" changed: stop.
    void updateLatencyCompensation();

    // Any thread.
    bool isPlaying() const { return playing_.load(std::memory_order_acquire); }
    bool pumpPrimed() const { return pumpPrimed_.load(std::memory_order_acquire); }
    bool timecodeBeingReceived() const { return timecodeBeingReceived_.load(std::memory_order_acquire); }
    // The player for the selected cue, or null; use it holding lock().
    FFMusicPlayer* player() const;
    std::recursive_mutex& lock() const { return lock_; }
    std::shared_ptr<EMTimecode> lastReceivedTimecode() const;

    // The selected cue's display text, observable as "displayText".
    std::string displayText() const;
    void setDisplayText(const std::string& text);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    mutable std::recursive_mutex lock_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> pumpPrimed_{false};
    std::atomic<bool> timecodeBeingReceived_{false};
};

}  // namespace tollvane
