#include "playback/TransportController.h"

#include <variant>

#include "model/ClickPattern.h"
#include "model/Cue.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/CueController.h"
#include "playback/SyncController.h"
#include "timebase/EMTimecode.h"
#include "timebase/NoteDuration.h"

namespace tollvane {

namespace {

constexpr const char* kTransportAutoRewindKey = "transportAutoRewind";

}  // namespace

TransportController& TransportController::sharedTransportController() {
    static TransportController instance(CueController::sharedCueController(),
                                        SyncController::sharedInstance());
    return instance;
}

TransportController::TransportController(CueController& cueController, SyncController& syncController)
    : cueController_(cueController), syncController_(syncController) {
    rehearsalObserver_ = NotificationCenter::defaultCenter().addObserver(
        kRehearsalFlagDidChangeNotification, [this](const Notification&) {
            // Observers of a key hear it on the main thread.
            RunLoop* loop = RunLoop::mainIfInstalled();
            if (loop && !loop->isMainThread()) {
                loop->post([this, alive = alive_]() {
                    if (*alive) rehearsalFlagDidChange();
                });
                return;
            }
            rehearsalFlagDidChange();
        });
    selectedCueObserver_ = cueController_.addKeyObserver([this](std::string_view key) {
        if (key == "selectedCue") updateTransportSettingsFromSelectedCue();
    });
}

TransportController::~TransportController() {
    *alive_ = false;
    NotificationCenter::defaultCenter().removeObserver(rehearsalObserver_);
    cueController_.removeKeyObserver(selectedCueObserver_);
    stopWaitingForRebuild();
}

// --- The setting protocol ---------------------------------------------------

template <typename Store, typename ToCue>
void TransportController::applySetting(const char* key, const char* notification,
                                       bool reportsWarningBeatTimes, bool parks, Store store, ToCue toCue) {
    const bool playbackStart = key == std::string_view("playbackStartTimeStamp");
    willChangeValueForKey(key);
    if (playbackStart) willChangeValueForKey("playbackStartPrerollShiftedBeats");
    if (reportsWarningBeatTimes) willChangeValueForKey("warningBeatTimes");

    store();
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    if (cue) toCue(*cue);
    if (playbackStart) {
        didChangeValueForKey(key);
        didChangeValueForKey("playbackStartPrerollShiftedBeats");
    }

    NotificationCenter::defaultCenter().postNotificationName(notification, this);
    // The map before the rebuild request: when it is still there at parking
    // time, the rebuild is pending and the rehearsal start not yet moved.
    const std::shared_ptr<const CueTimingMap> mapBefore = cue ? cue->timingMap() : nullptr;
    if (cue) cue->updateSequence();
    if (!transportBeingUpdated_) cueController_.updateSelectedCue();

    if (!playbackStart) didChangeValueForKey(key);
    if (reportsWarningBeatTimes) didChangeValueForKey("warningBeatTimes");
    saveState();

    if (!parks) return;
    if (transportBeingUpdated_) {
        // A bulk update parks once, at its end.
        parkWanted_ = true;
        return;
    }
    parkAtRehearsalStart();
    if (cue && cue == cueController_.selectedCue() && cue->timingMap() == mapBefore) waitForRebuild(cue);
}

void TransportController::setPlaybackStartTimeStamp(double timeStamp) {
    applySetting(
        "playbackStartTimeStamp", kPlaybackStartTimeStampDidChangeNotification, false, true,
        [&] { playbackStartTimeStamp_.store(timeStamp, std::memory_order_release); },
        [&](Cue& cue) { cue.setPlaybackStartTimeStamp(timeStamp); });
}

double TransportController::playbackStartPrerollShiftedBeats() const {
    return playbackStartTimeStamp() + Cue::kPrerollBeats;
}

void TransportController::setPlaybackStartPrerollShiftedBeats(double beats) {
    setPlaybackStartTimeStamp(beats - Cue::kPrerollBeats);
}

void TransportController::setWarningBeats(uint32_t beats) {
    applySetting(
        "warningBeats", kWarningClicksDidChangeNotification, true, true,
        [&] { warningBeats_.store(beats, std::memory_order_release); },
        [&](Cue& cue) { cue.setWarningBeats(beats); });
}

void TransportController::setWarningBeatNoteDuration(int32_t code) {
    applySetting(
        "warningBeatNoteDuration", kWarningClickNoteDurationDidChangeNotification, true, true,
        [&] { warningBeatNoteDuration_.store(code, std::memory_order_release); },
        [&](Cue& cue) { cue.setWarningBeatNoteDuration(code); });
}

void TransportController::setClickMuteSetting(uint32_t setting) {
    applySetting(
        "clickMuteSetting", kClickMuteSettingDidChangeNotification, true, false,
        [&] { clickMuteSetting_.store(setting, std::memory_order_release); },
        [&](Cue& cue) { cue.setClickMuteSetting(setting); });
}

void TransportController::setWarningBeatPunchesEnabled(bool enabled) {
    applySetting(
        "warningBeatPunchesEnabled", kWarningBeatPunchesEnabledDidChangeNotification, false, false,
        [&] { warningBeatPunchesEnabled_.store(enabled, std::memory_order_release); },
        [&](Cue& cue) { cue.setWarningBeatPunchesEnabled(enabled); });
}

// --- Derived values ---------------------------------------------------------

double TransportController::warningBeatDurationMatching() const {
    const int32_t code = warningBeatNoteDuration();
    if (code != NoteDuration::kSameAsClick) return NoteDuration::quarterNotes(code);
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    if (!cue) return 1.0;
    const CueTimingMap::ClickSetting setting =
        cue->clickSettingForPrerollShiftedBeats(playbackStartPrerollShiftedBeats());
    if (const auto* beats = std::get_if<double>(&setting)) return *beats;
    if (const auto* pattern = std::get_if<ClickPattern>(&setting)) return pattern->baseDuration;
    return 1.0;
}

double TransportController::currentTimeStamp() const {
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    const std::shared_ptr<EMTimecode> timecode = syncController_.currentTimecode();
    if (!cue || !timecode) return 0.0;
    return cue->prerollShiftedBeatsForTimecode(*timecode) - Cue::kPrerollBeats;
}

// --- Slots --------------------------------------------------------------------

TransportController::TransportState TransportController::currentSettings() const {
    TransportState state;
    state.valid = true;
    state.playbackStartTimeStamp = playbackStartTimeStamp();
    state.warningBeats = warningBeats();
    state.warningBeatNoteDuration = warningBeatNoteDuration();
    state.clickMuteSetting = clickMuteSetting();
    state.warningBeatPunchesEnabled = warningBeatPunchesEnabled();
    return state;
}

void TransportController::applySettings(const TransportState& state) {
    // `state` may be a slot that each setter's save rewrites: work from a copy.
    const TransportState settings = state;
    setPlaybackStartTimeStamp(settings.playbackStartTimeStamp);
    setWarningBeats(settings.warningBeats);
    setWarningBeatNoteDuration(settings.warningBeatNoteDuration);
    setClickMuteSetting(settings.clickMuteSetting);
    setWarningBeatPunchesEnabled(settings.warningBeatPunchesEnabled);
}

void TransportController::saveState() {
    if (pickupActive_) {
        pickupState_ = currentSettings();
        return;
    }
    standardState_ = currentSettings();
    if (!pickupState_.valid) pickupState_ = standardState_;
}

void TransportController::restoreState() {
    if (pickupActive_ && !pickupState_.valid && standardState_.valid) pickupState_ = standardState_;
    const TransportState slot = pickupActive_ ? pickupState_ : standardState_;
    if (!slot.valid) return;
    const bool wasBeingUpdated = transportBeingUpdated_;
    transportBeingUpdated_ = true;
    parkWanted_ = false;
    applySettings(slot);
    transportBeingUpdated_ = wasBeingUpdated;
    if (!transportBeingUpdated_ && std::exchange(parkWanted_, false)) parkAfterBulkUpdate();
}

void TransportController::setPickupActive(bool active) {
    if (active == pickupActive_) return;
    willChangeValueForKey("pickupActive");
    pickupActive_ = active;
    didChangeValueForKey("pickupActive");
    restoreState();
}

void TransportController::updateTransportSettingsFromSelectedCue() {
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    if (!cue) return;
    TransportState fromCue;
    fromCue.valid = true;
    fromCue.playbackStartTimeStamp = cue->playbackStartTimeStamp();
    fromCue.warningBeats = cue->warningBeats();
    fromCue.warningBeatNoteDuration = cue->warningBeatNoteDuration();
    fromCue.clickMuteSetting = cue->clickMuteSetting();
    fromCue.warningBeatPunchesEnabled = cue->warningBeatPunchesEnabled();

    const bool wasBeingUpdated = transportBeingUpdated_;
    transportBeingUpdated_ = true;
    applySettings(fromCue);
    transportBeingUpdated_ = wasBeingUpdated;
    parkWanted_ = false;

    // A new cue starts from its own settings in the standard slot, whichever
    // slot was active, and has no pickup yet.
    standardState_ = currentSettings();
    pickupState_.valid = false;
    parkAfterBulkUpdate();
}

void TransportController::setProcessingAutoFollow(bool processing) {
    willChangeValueForKey("processingAutoFollow");
    processingAutoFollow_ = processing;
    didChangeValueForKey("processingAutoFollow");
}

// --- Rehearsal and parking ------------------------------------------------------

bool TransportController::rehearsalActive() const {
    return syncController_.rehearsalActive();
}

void TransportController::rehearsalFlagDidChange() {
    willChangeValueForKey("rehearsalActive");
    didChangeValueForKey("rehearsalActive");
}

std::shared_ptr<EMTimecode> TransportController::rehearsalParkingTimecode() const {
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    if (!cue) return nullptr;
    const std::shared_ptr<EMTimecode> start = cue->rehearsalStartTimecode();
    if (!start) return nullptr;
    auto timecode = start->copy();
    timecode->subtractSeconds(kParkingLead);
    return timecode;
}

void TransportController::parkAtRehearsalStart() {
    // Following MTC: the position belongs to the incoming timecode.
    if (syncController_.isPlaying() && !syncController_.rehearsalActive()) return;
    if (processingAutoFollow_) return;
    if (const auto timecode = rehearsalParkingTimecode())
        syncController_.setCurrentTimecode(*timecode, false);
}

void TransportController::parkAfterBulkUpdate() {
    const std::shared_ptr<Cue> cue = cueController_.selectedCue();
    parkAtRehearsalStart();
    // The settings have just been handed to the cue: its rebuild, and with it
    // the rehearsal start, may still be pending.
    if (cue) waitForRebuild(cue);
}

void TransportController::waitForRebuild(const std::shared_ptr<Cue>& cue) {
    if (rebuildCue_.lock() == cue) return;
    stopWaitingForRebuild();
    rebuildCue_ = cue;
    rebuildToken_ = cue->addKeyObserver([this](std::string_view key) {
        if (key != "sequence") return;
        const std::shared_ptr<Cue> rebuilt = rebuildCue_.lock();
        stopWaitingForRebuild();
        if (rebuilt && rebuilt == cueController_.selectedCue()) parkAtRehearsalStart();
    });
}

void TransportController::stopWaitingForRebuild() {
    if (auto cue = rebuildCue_.lock()) cue->removeKeyObserver(rebuildToken_);
    rebuildCue_.reset();
    rebuildToken_ = 0;
}

void TransportController::setRehearsalActive(bool active) {
    stopWaitingForRebuild();
    if (active) {
        if (const auto timecode = rehearsalParkingTimecode()) syncController_.rehearseFromTimecode(*timecode);
        return;
    }
    if (UserDefaults::standardUserDefaults().boolForKey(kTransportAutoRewindKey)) {
        parkAtRehearsalStart();
        return;
    }
    if (const auto timecode = syncController_.currentTimecode()) syncController_.pauseAtTimecode(*timecode);
}

void TransportController::toggleRehearsal() {
    setRehearsalActive(!rehearsalActive());
}

void TransportController::pauseOrResumeRehearsal() {
    stopWaitingForRebuild();
    const std::shared_ptr<EMTimecode> timecode = syncController_.currentTimecode();
    if (!timecode) return;
    if (rehearsalActive()) {
        syncController_.pauseAtTimecode(*timecode);
    } else {
        syncController_.rehearseFromTimecode(*timecode);
    }
}

}  // namespace tollvane
