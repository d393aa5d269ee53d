#pragma once

// The transport: the selected cue's rehearsal settings (playback start,
// warning clicks and their note length, click mute, warning-click punches),
// kept in a standard and a pickup slot and passed to the cue on every change,
// which rebuilds its sequence; after a change the position parks just before
// the cue's rehearsal start. Rehearsals start and stop here, through the
// sync controller.
//
// One shared instance for the program (sharedTransportController); tests
// make their own on their own cue and sync controllers.
//
// Observed keys: "playbackStartTimeStamp", "playbackStartPrerollShiftedBeats",
// "warningBeats", "warningBeatNoteDuration", "clickMuteSetting",
// "warningBeatPunchesEnabled", "warningBeatTimes", "rehearsalActive",
// "pickupActive", "processingAutoFollow".
//
// Threads: main thread, except that the streamer view's counter reads
// warningBeats, warningBeatNoteDuration and warningBeatDurationMatching from
// its display thread: atomics, and for the last the cue player's lock taken
// briefly and the cue's published map. Not real-time safe.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"

namespace tollvane {

class Cue;
class CueController;
class EMTimecode;
class SyncController;

class TransportController : public KeyValueObservable {
public:
    static constexpr const char* kPlaybackStartTimeStampDidChangeNotification =
        "TLPlaybackStartTimeStampDidChangeNotification";
    static constexpr const char* kWarningClicksDidChangeNotification = "TLWarningClicksDidChangeNotification";
    static constexpr const char* kWarningClickNoteDurationDidChangeNotification =
        "TLWarningClickNoteDurationDidChangeNotification";
    static constexpr const char* kClickMuteSettingDidChangeNotification =
        "TLClickMuteSettingDidChangeNotification";
    static constexpr const char* kWarningBeatPunchesEnabledDidChangeNotification =
        "TLWarningBeatPunchesEnabledDidChangeNotification";
    static constexpr const char* kRehearsalFlagDidChangeNotification = "TLRehearsalFlagDidChangeNotification";
    static constexpr const char* kPickupActiveDidChangeNotification = "TransportPickupActiveDidChange";
    // Seconds before the rehearsal start at which the position parks.
    static constexpr double kParkingLead = 0.2;

    // One slot of settings.
    struct TransportState {
        bool valid = false;
        double playbackStartTimeStamp = 0.0;
        uint32_t warningBeats = 4;
        int32_t warningBeatNoteDuration = 6;
        uint32_t clickMuteSetting = 0;
        bool warningBeatPunchesEnabled = false;

        friend bool operator==(const TransportState&, const TransportState&) = default;
    };

    // The program's transport, on the shared cue and sync controllers.
    static TransportController& sharedTransportController();

    // Observes the rehearsal flag notification and the cue player's
    // "selectedCue" (a new selection loads its settings).
    TransportController(CueController& cueController, SyncController& syncController);
    ~TransportController() override;
    TransportController(const TransportController&) = delete;
    TransportController& operator=(const TransportController&) = delete;

    CueController& cueController() const { return cueController_; }
    SyncController& syncController() const { return syncController_; }

    // The five settings; each setter runs the whole setting protocol.
    double playbackStartTimeStamp() const { return playbackStartTimeStamp_.load(std::memory_order_acquire); }
    void setPlaybackStartTimeStamp(double timeStamp);
    // The playback start plus the 128-beat pre-roll.
    double playbackStartPrerollShiftedBeats() const;
    void setPlaybackStartPrerollShiftedBeats(double beats);
    uint32_t warningBeats() const { return warningBeats_.load(std::memory_order_acquire); }
    void setWarningBeats(uint32_t beats);
    int32_t warningBeatNoteDuration() const {
        return warningBeatNoteDuration_.load(std::memory_order_acquire);
    }
    void setWarningBeatNoteDuration(int32_t code);
    uint32_t clickMuteSetting() const { return clickMuteSetting_.load(std::memory_order_acquire); }
    void setClickMuteSetting(uint32_t setting);
    bool warningBeatPunchesEnabled() const {
        return warningBeatPunchesEnabled_.load(std::memory_order_acquire);
    }
    void setWarningBeatPunchesEnabled(bool enabled);

    // Beats of one warning click. The code for "same as the click" takes the
    // selected cue's click at the playback start (1 beat without a cue).
    double warningBeatDurationMatching() const;
    // Where the sync controller stands, as a time stamp of the selected cue
    // (0 without a cue or a current timecode).
    double currentTimeStamp() const;

    // Loads the five settings from the newly selected cue, saves them into
    // the standard slot (the pickup slot becomes invalid) and parks. Runs
    // whenever the cue player selects another cue.
    void updateTransportSettingsFromSelectedCue();

    // Mirrors the sync controller.
    bool rehearsalActive() const;
    void setRehearsalActive(bool active);
    void toggleRehearsal();
    // The space bar: pause while rehearsing, else rehearse from where the
    // position stands.
    void pauseOrResumeRehearsal();

    bool pickupActive() const { return pickupActive_; }
    // A change applies the now active slot's settings.
    void setPickupActive(bool active);
    const TransportState& standardState() const { return standardState_; }
    const TransportState& pickupState() const { return pickupState_; }

    bool transportBeingUpdated() const { return transportBeingUpdated_; }
    bool processingAutoFollow() const { return processingAutoFollow_; }
    void setProcessingAutoFollow(bool processing);

private:
    // Steps 1-8 of the setting protocol around `store` and `toCue`.
    template <typename Store, typename ToCue>
    void applySetting(const char* key, const char* notification, bool reportsWarningBeatTimes, bool parks,
                      Store store, ToCue toCue);
    TransportState currentSettings() const;
    void applySettings(const TransportState& state);
    void saveState();
    void restoreState();
    void parkAtRehearsalStart();
    // Parks now and once more when the selected cue's pending rebuild has
    // moved its rehearsal start.
    void parkAfterBulkUpdate();
    void waitForRebuild(const std::shared_ptr<Cue>& cue);
    void stopWaitingForRebuild();
    void rehearsalFlagDidChange();
    // The selected cue's rehearsal start less the parking lead, or null.
    std::shared_ptr<EMTimecode> rehearsalParkingTimecode() const;

    CueController& cueController_;
    SyncController& syncController_;
    std::atomic<double> playbackStartTimeStamp_{0.0};
    std::atomic<uint32_t> warningBeats_{4};
    std::atomic<int32_t> warningBeatNoteDuration_{6};
    std::atomic<uint32_t> clickMuteSetting_{0};
    std::atomic<bool> warningBeatPunchesEnabled_{false};
    bool transportBeingUpdated_ = false;
    bool processingAutoFollow_ = false;
    TransportState standardState_;
    TransportState pickupState_;
    bool pickupActive_ = false;
    // A setting that parks was applied during a bulk update.
    bool parkWanted_ = false;
    std::weak_ptr<Cue> rebuildCue_;
    KeyValueObservable::ObserverToken rebuildToken_ = 0;
    NotificationCenter::ObserverToken rehearsalObserver_ = 0;
    KeyValueObservable::ObserverToken selectedCueObserver_ = 0;
    // Cleared by the destructor, for work posted from other threads.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tollvane
